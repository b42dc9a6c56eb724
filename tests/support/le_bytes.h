// le_bytes.h - bytes built and read field by field, little-endian, for tests that make archives
// and streams exactly as they need them; a bit writer for deflate-style streams; and a CRC-32
// computed bit by bit, independent of the library's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "test_support.h"

namespace qvtest {

inline void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
inline void PutText(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}

inline uint16_t Get16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
inline uint32_t Get32(const Bytes& b, size_t at) {
    return Get16(b, at) | static_cast<uint32_t>(Get16(b, at + 2)) << 16;
}

// Overwrites a field, growing the bytes when it lies past their end.
inline void Set16(Bytes& b, size_t at, uint32_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Set32(Bytes& b, size_t at, uint32_t v) {
    Set16(b, at, v & 0xFFFF);
    Set16(b, at + 2, v >> 16);
}

// The ZIP CRC-32 of `data`, one bit at a time.
inline uint32_t Crc32(const Bytes& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// Bits in stream order, least significant first within each byte.
class BitWriter {
public:
    // `n` bits of `value`, lowest first (header fields, extra bits).
    BitWriter& Bits(uint32_t value, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) Put((value >> i) & 1);
        return *this;
    }
    // A Huffman code of `n` bits, most significant first.
    BitWriter& Code(uint32_t code, uint32_t n) {
        while (n-- > 0) Put((code >> n) & 1);
        return *this;
    }
    // A code kept left-aligned in 16 bits: its `n` leading bits, most significant first.
    BitWriter& Code16(uint32_t code, uint32_t n) { return Code(code >> (16 - n), n); }
    // Zero bits up to the next byte boundary.
    BitWriter& Align() {
        while (count_ % 8 != 0) Put(0);
        return *this;
    }
    BitWriter& Byte(uint8_t b) { return Bits(b, 8); }
    const Bytes& bytes() const { return bytes_; }

private:
    void Put(uint32_t bit) {
        if (count_ % 8 == 0) bytes_.push_back(0);
        bytes_.back() |= static_cast<uint8_t>(bit << (count_ % 8));
        ++count_;
    }
    Bytes bytes_;
    uint64_t count_ = 0;
};

}  // namespace qvtest
