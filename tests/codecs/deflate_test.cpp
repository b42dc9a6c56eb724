// Tests of the deflate engine (QvDeflateBufSize, QvDeflateInit, QvDeflate) and of
// AllocDeflateBuffers. The engine's output is fixed to the byte, so tests check the parse
// (decoded items against a plain model), the blocks and codes, the calling protocol at every
// chunking of input and output, and that zlib and the library's own inflate engine read every
// stream back to its input.
#include "deflate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "deflate_engine.h"
#include "deflate_items.h"
#include "deflate_model.h"
#include "qvarc32.h"

#ifdef QV_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

using qvtest::DecodedDeflate;
using qvtest::DecodeDeflate;
using qvtest::DeflateItem;
using Bytes = std::vector<uint8_t>;

// ---- Inputs ---------------------------------------------------------------------------------

Bytes RandomBytes(size_t n, uint32_t seed, unsigned alphabet = 256) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng() % alphabet);
    return b;
}

Bytes Text(size_t n, uint32_t seed) {
    static const char* const kWords[] = {
        "the ",     "archive ", "member ", "deflate ", "window ", "of ",       "and ",
        "chunk ",   "header ",  "to ",     "a ",       "stream ", "compress ", "block ",
        "Huffman ", "code ",    "length ", "in ",      "\n",      ", ",        ". ",
        "#define ", "int ",     "return ", "(void) ",  "{\n    ", "}\n",       "0x7FFF "};
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const char* w = kWords[rng() % std::size(kWords)];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(n);
    return b;
}

// Long runs and short periodic patterns: matches of every length, many of 258.
Bytes Repetitive(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const unsigned kind = rng() % 3;
        const size_t len = 1 + rng() % (kind == 0 ? 3000 : 400);
        if (kind == 0) {
            b.insert(b.end(), len, static_cast<uint8_t>(rng() % 4));
        } else {
            const unsigned period = 2 + rng() % 9;
            for (size_t i = 0; i < len; ++i) b.push_back(static_cast<uint8_t>('a' + i % period));
        }
    }
    b.resize(n);
    return b;
}

// All 2-byte sequences distinct (a de Bruijn sequence over `alphabet` letters from `first`): no
// 3-byte string repeats, so every byte is a literal item.
Bytes NoRepeats(size_t n, unsigned alphabet = 256, uint8_t first = 0) {
    std::vector<std::vector<bool>> used(alphabet, std::vector<bool>(alphabet, false));
    std::vector<unsigned> seq{0};
    while (seq.size() < n) {
        int next = static_cast<int>(alphabet) - 1;
        while (next >= 0 && used[seq.back()][next]) --next;
        if (next < 0) break;
        used[seq.back()][next] = true;
        seq.push_back(static_cast<unsigned>(next));
    }
    Bytes b;
    for (unsigned x : seq) b.push_back(static_cast<uint8_t>(first + x));
    b.resize(n);
    return b;
}

struct Corpus {
    const char* name;
    Bytes data;
};

std::vector<Corpus> Corpora(size_t n, uint32_t seed) {
    return {{"random", RandomBytes(n, seed)},
            {"random4", RandomBytes(n, seed + 1, 4)},
            {"text", Text(n, seed + 2)},
            {"repetitive", Repetitive(n, seed + 3)}};
}

// ---- Driving the engine ---------------------------------------------------------------------

class Stream {
public:
    Stream() {
        uint32_t s = 0, l = 0, i = 0;
        QvDeflateBufSize(&s, &l, &i);
        state_.assign(s, 0);
        links_.assign(l, 0);
        items_.assign(i, 0);
        Init();
    }
    void Init() { QvDeflateInit(state_.data(), links_.data(), items_.data()); }
    int32_t Call(uint32_t limit, uint32_t dynamic, const uint8_t* in, uint32_t inOffset,
                 uint32_t* inCount, uint8_t* out, uint32_t outOffset, uint32_t* outCount,
                 uint32_t finish) {
        return QvDeflate(limit, dynamic, in, inOffset, inCount, out, outOffset, outCount, finish,
                         state_.data(), links_.data(), items_.data());
    }
    Bytes& state() { return state_; }
    Bytes& links() { return links_; }
    Bytes& items() { return items_; }

private:
    Bytes state_, links_, items_;
};

// Sizes of the input offered and the output space given at each call.
struct Chunking {
    std::function<uint32_t()> in = [] { return 65520u; };
    std::function<uint32_t()> out = [] { return 1u << 20; };
    bool separateFinish = false;  // finish on an extra empty call rather than with the last data
};

Chunking Fixed(uint32_t in, uint32_t out, bool separateFinish = false) {
    return {[in] { return in; }, [out] { return out; }, separateFinish};
}

Chunking RandomSizes(uint32_t seed, uint32_t maxIn, uint32_t maxOut) {
    auto rng = std::make_shared<std::mt19937>(seed);
    return {[rng, maxIn] { return 1 + (*rng)() % maxIn; },
            [rng, maxOut] { return 1 + (*rng)() % maxOut; }, ((*rng)() & 1) != 0};
}

