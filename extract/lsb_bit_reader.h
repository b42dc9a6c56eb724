// lsb_bit_reader.h - the bit reader of the legacy decoders.
//
// Imploded and shrunk data are read least significant bit first. Bytes are taken only when
// their bits are needed, so a decoder can stop after any input byte and keep the unused bits
// in its state until the next call.
#pragma once

#include <cstdint>

namespace qv {

struct LsbBitReader {
    const uint8_t* in;
    const uint8_t* end;
    uint32_t bits;
    uint32_t count;

    // Makes n bits (at most 24) available; false when the input runs out first.
    bool Need(uint32_t n) {
        while (count < n) {
            if (in == end) return false;
            bits |= static_cast<uint32_t>(*in++) << count;
            count += 8;
        }
        return true;
    }
    uint32_t Take(uint32_t n) {
        const uint32_t v = bits & ((1u << n) - 1);
        bits >>= n;
        count -= n;
        return v;
    }
};

}  // namespace qv
