// Fuzzes the inflate engine. The first bytes choose how the rest is split into input pieces
// and output areas, and where the state block starts; the rest is the stream. Every piece,
// area and state block is a heap block of exactly its size, so any read or write past what a
// call is given shows under AddressSanitizer.
//
// Checked: every call keeps the protocol (0 only when all input is taken or the area is full),
// the stream always ends, its output stays within what the input can encode, and the bytes
// decoded are the same as from one whole piece into one large area.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "qvarc32.h"

namespace {

struct Split {
    uint32_t inPiece;   // input bytes per piece (the last may be shorter)
    uint32_t outArea;   // output area per call
    uint32_t misalign;  // state block start past an allocation's start
};

// Decodes `stream` split as asked; returns false when the decoder misbehaved.
bool Decode(const uint8_t* stream, size_t size, const Split& split, std::vector<uint8_t>& out) {
    // At most 258 bytes per bit of input (a one-bit length code and a one-bit distance code
    // give 258 bytes per two bits), plus a stored block cut short, plus what the window holds.
    const size_t limit = (size + 16) * 8 * 258 + 65536 + 33280;
    const uint32_t blockSize = QvInflateUCBufSize();
    std::unique_ptr<uint8_t[]> block(new uint8_t[blockSize + split.misalign]);
    void* state = block.get() + split.misalign;
    QvInflateUCInit(state);
    std::unique_ptr<uint8_t[]> area(new uint8_t[split.outArea]);
    size_t at = 0;
    for (;;) {
        const size_t pieceSize = std::min<size_t>(split.inPiece, size - at);
        const bool last = at + pieceSize == size;
        std::unique_ptr<uint8_t[]> piece(new uint8_t[pieceSize]);
        if (pieceSize != 0) std::memcpy(piece.get(), stream + at, pieceSize);
        uint32_t offset = 0;
        for (;;) {
            const uint32_t given = static_cast<uint32_t>(pieceSize) - offset;
            uint32_t taken = given, written = split.outArea;
            const int32_t r = QvInflateUC(pieceSize != 0 ? piece.get() : nullptr, offset, &taken,
                                          area.get(), 0, &written, state, last ? 1 : 0);
            if (taken > given || written > split.outArea) return false;
            out.insert(out.end(), area.get(), area.get() + written);
            if (out.size() > limit) return false;
            if (r == -1) return true;
            if (r != 0) return false;
            if (taken != given && written != split.outArea) return false;
            if (last && taken == given && written != split.outArea) return false;  // would hang
            offset += taken;
            if (offset == pieceSize && !last) break;
        }
        at += pieceSize;
    }
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
