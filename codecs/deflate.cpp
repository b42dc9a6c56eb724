// deflate.cpp - the deflate engine's exports, its chunk cycle and its life cycle.
//
// QvDeflate runs a state machine over the caller's blocks: fill a 4096-byte chunk of the
// window from the input, hash it, parse it into items, and write a block whenever 8192 items
// are pending. It returns 0 whenever it needs more input (a chunk is not full and the finish
// flag is clear) or more output space (the byte just written filled the space), and -1 once the
// final block is written and padded. The next call resumes exactly where the last one stopped.
#include "deflate.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "deflate_engine.h"
#include "qvarc32.h"

namespace qv {
namespace deflate {
namespace {

void ResetItems(Context& c) {
    c.flagAcc = kFlagStart;
    c.flagOffset = 0;
    c.itemOffset = kFlagBytes;
    c.countdown = kBlockItems;
    std::fill(std::begin(c.litFreq), std::end(c.litFreq), 0);
    std::fill(std::begin(c.distFreq), std::end(c.distFreq), 0);
}

// A new stream: the window is zeroed and every link emptied, so that compares which run past
// the valid input, and links that no insertion rewrites, never depend on what the blocks held
// before. The output is then a function of the input alone.
void StartStream(Engine& e) {
    std::memset(e.window, 0, kWindowRegion);
    std::memset(static_cast<void*>(e.links), 0xFF, kDeflateLinkSize);
    Context& c = *e.ctx;
    ResetItems(c);
    c.chunk = 0;
    c.chunkFill = 0;
    c.phase = Phase::Fill;
}

// Takes input into the current chunk. True when the chunk is ready to compress.
bool FillChunk(Engine& e) {
    Context& c = *e.ctx;
    const uint32_t take = std::min<uint32_t>(kChunkSize - c.chunkFill, e.inLeft);
    if (take > 0) {
        std::memcpy(e.window + c.chunk * kChunkSize + c.chunkFill, e.in, take);
        e.in += take;
        e.inLeft -= take;
        c.chunkFill = static_cast<uint16_t>(c.chunkFill + take);
    }
    return c.chunkFill == kChunkSize || e.finish;
}

void StartChunkParse(Engine& e) {
    Context& c = *e.ctx;
    const uint32_t base = c.chunk * kChunkSize;
    InsertChunk(e);
    // Compares that run past the end of the window continue with the stream's next bytes.
    if (c.chunk == 0) std::memcpy(e.window + kWindowSize, e.window, kCopySize);
    c.parsePos = static_cast<uint16_t>(base);
    c.parseLeft = c.chunkFill;
    c.held = 0;
}

void NextChunk(Engine& e) {
    Context& c = *e.ctx;
    c.chunk = static_cast<uint16_t>((c.chunk + 1) % kChunkCount);
    if (c.chunk == 0) c.wrapped = 1;
    c.chunkFill = 0;
    if (c.wrapped) ScrubChunk(e, c.chunk);
}

int32_t Run(Engine& e) {
    Context& c = *e.ctx;
    if (c.phase == Phase::Done) return -1;
    if (c.phase == Phase::Start) StartStream(e);
    if (!DrainBits(e)) return 0;
    for (;;) {
        switch (c.phase) {
            case Phase::Start:
            case Phase::Fill:
                if (!FillChunk(e)) return 0;  // suspended for input
                if (c.chunkFill == 0) {
                    c.phase = Phase::Finish;
                    break;
                }
                StartChunkParse(e);
                c.phase = Phase::Parse;
                [[fallthrough]];
            case Phase::Parse:
                if (!ParseChunk(e)) {
                    c.finalBlock = 0;
                    PrepareBlock(e);
                    c.afterBlock = Phase::Parse;
                    c.phase = Phase::WriteBlock;
                    break;
                }
                // A short chunk is made only when the finish flag came with the end of the
                // input, so it ends the stream even if a later call offers more.
                if (c.chunkFill < kChunkSize || (e.finish && e.inLeft == 0)) {
                    c.phase = Phase::Finish;
                    break;
                }
                NextChunk(e);
                c.phase = Phase::Fill;
                break;
            case Phase::Finish:
                if (c.flagAcc != kFlagStart) {
                    // Close the partial flag group: its k flags move down to bits 0..k-1.
                    const unsigned startBit = static_cast<unsigned>(__builtin_ctz(c.flagAcc));
                    const uint16_t word = static_cast<uint16_t>(c.flagAcc >> (startBit + 1));
                    e.items[c.flagOffset] = static_cast<uint8_t>(word);
                    e.items[c.flagOffset + 1] = static_cast<uint8_t>(word >> 8);
                    c.flagOffset = static_cast<uint16_t>(c.flagOffset + 2);
                    c.countdown = static_cast<uint16_t>(c.countdown - (15 - startBit));
                    c.flagAcc = kFlagStart;
                }
                c.finalBlock = 1;
                PrepareBlock(e);
                c.afterBlock = Phase::Pad;
                c.phase = Phase::WriteBlock;
                break;
            case Phase::WriteBlock:
                if (!WriteBlock(e)) return 0;  // suspended for output
                ResetItems(c);
                c.phase = c.afterBlock;
                break;
            case Phase::Pad:
                // The last byte is completed with zero bits.
                if (c.bitCount % 8 != 0) c.bitCount += 8 - c.bitCount % 8;
                c.phase = Phase::Done;
                if (!DrainBits(e)) return 0;
                return -1;
            case Phase::Done:
                return -1;
        }
    }
}

}  // namespace
}  // namespace deflate

ResultCode AllocDeflateBuffers(uint16_t level, DeflateBuffers& buffers,
                               DeflateBlockAllocator allocate) {
    buffers.state = buffers.links = buffers.items = nullptr;
    if (level == 0) return QV_OK;
    if (level > 4) return QV_E_METHOD;
    if (allocate == nullptr) {
        allocate = [](size_t size) {
            return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size]);
        };
    }
    uint32_t sizes[3];
    QvDeflateBufSize(&sizes[0], &sizes[1], &sizes[2]);
    std::unique_ptr<uint8_t[]>* owners[3] = {&buffers.stateBlock, &buffers.linkBlock,
                                             &buffers.itemBlock};
    void** addresses[3] = {&buffers.state, &buffers.links, &buffers.items};
    for (int i = 0; i < 3; ++i) {
        *owners[i] = allocate(sizes[i]);
        if (!*owners[i]) return QV_E_MEMORY;
        *addresses[i] = owners[i]->get();
    }
    QvDeflateInit(buffers.state, buffers.links, buffers.items);
    return QV_OK;
}

}  // namespace qv