// Compresses `input` in one stream, checking the calling protocol at every call.
Bytes Compress(const Bytes& input, uint32_t limit, uint32_t dynamic, const Chunking& chunking = {},
               Stream* stream = nullptr) {
    Stream own;
    Stream& s = stream ? *stream : own;
    Bytes out;
    // Output goes at an offset inside a larger area, with guard bytes on either side; after a
    // call the bytes just past those reported must still be guard bytes.
    constexpr size_t kGuard = 8, kCheckedTail = 64;
    Bytes area;
    size_t inPos = 0;
    for (int calls = 0;; ++calls) {
        if (calls > 50'000'000) {
            ADD_FAILURE() << "the engine never finished";
            return out;
        }
        uint32_t offered =
            static_cast<uint32_t>(std::min<size_t>(chunking.in(), input.size() - inPos));
        const bool lastData = inPos + offered == input.size();
        const bool finish = lastData && (!chunking.separateFinish || offered == 0);
        const uint32_t space = chunking.out();
        if (area.size() < space + 2 * kGuard) area.assign(space + 2 * kGuard, 0xA5);
        uint32_t inCount = offered, outCount = space;
        const int32_t r = s.Call(limit, dynamic, input.data(), static_cast<uint32_t>(inPos),
                                 &inCount, area.data(), kGuard, &outCount, finish ? 1 : 0);
        if (r != 0 && r != -1) {
            ADD_FAILURE() << "result " << r;
            return out;
        }
        if (inCount > offered || outCount > space) {
            ADD_FAILURE() << "counts beyond what was offered";
            return out;
        }
        const size_t checkedEnd =
            std::min<size_t>(kGuard + space + kGuard, kGuard + outCount + kCheckedTail);
        for (size_t i = 0; i < kGuard; ++i) {
            if (area[i] != 0xA5) {
                ADD_FAILURE() << "bytes written before the offered space";
                return out;
            }
        }
        for (size_t i = kGuard + outCount; i < checkedEnd; ++i) {
            if (area[i] != 0xA5) {
                ADD_FAILURE() << "bytes written beyond those reported";
                return out;
            }
        }
        // Suspension means the output is full, or all input was taken and more may follow.
        if (r == 0 && outCount != space && !(inCount == offered && !finish)) {
            ADD_FAILURE() << "suspended with output space left and input to take";
            return out;
        }
        if (r == -1 && !(finish && inCount == offered)) {
            ADD_FAILURE() << "finished before the input was over";
            return out;
        }
        out.insert(out.end(), area.begin() + kGuard, area.begin() + kGuard + outCount);
        std::fill(area.begin() + kGuard, area.begin() + kGuard + outCount, 0xA5);
        inPos += inCount;
        if (r == -1) break;
    }
    return out;
}

#ifdef QV_HAVE_ZLIB
// zlib's raw inflate, the oracle for every stream.
bool ZlibInflates(const Bytes& stream, const Bytes& expected) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    Bytes out(expected.size() + 1);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int r = inflate(&z, Z_FINISH);
    const bool ok = r == Z_STREAM_END && z.total_out == expected.size() && z.avail_in == 0 &&
                    std::equal(expected.begin(), expected.end(), out.begin());
    inflateEnd(&z);
    return ok;
}
#endif

// Decodes a stream and checks what every stream of the engine must satisfy: it decodes to the
// input, ends with the final block and zero padding, every block but the last holds exactly
// 8192 items, the block type follows the dynamic flag, no item crosses a 4096-byte chunk
// boundary, no distance exceeds 32765, and every dynamic code is complete and within its
// length limit.
DecodedDeflate CheckStream(const Bytes& stream, const Bytes& input, bool dynamic) {
    DecodedDeflate d = DecodeDeflate(stream);
    EXPECT_TRUE(d.ok) << d.error;
    if (!d.ok) return d;
    EXPECT_TRUE(d.data == input) << "decoded data differs from the input";
    EXPECT_EQ(d.bytesUsed, stream.size());
    EXPECT_TRUE(d.zeroPadding);
    for (size_t b = 0; b < d.blocks.size(); ++b) {
        const auto& block = d.blocks[b];
        EXPECT_EQ(block.type, dynamic ? 2u : 1u);
        EXPECT_EQ(block.final, b + 1 == d.blocks.size());
        if (b + 1 < d.blocks.size()) {
            EXPECT_EQ(block.items.size(), 8192u) << "block " << b;
        }
        if (block.type == 2) {
            auto kraft = [](const std::vector<uint8_t>& lengths, unsigned maxBits) {
                uint64_t sum = 0;
                unsigned used = 0;
                for (uint8_t l : lengths) {
                    EXPECT_LE(l, maxBits);
                    if (l) sum += 1ull << (maxBits - l), ++used;
                }
                return used < 2 || sum == (1ull << maxBits);
            };
            EXPECT_TRUE(kraft(block.litLengths, 15)) << "block " << b;
            EXPECT_TRUE(kraft(block.distLengths, 15)) << "block " << b;
            EXPECT_TRUE(kraft(block.clLengths, 7)) << "block " << b;
        }
    }
    size_t pos = 0;
    for (const DeflateItem& item : qvtest::AllItems(d)) {
        EXPECT_EQ(pos / 4096, (pos + item.Size() - 1) / 4096) << "item crosses a chunk at " << pos;
        EXPECT_LE(item.distance, 32765);
        pos += item.Size();
    }
    return d;
}

// ---- Interface and stated vectors ----------------------------------------------------------

