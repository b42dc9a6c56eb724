// deflate_model.cpp - the plain parse model behind deflate_model.h. Everything is done the
// simple way: whole input at once, byte-by-byte compares, literal budget bookkeeping.
#include "deflate_model.h"

#include <algorithm>

namespace qvtest {
namespace {

constexpr unsigned kWindow = 32768;
constexpr unsigned kChunk = 4096;
constexpr uint16_t kEmpty = 0xFFFF;

struct Model {
    std::vector<uint8_t> win = std::vector<uint8_t>(kWindow + 512, 0);
    std::vector<uint16_t> heads = std::vector<uint16_t>(8192, kEmpty);
    std::vector<uint16_t> links = std::vector<uint16_t>(kWindow, kEmpty);
    unsigned limit = 0;

    unsigned Hash(unsigned p) const {
        return ((win[p] << 10) ^ (win[p + 1] << 5) ^ win[p + 2]) & 0x1FFF;
    }

    // Longest match above `best` from the chain of p; runs of three candidates, one budget test
    // per run, a new run after every full compare.
    unsigned Search(unsigned p, unsigned best, unsigned& matchPos) const {
        int budget = static_cast<int>(limit);
        unsigned cand = links[p];
        for (;;) {
            --budget;
            if (budget <= 0) return best;
            bool compared = false;
            for (int k = 0; k < 3 && !compared; ++k) {
                if (k > 0) --budget;
                if (cand == kEmpty) return best;
                if (win[cand + best - 1] == win[p + best - 1] &&
                    win[cand + best] == win[p + best]) {
                    unsigned m = 0;
                    while (m < 258 && win[cand + m] == win[p + m]) ++m;
                    if (m == 258) {
                        matchPos = cand;
                        return 258;
                    }
                    if (m > best) {
                        best = m;
                        matchPos = cand;
                    }
                    compared = true;
                }
                cand = links[cand];
            }
        }
    }
};

}  // namespace

std::vector<DeflateItem> ModelParse(const std::vector<uint8_t>& input, unsigned chainLimit) {
    Model m;
    chainLimit &= 0xFFFF;
    m.limit = chainLimit < 8 ? 10 : std::min(chainLimit, 2048u);
    std::vector<DeflateItem> items;
    bool wrapped = false;
    size_t taken = 0;
    for (unsigned chunk = 0;; chunk = (chunk + 1) % 8) {
        const unsigned base = chunk * kChunk;
        if (wrapped) {
            // Forget everything that points into the chunk about to be overwritten (its own
            // links are left: insertion rewrites them).
            for (uint16_t& h : m.heads)
                if (h != kEmpty && h / kChunk == chunk) h = kEmpty;
            for (unsigned q = 0; q < kWindow; ++q)
                if (q / kChunk != chunk && m.links[q] != kEmpty && m.links[q] / kChunk == chunk)
                    m.links[q] = kEmpty;
        }
        const unsigned n = static_cast<unsigned>(std::min<size_t>(kChunk, input.size() - taken));
        if (n == 0) break;
        std::copy_n(input.begin() + static_cast<ptrdiff_t>(taken), n, m.win.begin() + base);
        taken += n;

        const unsigned inserted = n > 2 ? n - 2 : 0;
        for (unsigned p = base; p < base + inserted; ++p) {
            const unsigned h = m.Hash(p);
            m.links[p] = m.heads[h];
            m.heads[h] = static_cast<uint16_t>(p);
        }
        // Positions never inserted have no chain.
        for (unsigned p = base + inserted; p < base + n; ++p) m.links[p] = kEmpty;
        if (chunk == 0) std::copy_n(m.win.begin(), 257, m.win.begin() + kWindow);

        unsigned p = base, r = n;
        while (r > 0) {
            unsigned s = 0;
            unsigned len = m.Search(p, 2, s);
            if (len < 3) {
                items.push_back(DeflateItem::Literal(m.win[p]));
                ++p, --r;
                continue;
            }
            bool chunkDone = false;
            for (;;) {
                unsigned s2 = 0;
                const unsigned len2 = m.Search(p + 1, len, s2);
                if (len2 <= len) break;
                items.push_back(DeflateItem::Literal(m.win[p]));
                ++p, --r;
                if (r == 0) {
                    chunkDone = true;
                    break;
                }
                len = len2;
                s = s2;
            }
            if (chunkDone) break;
            len = std::min(len, r);
            if (len < 3) {
                items.push_back(DeflateItem::Literal(m.win[p]));
                ++p, --r;
            } else {
                items.push_back(DeflateItem::Match(static_cast<uint16_t>(len),
                                                   static_cast<uint16_t>((p - s) & 0x7FFF)));
                p += len;
                r -= len;
            }
        }
        if (taken == input.size()) break;
        if (chunk == 7) wrapped = true;
    }
    return items;
}

}  // namespace qvtest
