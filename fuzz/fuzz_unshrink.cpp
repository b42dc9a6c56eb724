// Fuzzes the unshrink decoder. The first bytes choose the uncompressed size, how the rest is
// split into input pieces and output areas, and where the state block starts; the rest is the
// member's data. Every piece, area and state block is a heap block of exactly its size, so any
// read or write past what a call is given shows under AddressSanitizer.
//
// Checked: every call keeps the protocol (0 only when all input is taken or the area is full),
// the stream always ends, its output never exceeds the uncompressed size, and the bytes decoded
// are the same as from one whole piece into one large area.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "chunked_decoder.h"
#include "unshrink.h"

namespace {

using qvfuzz::Split;

bool Decode(const uint8_t* stream, size_t size, uint32_t uncompressed, const Split& split,
            std::vector<uint8_t>& out) {
    const qvfuzz::Protocol protocol = {1, 0, uncompressed};
    std::unique_ptr<uint8_t[]> block(
        new uint8_t[qv::unshrink::UnshrinkStateSize() + split.misalign]);
    void* state = block.get() + split.misalign;
    qv::unshrink::UnshrinkInit(state, uncompressed);
    return qvfuzz::DecodeInPieces(
        stream, size, split, protocol,
        [&](const uint8_t* in, uint32_t offset, uint32_t* taken, uint8_t* area, uint32_t* written,
            bool last) {
            return qv::unshrink::Unshrink(in, offset, taken, area, 0, written, state, last ? 1 : 0);
        },
        out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    const uint32_t uncompressed = data[0] | data[1] << 8 | (data[2] & 0x01) << 16;  // < 128 KiB
    Split split;
    split.inPiece = 1 + ((data[3] | data[4] << 8) % 70000);
    split.outArea = 1 + ((data[5] | data[6] << 8) % 70000);
    split.misalign = data[7] & 7;
    if (data[7] & 0x80) split.inPiece = 1;  // byte at a time is worth more attention
    data += 8;
    size -= 8;

    std::vector<uint8_t> whole, pieces;
    const Split one = {static_cast<uint32_t>(size) + 1, 1u << 20, 0};
    if (!Decode(data, size, uncompressed, one, whole)) __builtin_trap();
    if (!Decode(data, size, uncompressed, split, pieces)) __builtin_trap();
    if (whole != pieces) __builtin_trap();
    return 0;
}
