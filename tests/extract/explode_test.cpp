// The explode decoder: PKZIP-made imploded members (4 KB and 8 KB dictionaries, two and three
// trees) checked against their stored CRC and size and against Info-ZIP unzip; streams of all
// four variants made here by a small imploder and held against unzip as well; the calling
// protocol under many splits of input and output; and damaged streams, which must end cleanly.
#include "explode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "legacy_test_zip.h"
#include "test_support.h"

namespace {

using legacytest::BitWriter;
using legacytest::Bytes;
using legacytest::Member;
using qv::explode::Explode;
using qv::explode::ExplodeInit;

constexpr uint32_t kReserve = 3;  // bytes of each output area the decoder leaves alone
constexpr uint32_t kChunk = 65520;

struct Variant {
    bool threeTrees;
    bool largeDictionary;
};

Variant VariantOf(uint16_t flags) {
    return {(flags & 4) != 0, (flags & 2) != 0};
}

uint16_t FlagsOf(Variant v) {
    return static_cast<uint16_t>((v.threeTrees ? 4 : 0) | (v.largeDictionary ? 2 : 0));
}

// A state block at an odd address, as a caller's block may be.
class StateBlock {
public:
    explicit StateBlock(Variant v) : block_(qv::explode::ExplodeStateSize() + 1, 0xCC) {
        ExplodeInit(state(), v.threeTrees, v.largeDictionary);
    }
    void* state() { return block_.data() + 1; }

private:
    Bytes block_;
};

legacytest::Run Decode(const Bytes& packed, Variant v, size_t inChunk = kChunk,
                       uint32_t outSpace = kChunk) {
    StateBlock block(v);
    // A trailing area guard: the block's last byte must stay as it was.
    return legacytest::Drive(Explode, block.state(), packed, inChunk, outSpace, kReserve);
}

// ---- An imploder for test streams ----------------------------------------------------------
//
// Greedy LZ77 over the dictionary (positions before the start read as zeros), and fixed-shape
// Shannon-Fano trees whose lengths follow the symbols' frequencies. Its streams are checked by
// Info-ZIP unzip, so they do not depend on our reading of the format.

struct Token {
    bool literal;
    uint8_t byte;
    uint32_t length;
    uint32_t distance;
};

// Code lengths for `count` symbols: the most frequent get the first lengths of `shape`
// (pairs of (how many, length)); the shapes fill the code space exactly.
std::vector<uint8_t> ShapeLengths(const std::vector<uint32_t>& freq,
                                  const std::vector<std::pair<int, int>>& shape) {
    std::vector<uint32_t> order(freq.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return freq[a] > freq[b]; });
    std::vector<uint8_t> lengths(freq.size());
    size_t i = 0;
    for (auto [n, len] : shape) {
        for (int k = 0; k < n; ++k) lengths[order[i++]] = static_cast<uint8_t>(len);
    }
    EXPECT_EQ(i, freq.size());
    return lengths;
}

// Codes as the format builds them: sort by length (stable), give the longest code 0 and each
// next (shorter or equal) code the previous plus 2^(16 - previous length), left-aligned.
std::vector<uint16_t> Codes(const std::vector<uint8_t>& lengths) {
    std::vector<uint32_t> sorted(lengths.size());
    std::iota(sorted.begin(), sorted.end(), 0u);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](uint32_t a, uint32_t b) { return lengths[a] < lengths[b]; });
    std::vector<uint16_t> codes(lengths.size());
    uint32_t code = 0, increment = 0, lastLength = 0;
    for (size_t i = sorted.size(); i-- > 0;) {
        code += increment;
        if (lengths[sorted[i]] != lastLength) {
            lastLength = lengths[sorted[i]];
            increment = 1u << (16 - lastLength);
        }
        codes[sorted[i]] = static_cast<uint16_t>(code);
    }
    return codes;
}

// A tree description: a byte of (runs - 1), then one byte per run of equal lengths (at most 16).
Bytes Describe(const std::vector<uint8_t>& lengths) {
    Bytes runs;
    for (size_t i = 0; i < lengths.size();) {
        size_t n = 1;
        while (i + n < lengths.size() && n < 16 && lengths[i + n] == lengths[i]) ++n;
        runs.push_back(static_cast<uint8_t>((n - 1) << 4 | (lengths[i] - 1)));
        i += n;
    }
    Bytes out{static_cast<uint8_t>(runs.size() - 1)};
    out.insert(out.end(), runs.begin(), runs.end());
    return out;
}

