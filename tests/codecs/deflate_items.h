// deflate_items.h - a test-only deflate decoder that keeps what a plain inflater throws away:
// the blocks of a raw deflate stream with their headers, code lengths, run-length coded
// lengths and items (literals and length/distance pairs), so tests can assert the parse and
// the codes, not only the round trip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qvtest {

struct DeflateItem {
    uint16_t length = 0;  // 0 for a literal
    uint16_t distance = 0;
    uint8_t literal = 0;

    static DeflateItem Literal(uint8_t byte) { return {0, 0, byte}; }
    static DeflateItem Match(uint16_t length, uint16_t distance) { return {length, distance, 0}; }
    bool IsMatch() const { return length != 0; }
    size_t Size() const { return length ? length : 1; }  // input bytes covered
    bool operator==(const DeflateItem&) const = default;
};

struct DeflateBlock {
    bool final = false;
    unsigned type = 0;  // 0 stored, 1 fixed codes, 2 dynamic codes
    // Dynamic blocks: the header values and the code lengths as sent.
    unsigned hlit = 0, hdist = 0, hclen = 0;
    std::vector<uint8_t> litLengths;                       // hlit entries
    std::vector<uint8_t> distLengths;                      // hdist entries
    std::vector<uint8_t> clLengths;                        // 19 entries, by code-length symbol
    std::vector<std::pair<uint8_t, uint8_t>> lengthCodes;  // code-length symbols, repeat values
    std::vector<DeflateItem> items;
};

struct DecodedDeflate {
    bool ok = false;
    std::string error;
    std::vector<DeflateBlock> blocks;
    std::vector<uint8_t> data;  // the decompressed bytes
    size_t bytesUsed = 0;       // bytes of the stream up to the end of the final block
    bool zeroPadding = false;   // the final byte was completed with zero bits
};

// Decodes a raw deflate stream (stored, fixed and dynamic blocks), checking it as strictly as
// inflaters do: complete codes (a single code is allowed for distances and for a literal/length
// code holding only the end-of-block symbol), distances inside the output, lengths in range.
DecodedDeflate DecodeDeflate(const uint8_t* stream, size_t size);
inline DecodedDeflate DecodeDeflate(const std::vector<uint8_t>& stream) {
    return DecodeDeflate(stream.data(), stream.size());
}

// The items of all blocks in order.
std::vector<DeflateItem> AllItems(const DecodedDeflate& decoded);

}  // namespace qvtest
