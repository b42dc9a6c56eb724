// The unshrink decoder: PKZIP-made shrunk members checked against their stored CRC and size and
// against Info-ZIP unzip; long streams made here by a small shrinker (code growth to 13 bits and
// partial clears) held against unzip as well; the calling protocol under many splits; the end
// at the uncompressed size; escapes; and damaged streams, which must end cleanly.
#include "unshrink.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "legacy_test_zip.h"
#include "test_support.h"

namespace {

using legacytest::BitWriter;
using legacytest::Bytes;
using legacytest::Member;
using qv::unshrink::Unshrink;
using qv::unshrink::UnshrinkInit;

constexpr uint32_t kChunk = 65520;

legacytest::Run Decode(const Bytes& packed, uint32_t size, size_t inChunk = kChunk,
                       uint32_t outSpace = kChunk) {
    // At an odd address, as a caller's block may be.
    Bytes block(qv::unshrink::UnshrinkStateSize() + 1, 0xCC);
    UnshrinkInit(block.data() + 1, size);
    return legacytest::Drive(Unshrink, block.data() + 1, packed, inChunk, outSpace, 0);
}

// ---- A shrinker for test streams ------------------------------------------------------------
//
// LZW with 9- to 13-bit codes: the code size grows (256,1) just before a code that needs the
// extra bit, and once the table is full it is partially cleared (256,2), dropping its leaves
// for reuse from the lowest code up. Its streams are checked by Info-ZIP unzip.
class Shrinker {
public:
    Bytes Shrink(const Bytes& data) {
        if (data.empty()) return {};
        uint32_t cur = data[0];
        for (size_t i = 1; i < data.size(); ++i) {
            const uint8_t c = data[i];
            const auto found = strings_.find(Key(cur, c));
            if (found != strings_.end()) {
                cur = found->second;
                continue;
            }
            Emit(cur);
            if (nextFree_ == kTableSize) {
                // A full table: clear it before the next string is defined.
                Emit(256, /*grow=*/false);
                Emit(2, false);
                PartialClear();
                ++clears;
            }
            Define(cur, c);
            cur = c;
        }
        Emit(cur);
        return w_.bytes();
    }

    int clears = 0;
    uint32_t codeSize = 9;

private:
    static constexpr uint32_t kTableSize = 8192;
    static constexpr uint16_t kFree = 0xFFFF;

    static uint32_t Key(uint32_t prefix, uint8_t c) { return prefix << 8 | c; }

    void Emit(uint32_t code, bool grow = true) {
        while (grow && code >= (1u << codeSize)) {
            w_.Bits(256, codeSize).Bits(1, codeSize);
            ++codeSize;
        }
        w_.Bits(code, codeSize);
    }
    void Define(uint32_t prefix, uint8_t c) {
        if (nextFree_ >= kTableSize) return;
        prefix_[nextFree_] = static_cast<uint16_t>(prefix);
        suffix_[nextFree_] = c;
        strings_[Key(prefix, c)] = nextFree_;
        do {
            ++nextFree_;
        } while (nextFree_ < kTableSize && prefix_[nextFree_] != kFree);
    }
    bool HasChildren(uint32_t code) const {
        if (code < 257) return true;  // bytes are never cleared
        for (uint32_t c = 257; c < kTableSize; ++c) {
            if (prefix_[c] == code) return true;
        }
        return false;
    }
    void PartialClear() {
        std::vector<bool> parent(kTableSize);
        for (uint32_t c = 257; c < kTableSize; ++c) {
            if (prefix_[c] != kFree) parent[prefix_[c]] = true;
        }
        strings_.clear();
        for (uint32_t c = 257; c < kTableSize; ++c) {
            if (!parent[c]) prefix_[c] = kFree;
            if (prefix_[c] != kFree) strings_[Key(prefix_[c], suffix_[c])] = c;
        }
        nextFree_ = 257;
        while (nextFree_ < kTableSize && prefix_[nextFree_] != kFree) ++nextFree_;
    }