std::vector<Token> Parse(const Bytes& data, Variant v) {
    const uint32_t window = v.largeDictionary ? 8192 : 4096;
    const uint32_t minMatch = v.threeTrees ? 3 : 2;
    const uint32_t maxMatch = minMatch + 63 + 255;
    // The data behind `window` zeros, which a match may reach into.
    Bytes buf(window, 0);
    buf.insert(buf.end(), data.begin(), data.end());
    std::vector<int64_t> head(1 << 16, -1), prev(buf.size(), -1);
    auto hash = [&](size_t p) { return (buf[p] << 8 | buf[p + 1]) & 0xFFFF; };
    for (size_t p = 0; p + 1 < window; ++p) {
        prev[p] = head[hash(p)];
        head[hash(p)] = static_cast<int64_t>(p);
    }
    std::vector<Token> tokens;
    size_t pos = window;
    while (pos < buf.size()) {
        uint32_t bestLen = 0, bestDist = 0;
        if (pos + 1 < buf.size()) {
            int chain = 256;
            for (int64_t cand = head[hash(pos)]; cand >= 0 && chain-- > 0; cand = prev[cand]) {
                const size_t dist = pos - static_cast<size_t>(cand);
                if (dist > window) break;
                uint32_t len = 0;
                while (len < maxMatch && pos + len < buf.size() &&
                       buf[cand + len] == buf[pos + len])
                    ++len;
                if (len > bestLen) bestLen = len, bestDist = static_cast<uint32_t>(dist);
            }
        }
        const uint32_t step = bestLen >= minMatch ? bestLen : 1;
        if (bestLen >= minMatch) {
            tokens.push_back({false, 0, bestLen, bestDist});
        } else {
            tokens.push_back({true, buf[pos], 0, 0});
        }
        for (uint32_t k = 0; k < step; ++k, ++pos) {
            if (pos + 1 < buf.size()) {
                prev[pos] = head[hash(pos)];
                head[hash(pos)] = static_cast<int64_t>(pos);
            }
        }
    }
    return tokens;
}

// Tree shapes: complete codes with lengths up to 10 for literals and 7 for lengths; the
// distance tree is deep on purpose, with codes of 1 to 10, 15 and 16 bits.
const std::vector<std::pair<int, int>> kLiteralShape = {{32, 6}, {96, 8}, {128, 10}};
const std::vector<std::pair<int, int>> kLengthShape = {{16, 5}, {16, 6}, {32, 7}};
const std::vector<std::pair<int, int>> kDistanceShape = {{1, 1}, {1, 2},  {1, 3},   {1, 4},
                                                         {1, 5}, {1, 6},  {1, 7},   {1, 8},
                                                         {1, 9}, {1, 10}, {10, 15}, {44, 16}};

Bytes Implode(const Bytes& data, Variant v) {
    const std::vector<Token> tokens = Parse(data, v);
    const uint32_t minMatch = v.threeTrees ? 3 : 2;
    const uint32_t lowBits = v.largeDictionary ? 7 : 6;
    std::vector<uint32_t> litFreq(256), lenFreq(64), distFreq(64);
    for (const Token& t : tokens) {
        if (t.literal) {
            ++litFreq[t.byte];
        } else {
            ++lenFreq[std::min<uint32_t>(t.length - minMatch, 63)];
            ++distFreq[(t.distance - 1) >> lowBits];
        }
    }
    const auto litLengths = ShapeLengths(litFreq, kLiteralShape);
    const auto lenLengths = ShapeLengths(lenFreq, kLengthShape);
    const auto distLengths = ShapeLengths(distFreq, kDistanceShape);
    const auto litCodes = Codes(litLengths), lenCodes = Codes(lenLengths),
               distCodes = Codes(distLengths);
    BitWriter w;
    if (v.threeTrees) {
        for (uint8_t b : Describe(litLengths)) w.Byte(b);
    }
    for (uint8_t b : Describe(lenLengths)) w.Byte(b);
    for (uint8_t b : Describe(distLengths)) w.Byte(b);
    for (const Token& t : tokens) {
        if (t.literal) {
            w.Bits(1, 1);
            if (v.threeTrees) {
                w.Code16(litCodes[t.byte], litLengths[t.byte]);
            } else {
                w.Bits(t.byte, 8);
            }
            continue;
        }
        w.Bits(0, 1);
        const uint32_t d = t.distance - 1;
        w.Bits(d & ((1u << lowBits) - 1), lowBits);
        const uint32_t high = d >> lowBits;
        w.Code16(distCodes[high], distLengths[high]);
        const uint32_t sym = std::min<uint32_t>(t.length - minMatch, 63);
        w.Code16(lenCodes[sym], lenLengths[sym]);
        if (sym == 63) w.Bits(t.length - minMatch - 63, 8);
    }
    return w.bytes();
}