TEST(DeflateEngine, ReportsTheBlockSizes) {
    uint32_t s = 0, l = 0, i = 0;
    QvDeflateBufSize(&s, &l, &i);
    EXPECT_EQ(s, 57613u);
    EXPECT_EQ(l, 65536u);
    EXPECT_EQ(i, 25600u);
}

TEST(DeflateEngine, EmptyStreamsAreTheStatedBytesInOneCall) {
    const struct {
        uint32_t dynamic;
        Bytes expected;
    } cases[] = {
        {0, {0x03, 0x00}},
        {1, {0x05, 0xC0, 0x81, 0x08, 0x00, 0x00, 0x00, 0x00, 0x20, 0x7F, 0xEB, 0x03}},
    };
    for (const auto& c : cases) {
        Stream s;
        uint8_t out[64];
        uint32_t inCount = 0, outCount = sizeof out;
        EXPECT_EQ(s.Call(55, c.dynamic, nullptr, 0, &inCount, out, 0, &outCount, 1), -1);
        EXPECT_EQ(Bytes(out, out + outCount), c.expected) << "dynamic " << c.dynamic;
        EXPECT_EQ(inCount, 0u);
    }
}

TEST(DeflateEngine, FourKilobytesOfOneByteAreALiteralAndCutMatches) {
    // 1 literal, 15 matches of 258 at distance 1, and the last match cut to 225 at the chunk end.
    std::vector<DeflateItem> expected{DeflateItem::Literal('x')};
    for (int i = 0; i < 15; ++i) expected.push_back(DeflateItem::Match(258, 1));
    expected.push_back(DeflateItem::Match(225, 1));
    for (uint32_t dynamic : {0u, 1u}) {
        const Bytes input(4096, 'x');
        const DecodedDeflate d = CheckStream(Compress(input, 55, dynamic), input, dynamic);
        EXPECT_EQ(qvtest::AllItems(d), expected);
    }
}

TEST(DeflateEngine, ShortInputsAreLiterals) {
    for (const Bytes& input : {Bytes{7}, Bytes{7, 7}, Bytes{7, 7, 7}, Bytes{1, 2, 3}}) {
        const DecodedDeflate d = CheckStream(Compress(input, 55, 1), input, true);
        ASSERT_EQ(qvtest::AllItems(d).size(), input.size());
        for (const DeflateItem& item : qvtest::AllItems(d)) EXPECT_FALSE(item.IsMatch());
    }
}

TEST(DeflateEngine, ExactlyFullBlocksEndWithAnEmptyFinalBlock) {
    const struct {
        size_t bytes;  // all literals
        std::vector<size_t> blockItems;
    } cases[] = {
        {8191, {8191}},
        {8192, {8192, 0}},
        {8193, {8192, 1}},
        {16384, {8192, 8192, 0}},
    };
    for (const auto& c : cases) {
        for (uint32_t dynamic : {0u, 1u}) {
            SCOPED_TRACE(std::to_string(c.bytes) + " bytes, dynamic " + std::to_string(dynamic));
            const Bytes input = NoRepeats(c.bytes);
            const DecodedDeflate d = CheckStream(Compress(input, 55, dynamic), input, dynamic);
            std::vector<size_t> sizes;
            for (const auto& b : d.blocks) sizes.push_back(b.items.size());
            EXPECT_EQ(sizes, c.blockItems);
        }
    }
}

// ---- The parse against the model ----------------------------------------------------------

TEST(DeflateEngine, ParseMatchesTheModelAtEveryChainLimit) {
    // Sizes cover a partial first chunk, exact chunks, a wrapped window and many blocks.
    const size_t sizes[] = {97, 4095, 4097, 32771, 150000};
    const uint32_t limits[] = {0, 7, 8, 9, 10, 11, 25, 55, 505, 2048, 3000};
    for (size_t size : sizes) {
        for (const Corpus& c : Corpora(size, static_cast<uint32_t>(size))) {
            for (uint32_t limit : limits) {
                if (size > 40000 && limit > 505 && std::string(c.name) == "random4") continue;
                SCOPED_TRACE(std::string(c.name) + " " + std::to_string(size) + " bytes, limit " +
                             std::to_string(limit));
                const uint32_t dynamic = limit % 2;
                const DecodedDeflate d =
                    CheckStream(Compress(c.data, limit, dynamic), c.data, dynamic);
                const auto items = qvtest::AllItems(d);
                const auto model = qvtest::ModelParse(c.data, limit);
                ASSERT_EQ(items.size(), model.size());
                for (size_t i = 0; i < items.size(); ++i)
                    ASSERT_EQ(items[i], model[i]) << "item " << i;
            }
        }
    }
}

TEST(DeflateEngine, ChainLimitsAreClampedAndReadAs16Bits) {
    // Two-letter random input makes chains thousands of candidates long.
    const Bytes input = RandomBytes(40000, 5, 2);
    const struct {
        uint32_t limit, sameAs;
    } cases[] = {{0, 10}, {3, 10}, {7, 10}, {3000, 2048}, {0xFFFF, 2048}, {0x10000 + 25, 25}};
    for (const auto& c : cases) {
        EXPECT_EQ(Compress(input, c.limit, 1), Compress(input, c.sameAs, 1)) << "limit " << c.limit;
    }
    // The neighbouring limits really give other output on this input.
    EXPECT_NE(Compress(input, 8, 1), Compress(input, 10, 1));
    EXPECT_NE(Compress(input, 2000, 1), Compress(input, 2048, 1));
}