    std::vector<uint16_t> prefix_ = std::vector<uint16_t>(kTableSize, kFree);
    std::vector<uint8_t> suffix_ = std::vector<uint8_t>(kTableSize);
    std::map<uint32_t, uint32_t> strings_;
    uint32_t nextFree_ = 257;
    BitWriter w_;
};

Bytes LongData() {
    // Enough varied text and noise to fill the table several times.
    Bytes data;
    for (uint32_t seed = 0; data.size() < 240000; ++seed) {
        const Bytes part =
            seed % 3 == 2 ? qvtest::RandomBytes(9000, seed) : qvtest::TextBytes(30000, seed);
        data.insert(data.end(), part.begin(), part.end());
    }
    data.insert(data.end(), 5000, 'z');  // long strings of one byte (the code defined last)
    return data;
}

// ---- Fixtures -------------------------------------------------------------------------------

const char* const kFixtures[] = {"zip/legacy/SHRUNK.ZIP", "zip/legacy/zip2-shrink.zip"};

TEST(Unshrink, PkzipMembersDecodeToTheirSizeAndCrc) {
    int members = 0;
    for (const char* file : kFixtures) {
        const Bytes zip = qvtest::ReadFile(qvtest::DataFile(file));
        for (const Member& m : legacytest::ReadMembers(zip)) {
            SCOPED_TRACE(std::string(file) + " " + m.name);
            ASSERT_EQ(m.method, 1);
            ++members;
            const auto run = Decode(m.packed, m.size);
            EXPECT_TRUE(run.ended);
            EXPECT_EQ(run.output.size(), m.size);
            EXPECT_EQ(legacytest::ZipCrc(run.output), m.crc);
            Bytes peer;
            if (qvtest::HaveTool("unzip") && legacytest::UnzipToBytes(zip, m.name, &peer)) {
                EXPECT_EQ(run.output, peer);
            }
            // Any split of input and output.
            for (auto [inChunk, outSpace] :
                 {std::pair<size_t, uint32_t>{1, 1}, {3, 2}, {1, 100}, {kChunk, 7}, {2, kChunk}}) {
                EXPECT_EQ(Decode(m.packed, m.size, inChunk, outSpace).output, run.output)
                    << "in " << inChunk << " out " << outSpace;
            }
        }
    }
    EXPECT_EQ(members, 3);
}

TEST(Unshrink, LongStreamsWithCodeGrowthAndPartialClearsAgreeWithInfoZip) {
    const Bytes data = LongData();
    Shrinker shrinker;
    const Bytes packed = shrinker.Shrink(data);
    ASSERT_EQ(shrinker.codeSize, 13u);
    ASSERT_GE(shrinker.clears, 3);
    if (qvtest::HaveTool("unzip")) {
        Member m{"DATA.BIN", 0, 1, legacytest::ZipCrc(data), static_cast<uint32_t>(data.size()),
                 packed};
        Bytes peer;
        ASSERT_TRUE(legacytest::UnzipToBytes(legacytest::OneMemberZip(m), m.name, &peer));
        ASSERT_EQ(peer, data) << "the test shrinker made a stream unzip reads differently";
    }
    for (auto [inChunk, outSpace] :
         {std::pair<size_t, uint32_t>{kChunk, kChunk}, {1, 4096}, {777, 13}, {kChunk, 8191}}) {
        const auto run = Decode(packed, static_cast<uint32_t>(data.size()), inChunk, outSpace);
        EXPECT_TRUE(run.ended);
        EXPECT_EQ(run.output, data) << "in " << inChunk << " out " << outSpace;
    }
}

TEST(Unshrink, EndsAtTheUncompressedSize) {
    const Member m = legacytest::ReadMembers(
        qvtest::ReadFile(qvtest::DataFile("zip/legacy/zip2-shrink.zip")))[0];
    const Bytes full = Decode(m.packed, m.size).output;
    // Shorter: the output stops exactly there, even inside a string, and the rest of the input
    // is left alone.
    for (uint32_t size : {1u, 2u, 500u, m.size - 1}) {
        Bytes block(qv::unshrink::UnshrinkStateSize());
        UnshrinkInit(block.data(), size);
        Bytes area(kChunk);
        uint32_t taken = static_cast<uint32_t>(m.packed.size()), written = kChunk;
        EXPECT_EQ(Unshrink(m.packed.data(), 0, &taken, area.data(), 0, &written, block.data(), 1),
                  1);
        EXPECT_EQ(written, size);
        EXPECT_TRUE(std::equal(area.begin(), area.begin() + written, full.begin()));
        EXPECT_LT(taken, m.packed.size());
    }
    // Longer than the data: the stream ends when the input does (with the final flag).
    EXPECT_EQ(Decode(m.packed, m.size + 1000).output, full);
    // Nothing to deliver: the stream ends at once, taking nothing.
    Bytes block(qv::unshrink::UnshrinkStateSize());
    UnshrinkInit(block.data(), 0);
    uint32_t taken = 5, written = 10;
    Bytes area(10);
    EXPECT_EQ(Unshrink(m.packed.data(), 0, &taken, area.data(), 0, &written, block.data(), 0), 1);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(written, 0u);
}

// Hand-made streams of 9-bit codes (and wider after growth requests).
struct Code {
    uint32_t value;
    uint32_t bits = 9;
};

Bytes Codes(std::initializer_list<Code> codes) {
    BitWriter w;
    for (const Code& c : codes) w.Bits(c.value, c.bits);
    return w.bytes();
}

TEST(Unshrink, EscapesAndHandMadeCases) {
    struct Case {
        const char* what;
        Bytes packed;
        std::string output;
    };
    const Case cases[] = {
        {"a code not yet defined is the previous string and its first byte",
         Codes({{'A'}, {257}, {258}}), "AAAAAA"},
        {"escapes other than 1 and 2 are passed over",
         Codes({{'A'}, {256}, {7}, {'B'}, {256}, {0}, {256}, {256}, {257}}), "ABAB"},
        {"the code grows by one bit per request, up to 13",
         Codes({{'A'},
                {256},
                {1},
                {'B', 10},
                {256, 10},
                {1, 10},
                {256, 11},
                {1, 11},
                {256, 12},
                {1, 12},
                {'C', 13},
                {258, 13}}),
         "ABCBC"},
        {"growing beyond 13 bits is damage",
         Codes({{'A'},
                {256},
                {1},
                {256, 10},
                {1, 10},
                {256, 11},
                {1, 11},
                {256, 12},
                {1, 12},
                {'C', 13},
                {256, 13},
                {1, 13},
                {'D', 13}}),
         "AC"},
        {"a first code that is not a byte is damage", Codes({{300}, {'A'}}), ""},
        {"a partial clear frees the leaves; freed codes are reused from the lowest",
         // 257 = AB, 258 = BA, 259 = ABC; the clear keeps 257 (prefix of 259) and frees 258
         // and 259, which are then defined again as CD and DE.
         Codes({{'A'}, {'B'}, {257}, {'C'}, {256}, {2}, {'D'}, {'E'}, {258}, {259}, {257}}),
         "ABABCDECDDEAB"},
        {"a string that runs through a freed code is damage",
         // The clear frees 257 (AB) and 258 (BA); the previous code, 257, is then free, so the
         // next definition (257 again) is its own prefix: using it must end the stream.
         Codes({{'A'}, {'B'}, {257}, {256}, {2}, {'C'}, {257}, {'D'}}), "ABABC"},
    };
    for (const Case& c : cases) {
        for (size_t inChunk : {size_t{1}, size_t{kChunk}}) {
            const auto run = Decode(c.packed, 1000, inChunk, 3);
            EXPECT_TRUE(run.ended) << c.what;
            EXPECT_EQ(std::string(run.output.begin(), run.output.end()), c.output) << c.what;
        }
    }
}

TEST(Unshrink, TruncatedAndDamagedStreamsEndCleanly) {
    Shrinker shrinker;
    const Bytes data = LongData();
    const Bytes packed = shrinker.Shrink(data);
    // Truncated: a prefix of the output, ended by the final flag.
    for (size_t cut : {size_t{0}, size_t{1}, size_t{2}, packed.size() / 2, packed.size() - 1}) {
        const Bytes part(packed.begin(), packed.begin() + cut);
        const auto run = Decode(part, static_cast<uint32_t>(data.size()), 1000, kChunk);
        EXPECT_TRUE(run.ended);
        ASSERT_LE(run.output.size(), data.size());
        EXPECT_TRUE(std::equal(run.output.begin(), run.output.end(), data.begin())) << cut;
    }
    // Flipped bits and noise: any output within the size, and an end.
    std::mt19937 gen(3);
    for (int trial = 0; trial < 40; ++trial) {
        Bytes damaged = packed;
        for (int flips = 1 + trial % 5; flips > 0; --flips) {
            damaged[gen() % damaged.size()] ^= static_cast<uint8_t>(1u << (gen() % 8));
        }
        const auto run =
            Decode(damaged, static_cast<uint32_t>(data.size()), 1 + gen() % 5000, 1 + gen() % 9000);
        EXPECT_TRUE(run.ended);
        EXPECT_LE(run.output.size(), data.size());
    }
    for (uint32_t seed = 0; seed < 30; ++seed) {
        const Bytes noise = qvtest::RandomBytes(3000 + 100 * seed, seed);
        const auto run = Decode(noise, 1u << 20, 999, 4096);
        EXPECT_TRUE(run.ended);
    }
}

}  // namespace
