// Fuzzes the explode decoder. The first bytes choose the variant (trees, dictionary), how the
// rest is split into input pieces and output areas, and where the state block starts; the rest
// is the member's data. Every piece, area and state block is a heap block of exactly its size,
// so any read or write past what a call is given shows under AddressSanitizer.
//
// Checked: every call keeps the protocol (never more than the area less three bytes; 0 only when
// all input is taken or that much is written), the stream always ends, its output stays within
// what the input can encode, and the bytes decoded are the same as from one whole piece into one
// large area.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "chunked_decoder.h"
#include "explode.h"

namespace {

using qvfuzz::Split;

bool Decode(const uint8_t* stream, size_t size, bool threeTrees, bool largeDictionary,
            const Split& split, std::vector<uint8_t>& out) {
    // A copy of at most 321 bytes takes at least 9 bits (flag, 6 low distance bits, one-bit
    // distance and length codes). Three bytes of each area are never written.
    const qvfuzz::Protocol protocol = {1, 3, (size + 16) * 8 * 321 / 9 + 1024};
    std::unique_ptr<uint8_t[]> block(new uint8_t[qv::explode::ExplodeStateSize() + split.misalign]);
    void* state = block.get() + split.misalign;
    qv::explode::ExplodeInit(state, threeTrees, largeDictionary);
    return qvfuzz::DecodeInPieces(
        stream, size, split, protocol,
        [&](const uint8_t* in, uint32_t offset, uint32_t* taken, uint8_t* area, uint32_t* written,
            bool last) {
            return qv::explode::Explode(in, offset, taken, area, 0, written, state, last ? 1 : 0);
        },
        out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const bool threeTrees = (data[0] & 1) != 0;
    const bool largeDictionary = (data[0] & 2) != 0;
    Split split;
    split.inPiece = 1 + ((data[1] | data[2] << 8) % 70000);
    split.outArea = 4 + ((data[3] | data[4] << 8) % 70000);
    split.misalign = data[5] & 7;
    if (data[5] & 0x80) split.inPiece = 1;  // byte at a time is worth more attention
    data += 6;
    size -= 6;

    std::vector<uint8_t> whole, pieces;
    const Split one = {static_cast<uint32_t>(size) + 1, 1u << 20, 0};
    if (!Decode(data, size, threeTrees, largeDictionary, one, whole)) __builtin_trap();
    if (!Decode(data, size, threeTrees, largeDictionary, split, pieces)) __builtin_trap();
    if (whole != pieces) __builtin_trap();
    return 0;
}