TEST(DeflateEngine, TheWindowRingKeepsRecentContentAndScrubsTheChunkBeingRefilled) {
    // A 64-byte pattern recurs at 32868, in the first bytes of the chunk that refills the
    // window's start. From 30000 bytes back its source has been scrubbed with that chunk; from
    // 28672 bytes back it lies in the next chunk, which is still whole. In the third case the
    // pattern's old position (2000) was overwritten by the same pattern (at 34768): the chains
    // must not lead there, or the match would reach 30868 bytes back to content the search
    // never compared.
    const struct {
        const char* what;
        size_t source;
        std::vector<size_t> copies;
        size_t distance;
        bool found;
    } cases[] = {
        {"scrubbed", 32868 - 30000, {32868}, 30000, false},
        {"kept", 32868 - 28672, {32868}, 28672, true},
        {"overwritten alike", 2000, {34768, 32868}, 30868, false},
    };
    for (const auto& c : cases) {
        Bytes input = RandomBytes(40000, 11);
        for (size_t at : c.copies) {
            std::copy_n(input.begin() + static_cast<ptrdiff_t>(c.source), 64,
                        input.begin() + static_cast<ptrdiff_t>(at));
        }
        const DecodedDeflate d = CheckStream(Compress(input, 505, 1), input, true);
        const auto items = qvtest::AllItems(d);
        bool found = false;
        size_t pos = 0;
        for (const DeflateItem& item : items) {
            if (item.distance == c.distance && pos >= 32868 && pos < 32868 + 64) found = true;
            pos += item.Size();
        }
        EXPECT_EQ(found, c.found) << c.what;
        EXPECT_TRUE(items == qvtest::ModelParse(input, 505)) << c.what;
    }
}

TEST(DeflateEngine, EveryScrubPathEmptiesTheSameEntries) {
    // Entries of every chunk, empty ones among them, at each alignment and length the vector
    // loops split into a body and a tail.
    std::mt19937 rng(21);
    std::vector<uint16_t> entries(4200);
    for (uint16_t& v : entries) v = rng() % 5 == 0 ? 0xFFFF : static_cast<uint16_t>(rng() & 0x7FFF);
    const auto paths = qv::deflate::ScrubEntryPaths();
    ASSERT_GE(paths.size(), 1u);
    EXPECT_STREQ(paths[0].name, "portable");
    for (unsigned chunk = 0; chunk < 8; ++chunk) {
        for (size_t first : {0, 1, 7}) {
            for (size_t size : {0, 15, 64, 127, 4096}) {
                std::vector<uint16_t> expected(entries.begin() + first,
                                               entries.begin() + first + size);
                for (uint16_t& v : expected)
                    if (v >> 12 == chunk) v = 0xFFFF;
                for (const auto& path : paths) {
                    std::vector<uint16_t> got = entries;
                    path.scrub(got.data() + first, got.data() + first + size, chunk);
                    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin() + first))
                        << path.name << " chunk " << chunk << " at " << first << " size " << size;
                    EXPECT_TRUE(std::equal(got.begin(), got.begin() + first, entries.begin()) &&
                                std::equal(got.begin() + first + size, got.end(),
                                           entries.begin() + first + size))
                        << path.name << " wrote outside its range";
                }
            }
        }
    }
}

TEST(DeflateEngine, ReachesTheLongestDistance) {
    // Three bytes at the start of chunk 1 recur at the last searchable position of the chunk
    // that follows the wrap: a cut match at distance 32765.
    Bytes input = RandomBytes(36864, 12);
    const size_t source = 4096, at = 32768 + 4093;
    const uint8_t pattern[3] = {0xDE, 0xAD, 0x42};
    std::copy_n(pattern, 3, input.begin() + source);
    std::copy_n(pattern, 3, input.begin() + at);
    const DecodedDeflate d = CheckStream(Compress(input, 55, 0), input, false);
    const auto items = qvtest::AllItems(d);
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items.back(), DeflateItem::Match(3, 32765));
}

// ---- Calling protocol ---------------------------------------------------------------------

TEST(DeflateEngine, EveryChunkingGivesTheSameBytes) {
    const Bytes inputs[] = {Text(70000, 21), RandomBytes(20000, 22), Repetitive(50000, 23)};
    for (const Bytes& input : inputs) {
        for (uint32_t dynamic : {0u, 1u}) {
            const Bytes whole = Compress(input, 55, dynamic);
            const Chunking chunkings[] = {
                Fixed(1, 1 << 20),        Fixed(1, 1 << 20, true),
                Fixed(65520, 1),          Fixed(4096, 7, true),
                Fixed(4097, 3),           Fixed(65535, 65536),
                RandomSizes(1, 9000, 40), RandomSizes(2, 300, 3000),
            };
            for (size_t i = 0; i < std::size(chunkings); ++i) {
                EXPECT_EQ(Compress(input, 55, dynamic, chunkings[i]), whole)
                    << "chunking " << i << ", dynamic " << dynamic;
            }
        }
    }
}

