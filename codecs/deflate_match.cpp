// deflate_match.cpp - match finding and parsing: hash chains over the window ring, the
// longest-match search with its effort budget, lazy evaluation, and items cut at chunk ends.
//
// Window offsets are the positions kept in heads and links. Each chunk is hashed completely
// before it is parsed, so a search starts from the link of its own position (the head may
// already point at later positions of the same chunk). The last two positions of a chunk are
// never inserted and never searched from.
#include <algorithm>
#include <bit>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define QV_DEFLATE_X86 1
#include <immintrin.h>
#else
#define QV_DEFLATE_X86 0
#endif

#include "cpu_paths.h"
#include "deflate_engine.h"
#include "deflate_tables.h"

namespace qv::deflate {
namespace {

inline uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Number of leading bytes in which a and b agree, at most 258. Reads up to 263 bytes from
// each; the window region has room for that past its last position.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b) {
    for (uint32_t i = 0; i < kMaxMatch; i += 8) {
        const uint64_t diff = Load64(a + i) ^ Load64(b + i);
        if (diff != 0) {
            uint32_t n = i;
            if constexpr (std::endian::native == std::endian::little) {
                n += static_cast<uint32_t>(__builtin_ctzll(diff)) / 8;
            } else {
                while (a[n] == b[n]) ++n;
            }
            return std::min(n, kMaxMatch);
        }
    }
    return kMaxMatch;
}

// The longest match for window offset p that is longer than `best` (2 for an ordinary search,
// the held length for a lazy one), following the chain from link[p].
//
// The chain is walked in runs of up to three candidates. Each run begins by taking one from
// the budget and ends the search when the budget is then zero or less; the second and third
// candidates of a run take one each without a test. A candidate is compared in full only when
// its bytes at offsets best-1 and best agree with p's (the quick check); after a full compare
// a new run begins. Of equal lengths the nearest candidate, found first, is kept.
//
// Every candidate costs one from the budget, so from the start of a run with budget b the walk
// can pass 3 * ceil((b - 1) / 3) candidates that fail the quick check before a run's test ends
// it; the loop counts those down instead of keeping runs (Stretch gives that count;
// firstStretch is the count for the starting budget, which is 8 or more).
inline int Stretch(int budget) {
    return (budget + 1) / 3 * 3;
}

template <bool kOrdinary>
inline uint32_t Search(const uint8_t* window, const LinkEntry* links, uint32_t p, uint32_t best,
                       int budget, int firstStretch, uint32_t& matchPos) {
    const uint8_t* scan = window + p;
    uint32_t cand = links[p];
    int stretch = firstStretch;  // an ordinary search sets its own at its first match
    if constexpr (kOrdinary) {
        // Until a match is found the quick check looks at bytes 1 and 2, and a candidate that
        // passes is a match exactly when byte 0 agrees too; otherwise its compare finds
        // nothing and only starts a new run. Such candidates are common (the hash keeps just
        // three bits of byte 0), so this stretch of the walk keeps the run position as data
        // instead of branching on every one. `run` counts the candidates of the current run
        // before this one.
        best = 2;
        const uint32_t head = Load32(scan) & 0xFFFFFF;
        uint32_t run = 0;
        for (;;) {
            --budget;
            if (__builtin_expect((cand == kEmpty) | ((run == 0) & (budget <= 0)), 0)) return best;
            const uint32_t diff = (Load32(window + cand) & 0xFFFFFF) ^ head;
            if (__builtin_expect(diff == 0, 0)) break;
            const uint32_t following = run + 1;
            const uint32_t passed = (diff & 0xFFFF00) == 0;
            run = (following - 3 * (following == 3)) & (passed - 1);
            cand = links[cand];
        }
        // Bytes 0 to 2 agree: the first match, at least 3 long.
        best = MatchLength(scan, window + cand);
        matchPos = cand;
        if (best == kMaxMatch || budget <= 1) return best;
        stretch = Stretch(budget);
        cand = links[cand];
    }
    uint16_t scanEnd = Load16(scan + best - 1);
    for (;;) {
        int left = stretch;
        const uint8_t* quick = window + best - 1;
        for (;;) {
            if (__builtin_expect(cand == kEmpty, 0)) return best;
            if (__builtin_expect(Load16(quick + cand) == scanEnd, 0)) break;
            if (--left == 0) return best;
            cand = links[cand];
        }
        budget -= stretch - left + 1;  // the candidates walked, this one included
        const uint32_t len = MatchLength(scan, window + cand);
        if (len > best) {
            best = len;
            matchPos = cand;
            if (len == kMaxMatch) return best;
            scanEnd = Load16(scan + best - 1);
        }
        if (budget <= 1) return best;
        stretch = Stretch(budget);
        cand = links[cand];
    }
}

// Appends items to the item block. Its counters are kept in locals while a chunk is parsed.
class ItemSink {
public:
    explicit ItemSink(Engine& e)
        : items_(e.items),
          litFreq_(e.ctx->litFreq),
          distFreq_(e.ctx->distFreq),
          acc_(e.ctx->flagAcc),
          flagOffset_(e.ctx->flagOffset),
          itemOffset_(e.ctx->itemOffset),
          countdown_(e.ctx->countdown) {}

