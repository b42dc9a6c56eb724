// Fuzzes the inflate engine. The first bytes choose how the rest is split into input pieces
// and output areas, and where the state block starts; the rest is the stream. Every piece,
// area and state block is a heap block of exactly its size, so any read or write past what a
// call is given shows under AddressSanitizer.
//
// Checked: every call keeps the protocol (0 only when all input is taken or the area is full),
// the stream always ends, its output stays within what the input can encode, and the bytes
// decoded are the same as from one whole piece into one large area.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "chunked_decoder.h"
#include "qvarc32.h"

namespace {

using qvfuzz::Split;

// Decodes `stream` split as asked; returns false when the decoder misbehaved.
bool Decode(const uint8_t* stream, size_t size, const Split& split, std::vector<uint8_t>& out) {
    // At most 258 bytes per bit of input (a one-bit length code and a one-bit distance code
    // give 258 bytes per two bits), plus a stored block cut short, plus what the window holds.
    const qvfuzz::Protocol protocol = {-1, 0, (size + 16) * 8 * 258 + 65536 + 33280};
    std::unique_ptr<uint8_t[]> block(new uint8_t[QvInflateUCBufSize() + split.misalign]);
    void* state = block.get() + split.misalign;
    QvInflateUCInit(state);
    return qvfuzz::DecodeInPieces(
        stream, size, split, protocol,
        [&](const uint8_t* in, uint32_t offset, uint32_t* taken, uint8_t* area, uint32_t* written,
            bool last) {
            return QvInflateUC(in, offset, taken, area, 0, written, state, last ? 1 : 0);
        },
        out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    Split split;
    split.inPiece = 1 + ((data[0] | data[1] << 8) % 70000);
    split.outArea = 1 + ((data[2] | data[3] << 8) % 70000);
    split.misalign = data[4] & 7;
    if (data[4] & 0x80) split.inPiece = 1;  // byte at a time is worth more attention
    data += 5;
    size -= 5;

    std::vector<uint8_t> whole, pieces;
    const Split one = {static_cast<uint32_t>(size) + 1, 65536, 0};
    if (!Decode(data, size, one, whole)) __builtin_trap();
    if (!Decode(data, size, split, pieces)) __builtin_trap();
    if (whole != pieces) __builtin_trap();
    return 0;
}
