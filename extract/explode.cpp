// explode.cpp - the imploded-member decoder: tree descriptions, Shannon-Fano tree building and
// the resumable decoding loop.
#include "explode.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "legacy_call.h"
#include "lsb_bit_reader.h"

namespace qv::explode {
namespace {

constexpr uint32_t kWindowSize = 8192;  // the larger dictionary (the 4 KB one needs half)

// Tree entries: empty, an internal node (the even index of its pair of entries), or a leaf.
constexpr uint16_t kEmpty = 0xFFFF;
constexpr uint16_t kLeaf = 0x8000;

constexpr uint32_t kLiteralSymbols = 256;
constexpr uint32_t kSmallSymbols = 64;  // length and distance trees
// A prefix code of n symbols has at most n - 1 internal nodes, two entries each.
constexpr uint32_t kLiteralEntries = 2 * kLiteralSymbols;
constexpr uint32_t kSmallEntries = 2 * kSmallSymbols;

// While the descriptions are read, the window holds their code lengths at these offsets.
constexpr uint32_t kLiteralLengths = 0;
constexpr uint32_t kLengthLengths = kLiteralSymbols;
constexpr uint32_t kDistanceLengths = kLiteralSymbols + kSmallSymbols;

// A length code of 63 is followed by a byte that is added to the length.
constexpr uint32_t kLongLengthSymbol = 63;

constexpr uint8_t kTag = 0x6D;  // set by ExplodeInit

enum Phase : uint8_t {
    kDescriptions,  // reading the tree descriptions
    kFlag,          // next: the bit that tells a literal from a copy
    kLiteral,       // 8 raw bits, or a walk of the literal tree
    kDistanceLow,   // the distance's low 6 or 7 raw bits
    kDistanceHigh,  // a walk of the distance tree for its high 6 bits
    kLength,        // a walk of the length tree
    kLengthExtra,   // the byte added to the longest length code
    kCopy,          // copying a match
    kDone,          // ended: complete or damaged
};

struct ExplodeState {
    // The last 8192 bytes delivered by earlier calls (zeros at the start), a ring whose oldest
    // byte is at windowEnd.
    uint8_t window[kWindowSize];
    uint16_t literalTree[kLiteralEntries];
    uint16_t lengthTree[kSmallEntries];
    uint16_t distanceTree[kSmallEntries];
    uint32_t bitBuffer;        // unused bits of the bytes taken, next bit lowest
    uint16_t node;             // a tree walk in progress: the node reached
    uint16_t distance;         // the match being decoded or copied (1 to 8192)
    uint16_t copyLeft;         // the match's bytes still to copy (up to 321)
    uint16_t lengthsFilled;    // symbols described so far by the description being read
    uint16_t descriptionLeft;  // its bytes still to read; 0 before its first byte
    uint16_t windowEnd;        // where the window's next byte goes
    uint8_t bitCount;          // bits in bitBuffer (at most 15)
    uint8_t phase;             // a Phase
    uint8_t description;       // which description is being read
    uint8_t threeTrees;        // literals coded; also the minimum match's excess over 2
    uint8_t distanceLowBits;   // 6 for the 4 KB dictionary, 7 for the 8 KB one
    uint8_t tag;
};

static_assert(sizeof(ExplodeState) + alignof(ExplodeState) - 1 <= kExplodeStateSize,
              "the state must fit the caller's block at any start address");

ExplodeState* StateIn(void* block) {
    const auto at = reinterpret_cast<uintptr_t>(block);
    const uintptr_t aligned = (at + alignof(ExplodeState) - 1) & ~(alignof(ExplodeState) - 1);
    return reinterpret_cast<ExplodeState*>(aligned);
}

// Builds a tree from the code lengths of `count` symbols (1 to 16 each). Codes are given in
// order of decreasing length, ties by decreasing symbol: the first is 0 and each next one the
// previous plus 2^(16 - the previous one's length), all left-aligned in 16 bits. A code is
// walked from its most significant bit, which the stream sends first. False when the lengths
// over-subscribe the code space or need more than count - 1 nodes, which any incomplete code
// does: the description is damaged. Every tree built is thus a complete prefix code.
bool ExplodeBuildTree(const uint8_t* lengths, uint32_t count, uint16_t* tree) {
    // Symbols sorted by length, ties by symbol (a counting sort keeps symbol order).
    uint8_t sorted[kLiteralSymbols];
    uint32_t start[18] = {};
    for (uint32_t sym = 0; sym < count; ++sym) ++start[lengths[sym] + 1];
    for (uint32_t len = 1; len < 18; ++len) start[len] += start[len - 1];
    for (uint32_t sym = 0; sym < count; ++sym)
        sorted[start[lengths[sym]]++] = static_cast<uint8_t>(sym);

    std::fill(tree, tree + 2 * count, kEmpty);
    const uint32_t maxNodes = count - 1;
    uint32_t nodes = 1;  // the root, at index 0
    uint32_t code = 0;
    for (uint32_t i = count; i-- > 0;) {
        const uint32_t sym = sorted[i];
        const uint32_t len = lengths[sym];
        if (code > 0xFFFF) return false;  // the code space is over-subscribed
        uint32_t node = 0;
        for (uint32_t bit = 0; bit + 1 < len; ++bit) {
            uint16_t& entry = tree[node + ((code >> (15 - bit)) & 1)];
            if (entry == kEmpty) {
                if (nodes == maxNodes) return false;
                entry = static_cast<uint16_t>(2 * nodes++);
            } else if ((entry & kLeaf) != 0) {
                return false;  // another code ends on this code's path
            }
            node = entry;
        }
        uint16_t& leaf = tree[node + ((code >> (16 - len)) & 1)];
        if (leaf != kEmpty) return false;  // this code is a prefix of another
        leaf = static_cast<uint16_t>(kLeaf | sym);
        code += 1u << (16 - len);
    }
    return code <= 0x10000;
}

// One call's work: the areas, the bit reader over the input, and the saved state.
class Decoder {
public:
    Decoder(ExplodeState& s, const uint8_t* in, const uint8_t* inEnd, uint8_t* out, uint8_t* outEnd,
            bool final)
        : s_(s), r_{in, inEnd, s.bitBuffer, s.bitCount}, outStart_(out), out_(out), final_(final) {
        // Three bytes of the area are never written.
        outLimit_ = outEnd - out >= 3 ? outEnd - 3 : out;
    }