    void Save(Context& c) const {
        c.flagAcc = static_cast<uint16_t>(acc_);
        c.flagOffset = static_cast<uint16_t>(flagOffset_);
        c.itemOffset = static_cast<uint16_t>(itemOffset_);
        c.countdown = static_cast<uint16_t>(countdown_);
    }

    // Each returns true when the item completed a block.
    bool Literal(uint8_t byte) {
        items_[itemOffset_++] = byte;
        ++litFreq_[byte];
        return Flag(0);
    }
    // A match is stored as length - 3, then the distance, little-endian.
    bool Match(uint32_t length, uint32_t distance) {
        items_[itemOffset_] = static_cast<uint8_t>(length - kMinMatch);
        items_[itemOffset_ + 1] = static_cast<uint8_t>(distance);
        items_[itemOffset_ + 2] = static_cast<uint8_t>(distance >> 8);
        itemOffset_ += 3;
        ++litFreq_[257 + kLengthSymbols[length - kMinMatch].symbol];
        ++distFreq_[DistanceSymbol(distance)];
        return Flag(1);
    }

private:
    // The accumulator starts at 0x8000; each item shifts it right and enters its flag at bit 15.
    // When the starting bit falls out, the word holds 16 flags (bit j = item j of the group).
    bool Flag(uint32_t flag) {
        const bool complete = acc_ & 1;
        acc_ = (acc_ >> 1) | (flag << 15);
        if (!complete) return false;
        items_[flagOffset_] = static_cast<uint8_t>(acc_);
        items_[flagOffset_ + 1] = static_cast<uint8_t>(acc_ >> 8);
        flagOffset_ += 2;
        acc_ = kFlagStart;
        countdown_ -= 16;
        return countdown_ == 0;
    }

    uint8_t* items_;
    uint16_t* litFreq_;
    uint16_t* distFreq_;
    uint32_t acc_;
    uint32_t flagOffset_;
    uint32_t itemOffset_;
    uint32_t countdown_;
};

}  // namespace

namespace {

// Empties the entries of [first, last) whose value lies in `chunk`. (Heads are aligned, links
// need not be: both go through the unaligned entry type.) This runs over all 49152 entries for
// every chunk refilled, so the widest vectors the CPU has are used.
void ScrubPortable(LinkEntry* p, LinkEntry* last, unsigned chunk) {
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xF000));
    const __m128i inChunk = _mm_set1_epi16(static_cast<short>(chunk << kChunkShift));
    for (; last - p >= 8; p += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hit = _mm_cmpeq_epi16(_mm_and_si128(v, high), inChunk);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_or_si128(v, hit));
    }
#endif
    for (; p < last; ++p) {
        const uint16_t v = *p;
        *p = (v >> kChunkShift) == chunk ? kEmpty : v;
    }
}