using namespace qv::deflate;

QV_API void QV_CALL QvDeflateBufSize(uint32_t* stateSize, uint32_t* linkSize, uint32_t* itemSize) {
    *stateSize = qv::kDeflateStateSize;
    *linkSize = qv::kDeflateLinkSize;
    *itemSize = qv::kDeflateItemSize;
}

QV_API void QV_CALL QvDeflateInit(void* state, void* /*links*/, void* /*items*/) {
    uint8_t* aligned = AlignedState(state);
    // Everything after the window: the heads start empty, the rest at zero.
    auto* heads = reinterpret_cast<uint16_t*>(aligned + kHeadsOffset);
    std::fill(heads, heads + kHashSize, kEmpty);
    uint8_t* rest = aligned + kContextOffset;
    std::memset(rest, 0, static_cast<uint8_t*>(state) + qv::kDeflateStateSize - rest);
}

QV_API int32_t QV_CALL QvDeflate(uint32_t chainLimit, uint32_t dynamicTrees, const uint8_t* inBase,
                                 uint32_t inOffset, uint32_t* inCount, uint8_t* outBase,
                                 uint32_t outOffset, uint32_t* outCount, uint32_t finish,
                                 void* state, void* links, void* items) {
    uint8_t* aligned = AlignedState(state);
    Engine e;
    e.ctx = reinterpret_cast<Context*>(aligned + kContextOffset);
    e.window = aligned;
    e.heads = reinterpret_cast<uint16_t*>(aligned + kHeadsOffset);
    e.links = static_cast<LinkEntry*>(links);
    e.items = static_cast<uint8_t*>(items);
    // 16-bit arguments: only the low half of each slot counts.
    const uint16_t limit = static_cast<uint16_t>(chainLimit);
    e.chainLimit = limit < 8 ? kMinChainLimit : std::min(limit, kMaxChainLimit);
    e.dynamic = static_cast<uint16_t>(dynamicTrees) != 0;
    e.finish = static_cast<uint16_t>(finish) != 0;
    e.in = inBase + inOffset;
    e.inLeft = *inCount;
    e.out = outBase + outOffset;
    e.outLeft = *outCount;
    const uint32_t offered = e.inLeft;
    const uint32_t space = e.outLeft;
    const int32_t result = Run(e);
    *inCount = offered - e.inLeft;
    *outCount = space - e.outLeft;
    return result;
}
