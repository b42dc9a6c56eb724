// inflate_tables.cpp - Huffman decode tables and the constant deflate alphabets.
#include "inflate_tables.h"

#include <bit>

namespace qv::inflate {

namespace {
constexpr uint32_t Pack(uint32_t base, uint32_t extra) {
    return base << 8 | extra;
}
}  // namespace

const uint32_t kLengthCode[30] = {
    0,  // the end of block has no length
    Pack(3, 0),  Pack(4, 0),  Pack(5, 0),   Pack(6, 0),   Pack(7, 0),   Pack(8, 0),   Pack(9, 0),
    Pack(10, 0), Pack(11, 1), Pack(13, 1),  Pack(15, 1),  Pack(17, 1),  Pack(19, 2),  Pack(23, 2),
    Pack(27, 2), Pack(31, 2), Pack(35, 3),  Pack(43, 3),  Pack(51, 3),  Pack(59, 3),  Pack(67, 4),
    Pack(83, 4), Pack(99, 4), Pack(115, 4), Pack(131, 5), Pack(163, 5), Pack(195, 5), Pack(227, 5),
    Pack(258, 0)};
const uint32_t kDistCode[30] = {
    Pack(1, 0),     Pack(2, 0),     Pack(3, 0),      Pack(4, 0),      Pack(5, 1),
    Pack(7, 1),     Pack(9, 2),     Pack(13, 2),     Pack(17, 3),     Pack(25, 3),
    Pack(33, 4),    Pack(49, 4),    Pack(65, 5),     Pack(97, 5),     Pack(129, 6),
    Pack(193, 6),   Pack(257, 7),   Pack(385, 7),    Pack(513, 8),    Pack(769, 8),
    Pack(1025, 9),  Pack(1537, 9),  Pack(2049, 10),  Pack(3073, 10),  Pack(4097, 11),
    Pack(6145, 11), Pack(8193, 12), Pack(12289, 12), Pack(16385, 13), Pack(24577, 13)};
const uint8_t kPrecodeOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                   11, 4,  12, 3, 13, 2, 14, 1, 15};

namespace {

constexpr uint32_t kMaxCodeLength = 15;

// The entry that decodes `symbol`; `length` is the number of bits the entry consumes.
uint16_t SymbolEntry(Alphabet alphabet, uint32_t symbol, uint32_t length) {
    if (alphabet == Alphabet::kLitLen) {
        if (symbol < 256) return static_cast<uint16_t>(kLiteralFlag | symbol << 6 | length);
        symbol -= 256;
    }
    return static_cast<uint16_t>(symbol << 6 | length);
}

uint16_t UnfilledEntry(uint32_t depth) {
    return static_cast<uint16_t>((kUnfilled + depth) << 6);
}

uint16_t SubtableEntry(uint32_t start, uint32_t bits) {
    return static_cast<uint16_t>(kSubtableFlag | start << 3 | bits);
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
    // The canonical codes are counted in bit-reversed form, as table indexes are: a longer code
    // continues from the shorter one with zero bits added at the end, which leaves its reversed
    // form unchanged.
    uint32_t reversed = 0;
    uint32_t nextFree = rootSize;   // first entry after the root table and subtables so far
    uint32_t subPrefix = rootSize;  // root index of the current subtable (none yet)
    uint32_t subStart = 0, subBits = 0;
    for (uint32_t i = 0; i < used; ++i) {
        const uint32_t symbol = sorted[i];
        const uint32_t len = lengths[symbol];
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
        // Next code of this length, reversed: add one at the code's last bit, which is the
        // highest bit of the reversed form, carrying downwards.
        uint32_t bit = 1u << (len - 1);
        while (reversed & bit) bit >>= 1;
        reversed = bit != 0 ? (reversed & (bit - 1)) + bit : 0;
    }
    return true;
}

}  // namespace qv::inflate