// Data for the made streams: text, noise, long runs (matches of the longest length and of
// distance 1), a repeat at the dictionary's full distance, and a start of zeros that matches the
// zeros before the first byte.
Bytes SampleData() {
    Bytes data(700, 0);
    const Bytes text = qvtest::TextBytes(30000, 21);
    data.insert(data.end(), text.begin(), text.end());
    data.insert(data.end(), 1000, 'a');
    const Bytes noise = qvtest::RandomBytes(8192, 5);
    data.insert(data.end(), noise.begin(), noise.end());
    data.insert(data.end(), noise.begin(), noise.begin() + 2000);  // 8192 back
    data.insert(data.end(), text.begin(), text.begin() + 5000);
    return data;
}

// ---- Fixtures -------------------------------------------------------------------------------

struct Fixture {
    const char* file;
    Variant variant;
};

const Fixture kFixtures[] = {
    {"zip/legacy/imploding-4Kdict-2trees.zip", {false, false}},
    {"zip/legacy/imploding-8Kdict-3trees.zip", {true, true}},
    {"zip/legacy/zip2-implode.zip", {true, true}},
};

Member FixtureMember(const Fixture& f) {
    const auto members = legacytest::ReadMembers(qvtest::ReadFile(qvtest::DataFile(f.file)));
    EXPECT_EQ(members.size(), 1u);
    EXPECT_EQ(members.at(0).method, 6);
    return members.at(0);
}

TEST(Explode, PkzipMembersDecodeToTheirSizeAndCrc) {
    for (const Fixture& f : kFixtures) {
        SCOPED_TRACE(f.file);
        const Member m = FixtureMember(f);
        const Variant v = VariantOf(m.flags);
        EXPECT_EQ(v.threeTrees, f.variant.threeTrees);
        EXPECT_EQ(v.largeDictionary, f.variant.largeDictionary);
        const auto run = Decode(m.packed, v);
        EXPECT_TRUE(run.ended);
        EXPECT_EQ(run.output.size(), m.size);
        EXPECT_EQ(legacytest::ZipCrc(run.output), m.crc);
        if (qvtest::HaveTool("unzip")) {
            Bytes peer;
            ASSERT_TRUE(legacytest::UnzipToBytes(qvtest::ReadFile(qvtest::DataFile(f.file)), m.name,
                                                 &peer));
            EXPECT_EQ(run.output, peer);
        }
    }
}

TEST(Explode, AnySplitOfInputAndOutputGivesTheSameBytes) {
    // Output areas of 4 bytes (one byte a call), odd sizes below and above the dictionary, and
    // the transfer buffer's size; input from single bytes up. Small areas make most copies
    // reach back into the window kept from earlier calls.
    const std::pair<size_t, uint32_t> splits[] = {{1, 4},         {kChunk, 4}, {3, 5},
                                                  {7, 100},       {1, 1000},   {64, 4099},
                                                  {kChunk, 8195}, {13, 9000},  {1, kChunk}};
    for (const Fixture& f : kFixtures) {
        const Member m = FixtureMember(f);
        const Bytes expected = Decode(m.packed, VariantOf(m.flags)).output;
        for (auto [inChunk, outSpace] : splits) {
            const auto run = Decode(m.packed, VariantOf(m.flags), inChunk, outSpace);
            EXPECT_TRUE(run.ended);
            EXPECT_EQ(run.output, expected) << f.file << " in " << inChunk << " out " << outSpace;
        }
    }
}

