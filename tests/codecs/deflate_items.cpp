// deflate_items.cpp - the test-only deflate decoder behind deflate_items.h.
#include "deflate_items.h"

#include <array>
#include <stdexcept>

namespace qvtest {
namespace {

struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    unsigned Bit() {
        if (pos_ >= size_ * 8) throw DecodeError("stream ends early");
        const unsigned bit = (data_[pos_ / 8] >> (pos_ % 8)) & 1;
        ++pos_;
        return bit;
    }
    // n bits, least significant first.
    unsigned Bits(unsigned n) {
        unsigned v = 0;
        for (unsigned i = 0; i < n; ++i) v |= Bit() << i;
        return v;
    }
    void AlignToByte() { pos_ = (pos_ + 7) / 8 * 8; }
    size_t BitPos() const { return pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A canonical Huffman code read one bit at a time: codes of each length are consecutive, in
// symbol order, and a code's bits arrive most significant first.
class HuffmanDecoder {
public:
    HuffmanDecoder(const uint8_t* lengths, unsigned count, bool allowSingle, const char* what) {
        for (unsigned s = 0; s < count; ++s) {
            if (lengths[s] > 15) throw DecodeError(std::string(what) + ": length above 15");
            ++counts_[lengths[s]];
        }
        for (unsigned l = 1; l <= 15; ++l)
            for (unsigned s = 0; s < count; ++s)
                if (lengths[s] == l) symbols_.push_back(static_cast<uint16_t>(s));
        int left = 1;
        for (unsigned l = 1; l <= 15; ++l) {
            left = left * 2 - counts_[l];
            if (left < 0) throw DecodeError(std::string(what) + ": over-subscribed code");
        }
        const bool single = symbols_.size() == 1 && counts_[1] == 1;
        if (left > 0 && !symbols_.empty() && !(allowSingle && single))
            throw DecodeError(std::string(what) + ": incomplete code");
    }

    unsigned Decode(BitReader& in) const {
        int code = 0, first = 0, index = 0;
        for (unsigned l = 1; l <= 15; ++l) {
            code |= static_cast<int>(in.Bit());
            const int count = counts_[l];
            if (code - first < count) return symbols_[static_cast<size_t>(index + code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        throw DecodeError("invalid code");
    }

private:
    std::array<int, 16> counts_{};
    std::vector<uint16_t> symbols_;
};

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

void DecodeItems(BitReader& in, const HuffmanDecoder& lit, const HuffmanDecoder* dist,
                 DeflateBlock& block, std::vector<uint8_t>& out) {
    for (;;) {
        const unsigned sym = lit.Decode(in);
        if (sym < 256) {
            block.items.push_back(DeflateItem::Literal(static_cast<uint8_t>(sym)));
            out.push_back(static_cast<uint8_t>(sym));
            continue;
        }
        if (sym == 256) return;
        if (sym > 285) throw DecodeError("length symbol above 285");
        const unsigned length = kLengthBase[sym - 257] + in.Bits(kLengthExtra[sym - 257]);
        if (dist == nullptr) throw DecodeError("match without a distance code");
        const unsigned dsym = dist->Decode(in);
        if (dsym > 29) throw DecodeError("distance symbol above 29");
        const unsigned distance = kDistBase[dsym] + in.Bits(kDistExtra[dsym]);
        if (distance > out.size()) throw DecodeError("distance before the start of the output");
        block.items.push_back(
            DeflateItem::Match(static_cast<uint16_t>(length), static_cast<uint16_t>(distance)));
        for (unsigned i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
    }
}

void DecodeDynamicHeader(BitReader& in, DeflateBlock& block) {
    block.hlit = in.Bits(5) + 257;
    block.hdist = in.Bits(5) + 1;
    block.hclen = in.Bits(4) + 4;
    if (block.hlit > 286 || block.hdist > 30) throw DecodeError("HLIT or HDIST out of range");
    block.clLengths.assign(19, 0);
    for (unsigned i = 0; i < block.hclen; ++i)
        block.clLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(in.Bits(3));
    const HuffmanDecoder cl(block.clLengths.data(), 19, false, "code-length code");
    std::vector<uint8_t> lengths;
    while (lengths.size() < block.hlit + block.hdist) {
        const unsigned sym = cl.Decode(in);
        unsigned extra = 0;
        if (sym < 16) {
            lengths.push_back(static_cast<uint8_t>(sym));
        } else if (sym == 16) {
            if (lengths.empty()) throw DecodeError("repeat with no previous length");
            extra = in.Bits(2);
            lengths.insert(lengths.end(), 3 + extra, lengths.back());
        } else if (sym == 17) {
            extra = in.Bits(3);
            lengths.insert(lengths.end(), 3 + extra, 0);
        } else {
            extra = in.Bits(7);
            lengths.insert(lengths.end(), 11 + extra, 0);
        }
        block.lengthCodes.emplace_back(static_cast<uint8_t>(sym), static_cast<uint8_t>(extra));
    }
    if (lengths.size() != block.hlit + block.hdist)
        throw DecodeError("lengths overrun HLIT + HDIST");
    block.litLengths.assign(lengths.begin(), lengths.begin() + block.hlit);
    block.distLengths.assign(lengths.begin() + block.hlit, lengths.end());
    if (block.litLengths[256] == 0) throw DecodeError("no end-of-block code");
}

}  // namespace

DecodedDeflate DecodeDeflate(const uint8_t* stream, size_t size) {
    DecodedDeflate result;
    BitReader in(stream, size);
    try {
        bool final = false;
        while (!final) {
            DeflateBlock block;
            final = block.final = in.Bit() != 0;
            block.type = in.Bits(2);
            if (block.type == 0) {
                in.AlignToByte();
                const unsigned len = in.Bits(16);
                const unsigned nlen = in.Bits(16);
                if ((len ^ 0xFFFF) != nlen) throw DecodeError("stored length check");
                for (unsigned i = 0; i < len; ++i) {
                    const auto byte = static_cast<uint8_t>(in.Bits(8));
                    block.items.push_back(DeflateItem::Literal(byte));
                    result.data.push_back(byte);
                }
            } else if (block.type == 1) {
                // The fixed codes; distance symbols 30 and 31 have codes but are invalid.
                uint8_t lit[288], dist[32];
                for (unsigned s = 0; s < 288; ++s)
                    lit[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
                for (unsigned s = 0; s < 32; ++s) dist[s] = 5;
                const HuffmanDecoder litCode(lit, 288, true, "fixed literal/length code");
                const HuffmanDecoder distCode(dist, 32, true, "fixed distance code");
                DecodeItems(in, litCode, &distCode, block, result.data);
            } else if (block.type == 2) {
                DecodeDynamicHeader(in, block);
                const HuffmanDecoder litCode(block.litLengths.data(), block.hlit, true,
                                             "literal/length code");
                bool anyDistance = false;
                for (uint8_t l : block.distLengths) anyDistance |= l != 0;
                if (anyDistance) {
                    const HuffmanDecoder distCode(block.distLengths.data(), block.hdist, true,
                                                  "distance code");
                    DecodeItems(in, litCode, &distCode, block, result.data);
                } else {
                    DecodeItems(in, litCode, nullptr, block, result.data);
                }
            } else {
                throw DecodeError("block type 3");
            }
            result.blocks.push_back(std::move(block));
        }
        const size_t endBit = in.BitPos();
        result.bytesUsed = (endBit + 7) / 8;
        result.zeroPadding = endBit % 8 == 0 || (stream[endBit / 8] >> (endBit % 8)) == 0;
        result.ok = true;
    } catch (const DecodeError& e) {
        result.error = e.what();
    }
    return result;
}

std::vector<DeflateItem> AllItems(const DecodedDeflate& decoded) {
    std::vector<DeflateItem> all;
    for (const DeflateBlock& b : decoded.blocks)
        all.insert(all.end(), b.items.begin(), b.items.end());
    return all;
}

}  // namespace qvtest