#if QV_DEFLATE_X86
__attribute__((target("avx2"))) void ScrubAvx2(LinkEntry* p, LinkEntry* last, unsigned chunk) {
    const __m256i inChunk = _mm256_set1_epi16(static_cast<short>(chunk));
    for (; last - p >= 32; p += 32) {
        auto* at = reinterpret_cast<__m256i*>(p);
        const __m256i a = _mm256_loadu_si256(at);
        const __m256i b = _mm256_loadu_si256(at + 1);
        const __m256i hitA = _mm256_cmpeq_epi16(_mm256_srli_epi16(a, kChunkShift), inChunk);
        const __m256i hitB = _mm256_cmpeq_epi16(_mm256_srli_epi16(b, kChunkShift), inChunk);
        _mm256_storeu_si256(at, _mm256_or_si256(a, hitA));
        _mm256_storeu_si256(at + 1, _mm256_or_si256(b, hitB));
    }
    ScrubPortable(p, last, chunk);
}

__attribute__((target("avx512f,avx512bw"))) void ScrubAvx512(LinkEntry* p, LinkEntry* last,
                                                             unsigned chunk) {
    const __m512i inChunk = _mm512_set1_epi16(static_cast<short>(chunk));
    const __m512i empty = _mm512_set1_epi16(static_cast<short>(kEmpty));
    for (; last - p >= 64; p += 64) {
        auto* at = reinterpret_cast<__m512i*>(p);
        const __mmask32 hitA = _mm512_cmpeq_epi16_mask(
            _mm512_srli_epi16(_mm512_loadu_si512(at), kChunkShift), inChunk);
        const __mmask32 hitB = _mm512_cmpeq_epi16_mask(
            _mm512_srli_epi16(_mm512_loadu_si512(at + 1), kChunkShift), inChunk);
        _mm512_mask_storeu_epi16(at, hitA, empty);
        _mm512_mask_storeu_epi16(at + 1, hitB, empty);
    }
    ScrubPortable(p, last, chunk);
}
#endif

using ScrubPaths = CpuPaths<ScrubPath, 3>;

ScrubPaths DetectScrubPaths() {
    ScrubPaths found;
    found.Add({"portable", ScrubPortable});
#if QV_DEFLATE_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) found.Add({"avx2", ScrubAvx2});
    if (__builtin_cpu_supports("avx512bw")) found.Add({"avx512bw", ScrubAvx512});
#endif
    return found;
}

// The CPU does not change while the process runs: the paths are found once.
const ScrubPaths& DetectedScrubPaths() {
    static const ScrubPaths paths = DetectScrubPaths();
    return paths;
}

void ScrubEntries(LinkEntry* first, LinkEntry* last, unsigned chunk) {
    static const auto scrub = DetectedScrubPaths().Chosen().scrub;
    scrub(first, last, chunk);
}

}  // namespace

std::span<const ScrubPath> ScrubEntryPaths() {
    return DetectedScrubPaths().All();
}

void ScrubChunk(Engine& e, unsigned chunk) {
    // Entries whose value lies in the chunk (value >> 12 == chunk) are emptied; 0xFFFF never
    // matches a chunk number. The chunk's own links are left: the insertion rewrites those it
    // needs, and the others are never read.
    LinkEntry* heads = e.heads;
    ScrubEntries(heads, heads + kHashSize, chunk);
    LinkEntry* own = e.links + chunk * kChunkSize;
    ScrubEntries(e.links, own, chunk);
    ScrubEntries(own + kChunkSize, e.links + kWindowSize, chunk);
}