TEST(Explode, AllFourVariantsAgreeWithInfoZip) {
    const Bytes data = SampleData();
    for (Variant v :
         {Variant{false, false}, Variant{false, true}, Variant{true, false}, Variant{true, true}}) {
        SCOPED_TRACE(std::string(v.threeTrees ? "3 trees" : "2 trees") +
                     (v.largeDictionary ? ", 8K" : ", 4K"));
        const Bytes packed = Implode(data, v);
        if (qvtest::HaveTool("unzip")) {
            Member m{"DATA.BIN",
                     FlagsOf(v),
                     6,
                     legacytest::ZipCrc(data),
                     static_cast<uint32_t>(data.size()),
                     packed};
            Bytes peer;
            ASSERT_TRUE(legacytest::UnzipToBytes(legacytest::OneMemberZip(m), m.name, &peer));
            ASSERT_EQ(peer, data) << "the test imploder made a stream unzip reads differently";
        }
        for (auto [inChunk, outSpace] :
             {std::pair<size_t, uint32_t>{kChunk, kChunk}, {1, 7}, {5, 257}, {kChunk, 8200}}) {
            const auto run = Decode(packed, v, inChunk, outSpace);
            EXPECT_TRUE(run.ended);
            EXPECT_EQ(run.output, data) << "in " << inChunk << " out " << outSpace;
        }
    }
}

TEST(Explode, LeavesTheLastThreeBytesOfEachArea) {
    // Three times the transfer buffer: each call that stops for room has written exactly 65517.
    Bytes data;
    while (data.size() < 3 * kChunk) {
        const Bytes more = qvtest::TextBytes(20000, static_cast<uint32_t>(data.size()));
        data.insert(data.end(), more.begin(), more.end());
    }
    const Variant v{true, true};
    const Bytes packed = Implode(data, v);
    StateBlock block(v);
    Bytes area(kChunk), output;
    uint32_t offset = 0;
    for (int calls = 0; calls < 10; ++calls) {
        uint32_t taken = static_cast<uint32_t>(packed.size()) - offset, written = kChunk;
        const int32_t result =
            Explode(packed.data(), offset, &taken, area.data(), 0, &written, block.state(), 1);
        output.insert(output.end(), area.begin(), area.begin() + written);
        offset += taken;
        if (result != 0) break;
        EXPECT_EQ(written, kChunk - 3);
    }
    EXPECT_EQ(output, data);
}

TEST(Explode, CopiesBeforeTheFirstByteAreZerosAndLiteralsFollowTheVariant) {
    // Hand-made two-tree stream, 4 KB dictionary, all lengths and distances of 6 bits: a copy
    // of 5 bytes at distance 100 (before the start), then the literal 'Q' as 8 raw bits, then a
    // copy of length symbol 0 at distance 1 (two bytes with two trees, three with three).
    auto stream = [](bool threeTrees) {
        std::vector<uint8_t> lengths(64, 6);
        const auto codes = Codes(lengths);
        BitWriter w;
        if (threeTrees) {
            for (uint8_t b : Describe(std::vector<uint8_t>(256, 8))) w.Byte(b);
        }
        for (uint8_t b : Describe(lengths)) w.Byte(b);
        for (uint8_t b : Describe(lengths)) w.Byte(b);
        const uint32_t minMatch = threeTrees ? 3 : 2;
        w.Bits(0, 1).Bits(99 & 63, 6).Code16(codes[99 >> 6], 6).Code16(codes[5 - minMatch], 6);
        w.Bits(1, 1);
        if (threeTrees) {
            w.Code16(Codes(std::vector<uint8_t>(256, 8))['Q'], 8);
        } else {
            w.Bits('Q', 8);
        }
        w.Bits(0, 1).Bits(0, 6).Code16(codes[0], 6).Code16(codes[0], 6);
        return w.bytes();
    };
    EXPECT_EQ(Decode(stream(false), {false, false}).output, Bytes({0, 0, 0, 0, 0, 'Q', 'Q', 'Q'}));
    EXPECT_EQ(Decode(stream(true), {true, false}).output,
              Bytes({0, 0, 0, 0, 0, 'Q', 'Q', 'Q', 'Q'}));
}

// ---- Damaged streams ------------------------------------------------------------------------