    // Runs until the input or output stops the stream, or it ends. Returns the call's result.
    int32_t Run();

    const uint8_t* in() const { return r_.in; }
    uint8_t* out() const { return out_; }

private:
    enum class Step { kGo, kStop, kEnd };

    bool Need(uint32_t n) { return r_.Need(n); }
    uint32_t Take(uint32_t n) { return r_.Take(n); }

    // Input used up: the stream ends when the caller says no more follows, else it waits.
    Step OutOfInput() const { return final_ ? Step::kEnd : Step::kStop; }

    Step Descriptions();
    Step Walk(const uint16_t* tree, uint32_t& symbol);
    Step Copy();
    void Save();

    ExplodeState& s_;
    LsbBitReader r_;  // the input and the bits taken from it
    uint8_t* outStart_;
    uint8_t* out_;
    uint8_t* outLimit_;
    bool final_;
};

// Reads the descriptions byte by byte into code lengths, then builds the trees. Each description
// is a byte n, then n + 1 bytes: high 4 bits + 1 symbols, each of length low 4 bits + 1, for
// consecutive symbols from 0. With three trees the literal tree comes first, then lengths, then
// distances.
Decoder::Step Decoder::Descriptions() {
    const uint32_t total = s_.threeTrees ? 3 : 2;
    while (s_.description < total) {
        const uint32_t which = s_.threeTrees ? s_.description : s_.description + 1u;
        const uint32_t count = which == 0 ? kLiteralSymbols : kSmallSymbols;
        uint8_t* lengths = s_.window + (which == 0   ? kLiteralLengths
                                        : which == 1 ? kLengthLengths
                                                     : kDistanceLengths);
        if (r_.in == r_.end) return OutOfInput();
        const uint8_t byte = *r_.in++;
        if (s_.descriptionLeft == 0) {
            s_.descriptionLeft = static_cast<uint16_t>(byte + 1);
            continue;
        }
        const uint32_t run = (byte >> 4) + 1u;
        if (s_.lengthsFilled + run > count) return Step::kEnd;  // more symbols than the tree has
        std::memset(lengths + s_.lengthsFilled, (byte & 0x0F) + 1, run);
        s_.lengthsFilled = static_cast<uint16_t>(s_.lengthsFilled + run);
        if (--s_.descriptionLeft == 0) {
            if (s_.lengthsFilled != count) return Step::kEnd;  // fewer symbols than the tree has
            s_.lengthsFilled = 0;
            ++s_.description;
        }
    }
    if (s_.threeTrees &&
        !ExplodeBuildTree(s_.window + kLiteralLengths, kLiteralSymbols, s_.literalTree)) {
        return Step::kEnd;
    }
    if (!ExplodeBuildTree(s_.window + kLengthLengths, kSmallSymbols, s_.lengthTree) ||
        !ExplodeBuildTree(s_.window + kDistanceLengths, kSmallSymbols, s_.distanceTree)) {
        return Step::kEnd;
    }
    std::memset(s_.window, 0, sizeof s_.window);  // history before the first byte is zeros
    s_.phase = kFlag;
    return Step::kGo;
}

// Follows the tree one bit at a time from the node reached so far; the walk survives a stop.
Decoder::Step Decoder::Walk(const uint16_t* tree, uint32_t& symbol) {
    uint32_t node = s_.node;
    for (;;) {
        if (!Need(1)) {
            s_.node = static_cast<uint16_t>(node);
            return OutOfInput();
        }
        const uint16_t entry = tree[node + Take(1)];
        // Accepted trees are complete, so this only guards against a tree never built.
        if (entry == kEmpty) return Step::kEnd;
        if ((entry & kLeaf) != 0) {
            s_.node = 0;
            symbol = entry & 0xFF;
            return Step::kGo;
        }
        node = entry;
    }
}

// Copies what the output allows of the match. Bytes that lie before this call's output come
// from the window.
Decoder::Step Decoder::Copy() {
    const uint32_t distance = s_.distance;
    while (s_.copyLeft > 0) {
        if (out_ >= outLimit_) return Step::kStop;
        uint32_t n = std::min<uint32_t>(s_.copyLeft, static_cast<uint32_t>(outLimit_ - out_));
        const auto produced = static_cast<uint32_t>(out_ - outStart_);
        if (distance > produced) {
            const uint32_t back = distance - produced;  // bytes back from the window's end
            const uint32_t from = (s_.windowEnd + kWindowSize - back) % kWindowSize;
            n = std::min({n, back, kWindowSize - from});
            std::memcpy(out_, s_.window + from, n);
        } else if (distance >= n) {
            std::memcpy(out_, out_ - distance, n);
        } else {
            // Overlapping: each byte may be one this copy has just written.
            const uint8_t* from = out_ - distance;
            for (uint32_t i = 0; i < n; ++i) out_[i] = from[i];
        }
        out_ += n;
        s_.copyLeft = static_cast<uint16_t>(s_.copyLeft - n);
    }
    s_.phase = kFlag;
    return Step::kGo;
}

int32_t Decoder::Run() {
    uint32_t symbol = 0;
    Step step = Step::kGo;
    while (step == Step::kGo) {
        switch (s_.phase) {
            case kDescriptions:
                step = Descriptions();
                break;
            case kFlag:
                if (out_ >= outLimit_) {
                    step = Step::kStop;
                } else if (!Need(1)) {
                    step = OutOfInput();
                } else {
                    s_.phase = Take(1) != 0 ? kLiteral : kDistanceLow;
                }
                break;
            case kLiteral:
                if (out_ >= outLimit_) {
                    step = Step::kStop;  // resumed into an area with no room
                    break;
                }
                if (s_.threeTrees) {
                    step = Walk(s_.literalTree, symbol);
                    if (step != Step::kGo) break;
                } else if (!Need(8)) {
                    step = OutOfInput();
                    break;
                } else {
                    symbol = Take(8);
                }
                *out_++ = static_cast<uint8_t>(symbol);
                s_.phase = kFlag;
                break;
            case kDistanceLow:
                if (!Need(s_.distanceLowBits)) {
                    step = OutOfInput();
                    break;
                }
                s_.distance = static_cast<uint16_t>(Take(s_.distanceLowBits));
                s_.phase = kDistanceHigh;
                break;
            case kDistanceHigh:
                step = Walk(s_.distanceTree, symbol);
                if (step != Step::kGo) break;
                s_.distance =
                    static_cast<uint16_t>(((symbol << s_.distanceLowBits) | s_.distance) + 1);
                s_.phase = kLength;
                break;
            case kLength:
                step = Walk(s_.lengthTree, symbol);
                if (step != Step::kGo) break;
                s_.copyLeft = static_cast<uint16_t>(symbol + 2 + s_.threeTrees);
                s_.phase = symbol == kLongLengthSymbol ? kLengthExtra : kCopy;
                break;
            case kLengthExtra:
                if (!Need(8)) {
                    step = OutOfInput();
                    break;
                }
                s_.copyLeft = static_cast<uint16_t>(s_.copyLeft + Take(8));
                s_.phase = kCopy;
                break;
            case kCopy:
                step = Copy();
                break;
            default:
                step = Step::kEnd;
                break;
        }
    }
    if (step == Step::kEnd) {
        s_.phase = kDone;
        return 1;
    }
    Save();
    return 0;
}

// Keeps the bit reader and brings the window up to date with this call's output.
void Decoder::Save() {
    s_.bitBuffer = r_.bits;
    s_.bitCount = static_cast<uint8_t>(r_.count);
    if (s_.phase == kDescriptions) return;  // the window holds code lengths until the trees exist
    const auto n = static_cast<uint32_t>(out_ - outStart_);
    if (n == 0) return;
    if (n >= kWindowSize) {
        std::memcpy(s_.window, out_ - kWindowSize, kWindowSize);
        s_.windowEnd = 0;
        return;
    }
    const uint32_t first = std::min(n, kWindowSize - s_.windowEnd);
    std::memcpy(s_.window + s_.windowEnd, outStart_, first);
    std::memcpy(s_.window, outStart_ + first, n - first);
    s_.windowEnd = static_cast<uint16_t>((s_.windowEnd + n) % kWindowSize);
}

}  // namespace

uint32_t ExplodeStateSize() {
    return kExplodeStateSize;
}

void ExplodeInit(void* state, bool threeTrees, bool largeDictionary) {
    if (state == nullptr) return;
    ExplodeState& s = *StateIn(state);
    std::memset(static_cast<void*>(&s), 0, sizeof s);
    s.phase = kDescriptions;
    s.threeTrees = threeTrees ? 1 : 0;
    s.distanceLowBits = largeDictionary ? 7 : 6;
    s.tag = kTag;
}

int32_t Explode(const uint8_t* input, uint32_t inputOffset, uint32_t* inputCount, uint8_t* output,
                uint32_t outputOffset, uint32_t* outputCount, void* state, uint32_t final) {
    ExplodeState* s = state != nullptr ? StateIn(state) : nullptr;
    const bool live = s != nullptr && s->tag == kTag && s->phase < kDone;
    return CallLegacyDecoder<Decoder>(s, live, input, inputOffset, inputCount, output, outputOffset,
                                      outputCount, final);
}

}  // namespace qv::explode