TEST(DeflateEngine, OneByteOfSpacePerCallYieldsOneByteUntilTheCallAfterTheLast) {
    const Bytes input = Text(20000, 31);
    const Bytes whole = Compress(input, 55, 1);
    Stream s;
    Bytes out;
    uint32_t inPos = 0;
    for (;;) {
        uint32_t inCount = static_cast<uint32_t>(input.size()) - inPos, outCount = 1;
        uint8_t byte = 0;
        const int32_t r = s.Call(55, 1, input.data(), inPos, &inCount, &byte, 0, &outCount, 1);
        inPos += inCount;
        if (r == -1) {
            EXPECT_EQ(outCount, 0u) << "the completing call writes nothing";
            break;
        }
        ASSERT_EQ(outCount, 1u);
        out.push_back(byte);
        ASSERT_LE(out.size(), whole.size());
    }
    EXPECT_EQ(out, whole);
}

TEST(DeflateEngine, SpaceEndingExactlyAtTheLastByteSuspendsOnce) {
    for (uint32_t dynamic : {0u, 1u}) {
        const Bytes input = Text(30000, 41 + dynamic);
        const Bytes whole = Compress(input, 25, dynamic);
        Stream s;
        Bytes out(whole.size());
        uint32_t inCount = static_cast<uint32_t>(input.size());
        uint32_t outCount = static_cast<uint32_t>(whole.size());
        EXPECT_EQ(s.Call(25, dynamic, input.data(), 0, &inCount, out.data(), 0, &outCount, 1), 0);
        EXPECT_EQ(outCount, whole.size());
        EXPECT_EQ(out, whole);
        uint8_t more[16];
        uint32_t noInput = 0, space = sizeof more;
        EXPECT_EQ(s.Call(25, dynamic, input.data(), 0, &noInput, more, 0, &space, 1), -1);
        EXPECT_EQ(space, 0u);
        // A call after completion changes nothing and still reports completion.
        noInput = 0, space = sizeof more;
        EXPECT_EQ(s.Call(25, dynamic, input.data(), 0, &noInput, more, 0, &space, 1), -1);
        EXPECT_EQ(space, 0u);
    }
}

TEST(DeflateEngine, OutputLagsInputByAChunkAndABlock) {
    // Input is always taken whole; a chunk is compressed only when full, and nothing is written
    // before a block of 8192 items is complete.
    Stream s;
    const Bytes input = NoRepeats(9000);  // one literal item per byte
    Bytes out(100000);
    const struct {
        uint32_t offset, count;
        bool output;
    } calls[] = {
        {0, 8000, false},    // chunk 0 compressed (4096 items), chunk 1 filling
        {8000, 191, false},  // chunk 1 one byte short
        {8191, 1, true},     // chunk 1 full: its last literal is item 8192
    };
    for (const auto& c : calls) {
        uint32_t inCount = c.count, outCount = static_cast<uint32_t>(out.size());
        EXPECT_EQ(s.Call(55, 1, input.data(), c.offset, &inCount, out.data(), 0, &outCount, 0), 0);
        EXPECT_EQ(inCount, c.count);
        EXPECT_EQ(outCount != 0, c.output) << "at " << c.offset;
    }
}

TEST(DeflateEngine, InputOfferedAfterTheEndIsNotTaken) {
    // The finish flag came with the last input, whose short final chunk completes a block in
    // mid-parse. While that block is written out a byte at a time, the caller (wrongly) offers
    // more input without the flag: the stream still ends where the flag said and takes nothing.
    Bytes input(1000, 'x');
    const Bytes literals = NoRepeats(11000);
    input.insert(input.end(), literals.begin(), literals.end());
    const Bytes expected = Compress(input, 55, 1);
    const Bytes extra = Text(5000, 111);
    Stream s;
    Bytes out;
    uint32_t inCount = static_cast<uint32_t>(input.size()), outCount = 1;
    uint8_t byte = 0;
    ASSERT_EQ(s.Call(55, 1, input.data(), 0, &inCount, &byte, 0, &outCount, 1), 0);
    ASSERT_EQ(inCount, input.size());
    out.push_back(byte);
    for (int32_t r = 0; r == 0;) {
        inCount = static_cast<uint32_t>(extra.size()), outCount = 1;
        r = s.Call(55, 1, extra.data(), 0, &inCount, &byte, 0, &outCount, 0);
        ASSERT_EQ(inCount, 0u);
        out.insert(out.end(), &byte, &byte + outCount);
        ASSERT_LE(out.size(), expected.size());
    }
    EXPECT_EQ(out, expected);
}

TEST(DeflateEngine, BytesGoToBasePlusOffsetOfEachCall) {
    const Bytes input = Text(50000, 51);
    const Bytes whole = Compress(input, 55, 1);
    Stream s;
    Bytes area(whole.size() * 3 + 64, 0xEE);
    std::vector<std::pair<uint32_t, uint32_t>> placed;  // offset, count
    uint32_t inPos = 0, outPos = 5;
    for (int call = 0;; ++call) {
        uint32_t inCount = std::min<uint32_t>(3000, static_cast<uint32_t>(input.size()) - inPos);
        const bool finish = inPos + inCount == input.size();
        uint32_t outCount = 97;
        const int32_t r =
            s.Call(55, 1, input.data(), inPos, &inCount, area.data(), outPos, &outCount, finish);
        placed.emplace_back(outPos, outCount);
        inPos += inCount;
        outPos += outCount + 3;  // leave a gap after every call's bytes
        if (r == -1) break;
        ASSERT_LT(call, 100000);
    }
    Bytes joined;
    for (auto [offset, count] : placed) {
        joined.insert(joined.end(), area.begin() + offset, area.begin() + offset + count);
        for (uint32_t g = 0; g < 3; ++g) EXPECT_EQ(area[offset + count + g], 0xEE);
    }
    EXPECT_EQ(joined, whole);
}

