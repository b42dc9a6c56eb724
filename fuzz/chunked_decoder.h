// The driver the decoder fuzz targets share: runs a resumable decoder over a stream cut into
// input pieces and output areas as the fuzzer chose, and checks the calling protocol call by
// call. Every piece and area is a heap block of exactly its size, so any read or write past
// what a call is given shows under AddressSanitizer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace qvfuzz {

struct Split {
    uint32_t inPiece;   // input bytes per piece (the last may be shorter)
    uint32_t outArea;   // output area per call
    uint32_t misalign;  // state block start past an allocation's start
};

// What the driver holds the decoder to.
struct Protocol {
    int32_t endResult;   // the result that ends the stream (the others: 0 = suspended)
    uint32_t reserved;   // bytes at the end of each area a call never writes
    size_t outputLimit;  // the most output the stream may give
};

// `call(piece, offset, &taken, area, &written, last)` makes one decoder call. Returns false when
// the decoder broke the protocol: counts past what was given, a result other than 0 and the end,
// a suspension with input left and room in the area, output past the limit, or a last piece
// taken whole with room left and no end (a caller would loop for ever).
template <class Call>
bool DecodeInPieces(const uint8_t* stream, size_t size, const Split& split,
                    const Protocol& protocol, Call call, std::vector<uint8_t>& out) {
    std::unique_ptr<uint8_t[]> area(new uint8_t[split.outArea]);
    const uint32_t usable = split.outArea - protocol.reserved;
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
            const int32_t r = call(pieceSize != 0 ? piece.get() : nullptr, offset, &taken,
                                   area.get(), &written, last);
            if (taken > given || written > usable) return false;
            out.insert(out.end(), area.get(), area.get() + written);
            if (out.size() > protocol.outputLimit) return false;
            if (r == protocol.endResult) return true;
            if (r != 0) return false;
            if (taken != given && written != usable) return false;
            if (last && taken == given && written != usable) return false;  // would hang
            offset += taken;
            if (offset == pieceSize && !last) break;
        }
        at += pieceSize;
    }
}

}  // namespace qvfuzz