void InsertChunk(Engine& e) {
    Context& c = *e.ctx;
    const uint32_t base = c.chunk * kChunkSize;
    const uint32_t n = c.chunkFill;
    const uint32_t count = n > 2 ? n - 2 : 0;
    c.searchEnd = static_cast<uint16_t>(base + count);
    const uint8_t* w = e.window + base;
    uint16_t* heads = e.heads;
    LinkEntry* links = e.links + base;
    // h(p) = ((b[p] << 10) ^ (b[p+1] << 5) ^ b[p+2]) & 0x1FFF: sixteen at a time where vectors
    // allow, then rolled forward a byte at a time.
    if (count == 0) return;
    uint32_t i = 0;
#if defined(__SSE2__)
    // The hashes of 16 positions at a time, then the heads and links in order.
    const __m128i zero = _mm_setzero_si128();
    const __m128i mask = _mm_set1_epi16(static_cast<short>(kHashMask));
    alignas(16) uint16_t hashes[16];
    for (; i + 16 <= count; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i + 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i + 2));
        auto hash = [&](__m128i x, __m128i y, __m128i z) {
            return _mm_and_si128(
                _mm_xor_si128(_mm_xor_si128(_mm_slli_epi16(x, 10), _mm_slli_epi16(y, 5)), z), mask);
        };
        _mm_store_si128(reinterpret_cast<__m128i*>(hashes),
                        hash(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                             _mm_unpacklo_epi8(c, zero)));
        _mm_store_si128(reinterpret_cast<__m128i*>(hashes + 8),
                        hash(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                             _mm_unpackhi_epi8(c, zero)));
        for (uint32_t k = 0; k < 16; ++k) {
            links[i + k] = heads[hashes[k]];
            heads[hashes[k]] = static_cast<uint16_t>(base + i + k);
        }
    }
#endif
    uint32_t h = i < count ? (static_cast<uint32_t>(w[i]) << 5) ^ w[i + 1] : 0;
    for (; i < count; ++i) {
        h = ((h << 5) & kHashMask) ^ w[i + 2];
        links[i] = heads[h];
        heads[h] = static_cast<uint16_t>(base + i);
    }
}

bool ParseChunk(Engine& e) {
    Context& c = *e.ctx;
    const uint8_t* w = e.window;
    const LinkEntry* links = e.links;
    const int budget = static_cast<int>(e.chainLimit);
    const int firstStretch = Stretch(budget);
    const uint32_t searchEnd = c.searchEnd;
    uint32_t p = c.parsePos;
    uint32_t left = c.parseLeft;
    bool held = c.held != 0;
    uint32_t heldLen = c.heldLen;
    uint32_t heldPos = c.heldPos;
    ItemSink sink(e);
    bool blockFull = false;

    while (left > 0) {
        if (!held) {
            uint32_t pos = 0;
            const uint32_t len =
                p < searchEnd ? Search<true>(w, links, p, 2, budget, firstStretch, pos) : 2;
            if (len < kMinMatch) {
                blockFull = sink.Literal(w[p]);
                ++p;
                --left;
                if (blockFull) break;
                continue;
            }
            held = true;
            heldLen = len;
            heldPos = pos;
        }
        // Lazy evaluation: does the next position start a strictly longer match? A held match
        // of 258 cannot be beaten.
        uint32_t nextPos = 0;
        const uint32_t nextLen =
            heldLen < kMaxMatch && p + 1 < searchEnd
                ? Search<false>(w, links, p + 1, heldLen, budget, firstStretch, nextPos)
                : heldLen;
        if (nextLen > heldLen) {
            blockFull = sink.Literal(w[p]);
            ++p;
            --left;
            if (left == 0) {
                held = false;
                break;
            }
            heldLen = nextLen;
            heldPos = nextPos;
            if (blockFull) break;
            continue;
        }
        held = false;
        // No item spans two chunks: the match is cut at the chunk's end.
        const uint32_t len = std::min(heldLen, left);
        if (len < kMinMatch) {
            blockFull = sink.Literal(w[p]);
            ++p;
            --left;
        } else {
            // Distance in window offsets, so the ring wrap is taken into account.
            blockFull = sink.Match(len, (p - heldPos) & (kWindowSize - 1));
            p += len;
            left -= len;
        }
        if (blockFull) break;
    }

    sink.Save(c);
    c.parsePos = static_cast<uint16_t>(p);
    c.parseLeft = static_cast<uint16_t>(left);
    c.held = held ? 1 : 0;
    c.heldLen = static_cast<uint16_t>(heldLen);
    c.heldPos = static_cast<uint16_t>(heldPos);
    return !blockFull;
}

}  // namespace qv::deflate