TEST(DeflateEngine, InterleavedStreamsDoNotDisturbEachOther) {
    const Bytes a = Text(60000, 61), b = RandomBytes(30000, 62, 16);
    const Bytes wholeA = Compress(a, 55, 1), wholeB = Compress(b, 8, 0);
    Stream sa, sb;
    Bytes outA, outB;
    uint32_t posA = 0, posB = 0;
    bool doneA = false, doneB = false;
    auto step = [](Stream& s, const Bytes& in, uint32_t& pos, Bytes& out, uint32_t limit,
                   uint32_t dynamic) {
        uint32_t inCount = std::min<uint32_t>(1000, static_cast<uint32_t>(in.size()) - pos);
        const bool finish = pos + inCount == in.size();
        uint8_t buf[50];
        uint32_t outCount = sizeof buf;
        const int32_t r =
            s.Call(limit, dynamic, in.data(), pos, &inCount, buf, 0, &outCount, finish);
        pos += inCount;
        out.insert(out.end(), buf, buf + outCount);
        return r == -1;
    };
    while (!doneA || !doneB) {
        if (!doneA) doneA = step(sa, a, posA, outA, 55, 1);
        if (!doneB) doneB = step(sb, b, posB, outB, 8, 0);
    }
    EXPECT_EQ(outA, wholeA);
    EXPECT_EQ(outB, wholeB);
}

TEST(DeflateEngine, OutputDoesNotDependOnWhatTheBlocksHeldBefore) {
    // Inputs that end inside a chunk make the search compare past the valid bytes, and streams
    // that wrap reuse links: neither may see the blocks' earlier contents, nor a previous stream.
    const Bytes inputs[] = {Text(4000, 71), Repetitive(37000, 72), RandomBytes(33000, 73, 3)};
    for (const Bytes& input : inputs) {
        const Bytes clean = Compress(input, 55, 1);
        Stream dirty;
        std::fill(dirty.state().begin(), dirty.state().end(), 0x5A);
        std::fill(dirty.links().begin(), dirty.links().end(), 0x00);
        std::fill(dirty.items().begin(), dirty.items().end(), 0xC3);
        dirty.Init();
        EXPECT_EQ(Compress(input, 55, 1, {}, &dirty), clean);
        // The same blocks again after another stream.
        dirty.Init();
        Compress(Text(45000, 74), 505, 0, {}, &dirty);
        dirty.Init();
        EXPECT_EQ(Compress(input, 55, 1, {}, &dirty), clean);
    }
}

TEST(DeflateEngine, BlocksMayLieAtAnyAlignment) {
    const Bytes input = Text(40000, 81);
    const Bytes expected = Compress(input, 55, 1);
    for (size_t shift : {1, 3, 7, 33}) {
        Bytes state(qv::kDeflateStateSize + shift), links(qv::kDeflateLinkSize + shift),
            items(qv::kDeflateItemSize + shift);
        uint8_t* st = state.data() + shift;
        uint8_t* li = links.data() + shift;
        uint8_t* it = items.data() + shift;
        QvDeflateInit(st, li, it);
        Bytes out(expected.size() + 100);
        uint32_t inCount = static_cast<uint32_t>(input.size());
        uint32_t outCount = static_cast<uint32_t>(out.size());
        ASSERT_EQ(
            QvDeflate(55, 1, input.data(), 0, &inCount, out.data(), 0, &outCount, 1, st, li, it),
            -1);
        out.resize(outCount);
        EXPECT_EQ(out, expected) << "shift " << shift;
    }
}

TEST(DeflateEngine, SixteenBitFlagsReadOnlyTheLowHalf) {
    const Bytes input = Text(10000, 91);
    // Dynamic flag 0x10000 is zero: fixed codes.
    EXPECT_EQ(Compress(input, 55, 0x10000), Compress(input, 55, 0));
    // A finish flag of 0x10000 is clear: the engine waits for more input.
    Stream s;
    Bytes out(20000);
    uint32_t inCount = static_cast<uint32_t>(input.size()),
             outCount = static_cast<uint32_t>(out.size());
    EXPECT_EQ(s.Call(55, 1, input.data(), 0, &inCount, out.data(), 0, &outCount, 0x10000), 0);
    EXPECT_EQ(inCount, input.size());
}

// ---- Codes and blocks -------------------------------------------------------------------

