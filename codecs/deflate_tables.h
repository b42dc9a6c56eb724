// deflate_tables.h - deflate's length and distance symbols, shared by the parser (which
// counts symbols as it records items) and the block writer.
#pragma once

#include <array>
#include <cstdint>

namespace qv::deflate {

// ---- Deflate's length and distance symbols --------------------------------------------------

struct LengthSymbol {
    uint8_t symbol;  // 0..28, sent as 257 + symbol
    uint8_t extraBits;
    uint8_t extraValue;  // length - base of the symbol
};

struct DistanceBase {
    uint16_t base;
    uint8_t extraBits;
};

// Length symbols 257..285: base lengths and extra bits. Length 258 is symbol 285 with none.
inline constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                             15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                             67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance symbols 0..29.
inline constexpr DistanceBase kDistance[30] = {
    {1, 0},     {2, 0},     {3, 0},     {4, 0},      {5, 1},      {7, 1},
    {9, 2},     {13, 2},    {17, 3},    {25, 3},     {33, 4},     {49, 4},
    {65, 5},    {97, 5},    {129, 6},   {193, 6},    {257, 7},    {385, 7},
    {513, 8},   {769, 8},   {1025, 9},  {1537, 9},   {2049, 10},  {3073, 10},
    {4097, 11}, {6145, 11}, {8193, 12}, {12289, 12}, {16385, 13}, {24577, 13}};

// Indexed by length - 3.
inline constexpr std::array<LengthSymbol, 256> kLengthSymbols = [] {
    std::array<LengthSymbol, 256> t{};
    for (unsigned len = 3; len <= 258; ++len) {
        unsigned s = 28;
        if (len < 258) {
            s = 0;
            while (s + 1 < 28 && kLengthBase[s + 1] <= len) ++s;
        }
        t[len - 3] = {static_cast<uint8_t>(s), kLengthExtra[s],
                      static_cast<uint8_t>(len - kLengthBase[s])};
    }
    return t;
}();

// Distance symbols: by distance - 1 up to 512, above that by (distance - 1) >> 8.
inline constexpr std::array<uint8_t, 512> kDistSymbolLow = [] {
    std::array<uint8_t, 512> t{};
    for (unsigned d = 1; d <= 512; ++d) {
        unsigned s = 0;
        while (s + 1 < 30 && kDistance[s + 1].base <= d) ++s;
        t[d - 1] = static_cast<uint8_t>(s);
    }
    return t;
}();
inline constexpr std::array<uint8_t, 128> kDistSymbolHigh = [] {
    std::array<uint8_t, 128> t{};
    for (unsigned i = 2; i < 128; ++i) {
        const unsigned d = (i << 8) + 1;  // every distance of this group has the same symbol
        unsigned s = 0;
        while (s + 1 < 30 && kDistance[s + 1].base <= d) ++s;
        t[i] = static_cast<uint8_t>(s);
    }
    return t;
}();

// Distances 1 to 32768. Both tables are read and one result kept, so that the choice between
// them (near or far, as the data falls) is a select rather than a branch.
inline unsigned DistanceSymbol(uint32_t distance) {
    const unsigned near = kDistSymbolLow[(distance - 1) & 511];
    const unsigned far = kDistSymbolHigh[((distance - 1) >> 8) & 127];
    const unsigned useFar = 0u - static_cast<unsigned>(distance > 512);  // all ones or zero
    return (near & ~useFar) | (far & useFar);
}

}  // namespace qv::deflate
