// inflate_tables.cpp - Huffman decode tables and the constant deflate alphabets.
#include "inflate_tables.h"

#include <bit>

namespace qv::inflate {

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint8_t kPrecodeOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                   11, 4,  12, 3, 13, 2, 14, 1, 15};

namespace {

constexpr uint32_t kMaxCodeLength = 15;

// The entry that decodes `symbol`; `length` is the number of bits the entry consumes.
uint16_t SymbolEntry(Alphabet alphabet, uint32_t symbol, uint32_t length) {
    if (alphabet == Alphabet::kLitLen) {
        if (symbol < 256) return static_cast<uint16_t>(kLiteralFlag | symbol << 4 | length);
        symbol -= 256;
    }
    return static_cast<uint16_t>(symbol << 4 | length);
}

uint16_t UnfilledEntry(uint32_t depth) {
    return static_cast<uint16_t>((kUnfilled + depth) << 4);
}

uint16_t SubtableEntry(uint32_t start, uint32_t bits) {
    return static_cast<uint16_t>(kSubtableFlag | start << 3 | bits);
}

// Codes are defined most significant bit first but arrive first bit lowest: table indexes are
// the codes with their bits reversed.
uint32_t ReverseBits(uint32_t code, uint32_t length) {
    uint32_t reversed = 0;
    for (uint32_t i = 0; i < length; ++i, code >>= 1) reversed = reversed << 1 | (code & 1);
    return reversed;
}

// A table with one code: the code is all zero bits, and every pattern with a one bit among
// the code's first bits is a gap that ends at that bit.
bool BuildSingleCode(Alphabet alphabet, uint32_t symbol, uint32_t length, uint16_t* table,
                     uint32_t capacity, uint32_t rootBits) {
    const uint32_t rootSize = 1u << rootBits;
    if (length <= rootBits) {
        const uint32_t mask = (1u << length) - 1;
        for (uint32_t i = 0; i < rootSize; ++i) {
            table[i] = (i & mask) == 0 ? SymbolEntry(alphabet, symbol, length)
                                       : UnfilledEntry(std::countr_zero(i) + 1);
        }
        return true;
    }
    const uint32_t subBits = length - rootBits;
    if (rootSize + (1u << subBits) > capacity) return false;
    table[0] = SubtableEntry(rootSize, subBits);
    for (uint32_t i = 1; i < rootSize; ++i) table[i] = UnfilledEntry(std::countr_zero(i) + 1);
    uint16_t* sub = table + rootSize;
    sub[0] = SymbolEntry(alphabet, symbol, subBits);
    for (uint32_t j = 1; j < (1u << subBits); ++j) {
        sub[j] = UnfilledEntry(rootBits + std::countr_zero(j) + 1);
    }
    return true;
}

}  // namespace

bool BuildDecodeTable(Alphabet alphabet, const uint8_t* lengths, uint32_t count, uint16_t* table,
                      uint32_t capacity, uint32_t rootBits) {
    uint16_t lengthCount[kMaxCodeLength + 1] = {};
    for (uint32_t s = 0; s < count; ++s) lengthCount[lengths[s]]++;
    lengthCount[0] = 0;

    // Kraft check: `left` is the code space not yet taken, in units of the current length.
    int32_t left = 1;
    uint32_t used = 0, maxLength = 0;
    for (uint32_t len = 1; len <= kMaxCodeLength; ++len) {
        left = left * 2 - lengthCount[len];
        if (left < 0) return false;  // over-subscribed
        used += lengthCount[len];
        if (lengthCount[len] != 0) maxLength = len;
    }
    const uint32_t rootSize = 1u << rootBits;
    if (left != 0) {
        if (used > 1) return false;  // incomplete with more than one code
        if (used == 0) {
            for (uint32_t i = 0; i < rootSize; ++i) table[i] = UnfilledEntry(1);
            return true;
        }
        uint32_t symbol = 0;
        while (lengths[symbol] == 0) ++symbol;
        return BuildSingleCode(alphabet, symbol, lengths[symbol], table, capacity, rootBits);
    }

    // A complete code. Sort the symbols by code length (stable, so by symbol within a length):
    // that is the order in which canonical codes are handed out.
    uint16_t offsets[kMaxCodeLength + 2] = {};
    for (uint32_t len = 1; len <= kMaxCodeLength; ++len) {
        offsets[len + 1] = static_cast<uint16_t>(offsets[len] + lengthCount[len]);
    }
    uint16_t sorted[288];
    for (uint32_t s = 0; s < count; ++s) {
        if (lengths[s] != 0) sorted[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
    }

    uint16_t remaining[kMaxCodeLength + 1];
    for (uint32_t len = 0; len <= kMaxCodeLength; ++len) remaining[len] = lengthCount[len];
    uint32_t code = 0, codeLength = 0;
    uint32_t nextFree = rootSize;   // first entry after the root table and subtables so far
    uint32_t subPrefix = rootSize;  // root index of the current subtable (none yet)
    uint32_t subStart = 0, subBits = 0;
    for (uint32_t i = 0; i < used; ++i) {
        const uint32_t symbol = sorted[i];
        const uint32_t len = lengths[symbol];
        code <<= len - codeLength;
        codeLength = len;
        const uint32_t reversed = ReverseBits(code, len);
        if (len <= rootBits) {
            const uint16_t entry = SymbolEntry(alphabet, symbol, len);
            for (uint32_t j = reversed; j < rootSize; j += 1u << len) table[j] = entry;
        } else {
            const uint32_t prefix = reversed & (rootSize - 1);
            if (prefix != subPrefix) {
                // Codes sharing a root prefix are consecutive. The subtable has the fewest
                // index bits whose code space those codes fill.
                uint32_t bits = len - rootBits;
                int32_t space = 1 << bits;
                while (bits + rootBits < maxLength) {
                    space -= remaining[bits + rootBits];
                    if (space <= 0) break;
                    ++bits;
                    space *= 2;
                }
                if (nextFree + (1u << bits) > capacity) return false;
                subPrefix = prefix;
                subStart = nextFree;
                subBits = bits;
                nextFree += 1u << bits;
                table[prefix] = SubtableEntry(subStart, subBits);
            }
            const uint32_t subLen = len - rootBits;
            const uint16_t entry = SymbolEntry(alphabet, symbol, subLen);
            for (uint32_t j = reversed >> rootBits; j < (1u << subBits); j += 1u << subLen) {
                table[subStart + j] = entry;
            }
        }
        --remaining[len];
        ++code;
    }
    return true;
}

}  // namespace qv::inflate