TEST(DeflateHuffman, BuildsTheStatedCodes) {
    const struct {
        const char* what;
        std::vector<uint16_t> freq;
        unsigned maxBits;
        std::vector<uint8_t> lengths;
        std::vector<uint16_t> codes;  // as sent: bit-reversed
    } cases[] = {
        {"no symbols", {0, 0, 0}, 15, {0, 0, 0}, {0, 0, 0}},
        {"one symbol", {0, 5, 0}, 15, {0, 1, 0}, {0, 0, 0}},
        // Equal frequencies are settled by heap positions: not the flat 2,2,2,2.
        {"ties", {2, 1, 1, 2}, 15, {1, 3, 3, 2}, {0, 3, 7, 1}},
        // Fibonacci frequencies give 5,5,4,3,2,1; limited to 4 bits the longest symbols in
        // (length, symbol) order take the new lengths.
        {"limit 4", {1, 1, 2, 3, 5, 8}, 4, {4, 4, 4, 4, 2, 1}, {3, 11, 7, 15, 1, 0}},
        {"limit 3", {1, 1, 2, 3, 5, 8}, 3, {3, 3, 3, 3, 2, 2}, {1, 5, 3, 7, 0, 2}},
        {"unlimited", {1, 1, 2, 3, 5, 8}, 15, {5, 5, 4, 3, 2, 1}, {15, 31, 7, 3, 1, 0}},
    };
    for (const auto& c : cases) {
        const unsigned n = static_cast<unsigned>(c.freq.size());
        std::vector<uint8_t> lengths(n, 99);
        std::vector<uint16_t> codes(n, 99);
        qv::deflate::BuildHuffmanCode(c.freq.data(), n, c.maxBits, lengths.data(), codes.data());
        EXPECT_EQ(lengths, c.lengths) << c.what;
        EXPECT_EQ(codes, c.codes) << c.what;
    }
}

TEST(DeflateHuffman, LimitedCodesStayComplete) {
    // Fibonacci frequencies give a code as deep as the symbols are many; limited, it must still
    // fill the code space exactly and reach the limit.
    const struct {
        unsigned symbols, used, maxBits;
    } cases[] = {{288, 24, 15}, {288, 288, 15}, {32, 30, 15}, {19, 19, 7}, {19, 12, 7}};
    for (const auto& c : cases) {
        std::vector<uint16_t> freq(c.symbols, 0);
        uint32_t a = 1, b = 1;
        for (unsigned i = 0; i < c.used; ++i) {
            freq[(i * 7) % c.symbols] = static_cast<uint16_t>(std::min<uint32_t>(a, 65535));
            const uint32_t next = a + b;
            a = b;
            b = next;
        }
        std::vector<uint8_t> lengths(c.symbols);
        std::vector<uint16_t> codes(c.symbols);
        qv::deflate::BuildHuffmanCode(freq.data(), c.symbols, c.maxBits, lengths.data(),
                                      codes.data());
        uint64_t kraft = 0;
        unsigned longest = 0;
        for (unsigned s = 0; s < c.symbols; ++s) {
            EXPECT_EQ(lengths[s] != 0, freq[s] != 0);
            if (lengths[s]) kraft += 1ull << (c.maxBits - lengths[s]);
            longest = std::max<unsigned>(longest, lengths[s]);
        }
        EXPECT_EQ(kraft, 1ull << c.maxBits) << c.used << " of " << c.symbols;
        EXPECT_EQ(longest, c.maxBits) << c.used << " of " << c.symbols;
    }
}

TEST(DeflateHuffman, DynamicBlockHeaders) {
    // Literals only: HDIST 1 with a single zero length.
    {
        const Bytes input = NoRepeats(500);
        const DecodedDeflate d = CheckStream(Compress(input, 55, 1), input, true);
        ASSERT_EQ(d.blocks.size(), 1u);
        EXPECT_EQ(d.blocks[0].hdist, 1u);
        EXPECT_EQ(d.blocks[0].distLengths, std::vector<uint8_t>{0});
        EXPECT_EQ(d.blocks[0].hlit, 257u);
    }
    // One match: its distance symbol alone, length 1.
    {
        Bytes input = NoRepeats(300);
        input.insert(input.end(), input.begin() + 10, input.begin() + 30);
        const DecodedDeflate d = CheckStream(Compress(input, 55, 1), input, true);
        ASSERT_EQ(d.blocks.size(), 1u);
        const auto& dist = d.blocks[0].distLengths;
        EXPECT_EQ(std::count(dist.begin(), dist.end(), 1), 1);
        EXPECT_EQ(std::count(dist.begin(), dist.end(), 0), static_cast<long>(dist.size()) - 1);
    }
    // Literals 0 and 140 only: 139 zero lengths between them go as 18 (127) and a lone 0.
    {
        const Bytes input{0, 140};
        const DecodedDeflate d = CheckStream(Compress(input, 55, 1), input, true);
        ASSERT_EQ(d.blocks.size(), 1u);
        const auto& rle = d.blocks[0].lengthCodes;
        ASSERT_GE(rle.size(), 4u);
        EXPECT_EQ(rle[1], std::make_pair(uint8_t{18}, uint8_t{127}));
        EXPECT_EQ(rle[2], std::make_pair(uint8_t{0}, uint8_t{0}));
    }
}