TEST(Explode, BadTreeDescriptionsEndTheStream) {
    // A tree of n symbols has room for n - 1 nodes, which is what a complete prefix code needs:
    // an incomplete code needs more, so only complete codes are accepted.
    const Bytes good64 = Describe(std::vector<uint8_t>(64, 6));
    std::vector<uint8_t> deep(64, 16);  // 64 codes of 16 bits: 73 nodes
    std::vector<uint8_t> incomplete(64, 6);
    std::fill(incomplete.begin() + 48, incomplete.end(), 7);  // 48/64 + 16/128 of the space
    std::vector<uint8_t> oversubscribed(64, 6);
    oversubscribed[0] = 1;  // 1/2 + 63/64 of the space
    std::vector<uint8_t> clash(64, 6);
    clash[63] = 5;  // 63/64 + 1/32: the 5-bit code covers a 6-bit one
    const Bytes cases[] = {
        {0x02, 0xF5, 0xF5, 0xE5},              // 16 + 16 + 15 = 63 symbols, one short
        {0x04, 0xF5, 0xF5, 0xF5, 0xF5, 0x05},  // 65 symbols
        Describe(deep),
        Describe(incomplete),
        Describe(oversubscribed),
        Describe(clash),
    };
    for (const Bytes& bad : cases) {
        for (bool badFirst : {true, false}) {
            BitWriter w;
            for (uint8_t b : badFirst ? bad : good64) w.Byte(b);
            for (uint8_t b : badFirst ? good64 : bad) w.Byte(b);
            for (int i = 0; i < 64; ++i) w.Byte(0x55);  // data that must not be decoded
            const auto run = Decode(w.bytes(), {false, false});
            EXPECT_TRUE(run.ended);
            EXPECT_TRUE(run.output.empty());
        }
    }
    // The literal tree has 256 symbols: 64 described are too few.
    BitWriter w;
    for (const Bytes& d : {good64, good64, good64}) {
        for (uint8_t b : d) w.Byte(b);
    }
    for (int i = 0; i < 64; ++i) w.Byte(0xFF);
    EXPECT_TRUE(Decode(w.bytes(), {true, false}).output.empty());
}

TEST(Explode, TruncatedStreamsEndWithAPrefixOfTheOutput) {
    for (const Fixture& f : kFixtures) {
        const Member m = FixtureMember(f);
        const Bytes full = Decode(m.packed, VariantOf(m.flags)).output;
        // Cuts inside the descriptions, at their end, and through the data.
        for (size_t cut : {size_t{0}, size_t{1}, size_t{5}, size_t{40}, m.packed.size() / 3,
                           m.packed.size() - 1}) {
            const Bytes part(m.packed.begin(), m.packed.begin() + std::min(cut, m.packed.size()));
            for (size_t inChunk : {size_t{1}, size_t{kChunk}}) {
                const auto run = Decode(part, VariantOf(m.flags), inChunk, 1000);
                EXPECT_TRUE(run.ended) << f.file << " cut " << cut;
                ASSERT_LE(run.output.size(), full.size());
                EXPECT_TRUE(std::equal(run.output.begin(), run.output.end(), full.begin()))
                    << f.file << " cut " << cut;
            }
        }
    }
}

TEST(Explode, FlippedBitsAndNoiseEndCleanly) {
    std::mt19937 gen(17);
    for (const Fixture& f : kFixtures) {
        const Member m = FixtureMember(f);
        for (int trial = 0; trial < 60; ++trial) {
            Bytes damaged = m.packed;
            for (int flips = 1 + trial % 4; flips > 0; --flips) {
                damaged[gen() % damaged.size()] ^= static_cast<uint8_t>(1u << (gen() % 8));
            }
            const auto run = Decode(damaged, VariantOf(m.flags), 1 + gen() % 300, 4 + gen() % 5000);
            EXPECT_TRUE(run.ended);
        }
    }
    for (uint32_t seed = 0; seed < 40; ++seed) {
        const Bytes noise = qvtest::RandomBytes(2000 + seed * 50, seed);
        EXPECT_TRUE(Decode(noise, {seed % 2 == 0, seed % 3 == 0}, 333, 777).ended);
    }
}

TEST(Explode, StateBlockAndCallsWithoutData) {
    EXPECT_EQ(qv::explode::ExplodeStateSize(), 9769u);
    // A finished stream stays finished; nothing is taken or written.
    StateBlock block({false, false});
    uint32_t taken = 0, written = 100;
    Bytes area(100);
    EXPECT_EQ(Explode(nullptr, 0, &taken, area.data(), 0, &written, block.state(), 1), 1);
    EXPECT_EQ(written, 0u);
    const Bytes more(10, 0x55);
    taken = 10, written = 100;
    EXPECT_EQ(Explode(more.data(), 0, &taken, area.data(), 0, &written, block.state(), 1), 1);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(written, 0u);
    // Input that ends inside the descriptions without the final flag waits for more.
    StateBlock waiting({false, false});
    const Bytes first(3, 0x0F);
    taken = 3, written = 100;
    EXPECT_EQ(Explode(first.data(), 0, &taken, area.data(), 0, &written, waiting.state(), 0), 0);
    EXPECT_EQ(taken, 3u);
}

}  // namespace
