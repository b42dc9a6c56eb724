// crc32.h - the CRC-32 of ZIP (IEEE 802.3 polynomial, reflected form 0xEDB88320), exported as
// QvCrc32A (declared in qvarc32.h).
//
// The update works on the raw register: it neither complements the register on entry nor on
// exit. The ZIP check value of a stream is ~Crc32Update(...Crc32Update(0xFFFFFFFF, piece 1)...,
// last piece), so the empty stream has CRC 0.
//
// One 256-entry table (constant data, shared with the traditional cipher's key update) defines
// the code; the bulk paths (slicing by 16 bytes, and carry-less multiplication on x86 CPUs that
// have it, chosen once at run time) give exactly the same register for every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qv::crc32 {

// Entry n is n run through eight rounds of: shift right by one, then XOR 0xEDB88320 if the bit
// shifted out was 1.
extern const uint32_t kCrcTable[256];

// One byte through the register, as the table defines it.
inline uint32_t UpdateByte(uint32_t reg, uint8_t byte) {
    return (reg >> 8) ^ kCrcTable[(reg ^ byte) & 0xFF];
}

// The register after `size` bytes of `data`, starting from `reg`. Any alignment, any size.
uint32_t Crc32Update(uint32_t reg, const uint8_t* data, size_t size);

// One way of computing the update; every path gives the same register for every input.
struct Crc32Path {
    const char* name;  // "slice16", "pclmulqdq", "vpclmulqdq-avx2" or "vpclmulqdq-avx512"
    uint32_t (*update)(uint32_t reg, const uint8_t* data, size_t size);
};

// Every path this CPU can run, the portable one first and the one Crc32Update uses for large
// inputs last. For tests and benchmarks, which hold the paths against each other.
std::span<const Crc32Path> Crc32Paths();

}  // namespace qv::crc32