TEST(DeflateHuffman, RunsOfLengthsAreCodedAsStated) {
    // 'a'..'p' in a sequence with every pair of letters once: 257 literals, 'a' 17 times and
    // the others 16 times each.
    const Bytes input = NoRepeats(257, 16, 'a');
    const DecodedDeflate d = CheckStream(Compress(input, 55, 1), input, true);
    ASSERT_EQ(d.blocks.size(), 1u);
    const auto& block = d.blocks[0];
    ASSERT_EQ(block.hlit, 257u);
    const std::vector<uint8_t> letters(block.litLengths.begin() + 'a',
                                       block.litLengths.begin() + 'q');
    ASSERT_EQ(letters, (std::vector<uint8_t>{4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4}));
    ASSERT_EQ(block.litLengths[256], 5);
    // 97 zeros; seven 4s as 4 and six repeats; 5; eight 4s as 4, six repeats and a lone 4;
    // 143 zeros as 138 and 5; 5 for the end of block; the single distance length 0.
    const std::vector<std::pair<uint8_t, uint8_t>> expected{{18, 86}, {4, 0},  {16, 3}, {5, 0},
                                                            {4, 0},   {16, 3}, {4, 0},  {18, 127},
                                                            {17, 2},  {5, 0},  {0, 0}};
    EXPECT_EQ(block.lengthCodes, expected);
}

// ---- Round trips -----------------------------------------------------------------------

// The library's own inflate engine, fed the whole stream with 65520-byte output areas.
bool OurInflateReads(const Bytes& stream, const Bytes& expected) {
    std::vector<uint8_t> state(QvInflateUCBufSize());
    QvInflateUCInit(state.data());
    Bytes out, area(65520);
    uint32_t at = 0;
    for (int calls = 0; calls < 1000000; ++calls) {
        uint32_t taken = static_cast<uint32_t>(stream.size()) - at;
        uint32_t written = static_cast<uint32_t>(area.size());
        const int32_t r =
            QvInflateUC(stream.data(), at, &taken, area.data(), 0, &written, state.data(), 1);
        at += taken;
        out.insert(out.end(), area.begin(), area.begin() + written);
        if (r != 0) return out == expected && at == stream.size();
    }
    return false;
}

TEST(DeflateEngine, InflatersReadEveryStream) {
    const size_t sizes[] = {0, 1, 2, 3, 96, 97, 4095, 4096, 4097, 32765, 32768, 32771, 300000};
    for (size_t size : sizes) {
        for (const Corpus& c : Corpora(size, static_cast<uint32_t>(size * 7 + 1))) {
            for (uint32_t limit : {8u, 25u, 55u, 505u}) {
                for (uint32_t dynamic : {0u, 1u}) {
                    const Bytes z = Compress(c.data, limit, dynamic);
                    const std::string what = std::string(c.name) + " " + std::to_string(size) +
                                             " bytes, limit " + std::to_string(limit) +
                                             ", dynamic " + std::to_string(dynamic);
#ifdef QV_HAVE_ZLIB
                    EXPECT_TRUE(ZlibInflates(z, c.data)) << "zlib: " << what;
#endif
                    EXPECT_TRUE(OurInflateReads(z, c.data)) << "QvInflateUC: " << what;
                }
            }
        }
    }
}

// ---- Buffers for internal callers --------------------------------------------------------

TEST(DeflateBuffers, LevelsDecideWhatIsAllocated) {
    {
        qv::DeflateBuffers b;
        EXPECT_EQ(qv::AllocDeflateBuffers(0, b), QV_OK);
        EXPECT_EQ(b.state, nullptr);
        EXPECT_EQ(b.links, nullptr);
        EXPECT_EQ(b.items, nullptr);
    }
    for (uint16_t level : {5, 9, 0xFFFF}) {
        qv::DeflateBuffers b;
        EXPECT_EQ(qv::AllocDeflateBuffers(level, b), QV_E_METHOD);
        EXPECT_EQ(b.stateBlock, nullptr);
        EXPECT_EQ(b.state, nullptr);
    }
    const Bytes input = Text(20000, 101);
    for (uint16_t level = 1; level <= 4; ++level) {
        qv::DeflateBuffers b;
        ASSERT_EQ(qv::AllocDeflateBuffers(level, b), QV_OK);
        ASSERT_NE(b.state, nullptr);
        ASSERT_NE(b.links, nullptr);
        ASSERT_NE(b.items, nullptr);
        // Ready to use: initialised for a stream.
        Bytes out(30000);
        uint32_t inCount = static_cast<uint32_t>(input.size()),
                 outCount = static_cast<uint32_t>(out.size());
        const uint16_t limit = qv::DeflateChainLimit(level);
        ASSERT_EQ(QvDeflate(limit, 1, input.data(), 0, &inCount, out.data(), 0, &outCount, 1,
                            b.state, b.links, b.items),
                  -1);
        out.resize(outCount);
        EXPECT_EQ(out, Compress(input, limit, 1)) << "level " << level;
    }
}

int g_allocations = 0;
std::unique_ptr<uint8_t[]> FailSecondAllocation(size_t size) {
    if (++g_allocations == 2) return nullptr;
    return std::unique_ptr<uint8_t[]>(new uint8_t[size]);
}

TEST(DeflateBuffers, AFailedAllocationStopsAndKeepsWhatWasMade) {
    g_allocations = 0;
    qv::DeflateBuffers b;
    EXPECT_EQ(qv::AllocDeflateBuffers(2, b, FailSecondAllocation), QV_E_MEMORY);
    EXPECT_EQ(g_allocations, 2) << "no block after the failure";
    EXPECT_NE(b.stateBlock, nullptr);
    EXPECT_EQ(b.state, b.stateBlock.get());
    EXPECT_EQ(b.links, nullptr);
    EXPECT_EQ(b.items, nullptr);
}

}  // namespace
