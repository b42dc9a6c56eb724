// inflate_tables.h - the constant deflate alphabets and the Huffman decode tables of the
// inflate engine.
#pragma once

#include <cstdint>

namespace qv::inflate {

// ---- Decode table entries --------------------------------------------------------------
//
// A decode table is indexed by the next `rootBits` input bits (first bit lowest). Codes longer
// than rootBits continue in a subtable indexed by the bits after the root bits. Entries are 16
// bits:
//
//   literal   10vv vvvv vv00 nnnn   v = the byte, n = code length
//   subtable  01oo oooo oooo osss   o = the subtable's first entry, s = its index bits
//   symbol    0000 vvvv vv00 nnnn   v = a value below kFirstInvalid (see below), n = code length
//
// Bits 4 and 5 of literal and symbol entries are clear, so the entry's low 6 bits are the
// number of bits to drop. In a subtable, n counts the bits after the root bits. A symbol's
// value is its number in the alphabet, except in the literal/length alphabet where it is the
// symbol minus 256 (0 is the end of block, 1 to 29 the lengths). Values from kFirstInvalid up
// can never be decoded:
//   30, 31            literal/length 286 and 287, distance 30 and 31: real codes of the fixed
//                     code that stand for nothing;
//   kUnfilled + d     a bit pattern no code covers (a table with one code or none leaves
//                     such gaps); d is the number of bits after which the pattern can no
//                     longer be the start of any code.
constexpr uint32_t kLiteralFlag = 0x8000;
constexpr uint32_t kSubtableFlag = 0x4000;
constexpr uint32_t kFirstInvalid = 30;
constexpr uint32_t kUnfilled = 32;

constexpr uint32_t EntryLength(uint32_t entry) {
    return entry & 15;
}
constexpr uint32_t EntryValue(uint32_t entry) {
    return (entry >> 6) & 63;
}
constexpr uint8_t EntryLiteral(uint32_t entry) {
    return static_cast<uint8_t>(entry >> 6);
}
constexpr uint32_t SubtableStart(uint32_t entry) {
    return (entry >> 3) & 0x7FF;
}
constexpr uint32_t SubtableBits(uint32_t entry) {
    return entry & 7;
}

// Root index bits and capacities (entries). The capacities are the largest tables any
// accepted set of code lengths of the alphabet can need with these root bits (the counts
// zlib's "enough" program gives for 288 and 32 symbols of at most 15 bits).
constexpr uint32_t kLitLenRootBits = 10;
constexpr uint32_t kLitLenCapacity = 1334;
constexpr uint32_t kDistRootBits = 8;
constexpr uint32_t kDistCapacity = 402;
constexpr uint32_t kPrecodeRootBits = 7;  // code-length codes have at most 7 bits
constexpr uint32_t kPrecodeCapacity = 128;

enum class Alphabet { kLitLen, kDistance, kPrecode };

// Builds the decode table for the code lengths `lengths[0..count)` (0 = symbol unused, at most
// 15). A set of lengths is accepted when its codes exactly fill the code space, or when at most
// one symbol has a code; otherwise (over-subscribed, or incomplete with two codes or more) the
// table is rejected and false returned.
bool BuildDecodeTable(Alphabet alphabet, const uint8_t* lengths, uint32_t count, uint16_t* table,
                      uint32_t capacity, uint32_t rootBits);

// ---- The deflate alphabets (RFC 1951, 3.2.5 and 3.2.7) ---------------------------------

// Length base and extra bits, indexed by literal/length symbol - 256 (symbols 257 to 285 at 1
// to 29): base << 8 | extra bits.
extern const uint32_t kLengthCode[30];
// Distance base and extra bits, indexed by distance symbol (0 to 29): base << 8 | extra bits.
extern const uint32_t kDistCode[30];
// The order in which a dynamic header sends the code-length code's lengths.
extern const uint8_t kPrecodeOrder[19];

}  // namespace qv::inflate
