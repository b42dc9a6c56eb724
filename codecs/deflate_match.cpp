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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "deflate_engine.h"
#include "deflate_tables.h"

namespace qv::deflate {
namespace {

inline uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
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
// it; the loop counts those down instead of keeping runs. firstStretch is that count for the
// starting budget.
template <bool kOrdinary>
inline uint32_t Search(const uint8_t* window, const LinkEntry* links, uint32_t p, uint32_t best,
                       int budget, int firstStretch, uint32_t& matchPos) {
    if (kOrdinary) best = 2;
    const uint8_t* scan = window + p;
    uint16_t scanEnd = Load16(scan + best - 1);
    uint32_t cand = links[p];
    int stretch = firstStretch;
    for (;;) {
        int walked = 0;
        for (;;) {
            if (__builtin_expect(cand == kEmpty, 0)) return best;
            ++walked;
            if (__builtin_expect(Load16(window + cand + best - 1) == scanEnd, 0)) break;
            if (walked == stretch) return best;
            cand = links[cand];
        }
        budget -= walked;
        const uint32_t len = MatchLength(scan, window + cand);
        if (len > best) {
            best = len;
            matchPos = cand;
            if (len == kMaxMatch) return best;
            scanEnd = Load16(scan + best - 1);
        }
        if (budget <= 1) return best;
        stretch = (budget + 1) / 3 * 3;
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
// need not be: both go through the unaligned entry type.)
void ScrubEntries(LinkEntry* first, LinkEntry* last, unsigned chunk) {
    LinkEntry* p = first;
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

}  // namespace

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
    // h(p) = ((b[p] << 10) ^ (b[p+1] << 5) ^ b[p+2]) & 0x1FFF, rolled forward a byte at a time.
    if (count == 0) return;
    uint32_t h = (static_cast<uint32_t>(w[0]) << 5) ^ w[1];
    for (uint32_t i = 0; i < count; ++i) {
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
    const int firstStretch = (budget + 1) / 3 * 3;  // the budget is at least 10
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
