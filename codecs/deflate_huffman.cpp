// deflate_huffman.cpp - blocks: Huffman code construction, the dynamic block header and the
// bit writer that feeds the caller's output a byte at a time.
//
// Every block but the last holds exactly 8192 items. The caller's dynamic flag alone decides
// between the fixed codes and codes built for the block; stored blocks are never written.
#include <algorithm>
#include <array>
#include <cstring>

#include "deflate_engine.h"
#include "deflate_tables.h"

namespace qv::deflate {
namespace {

// Order in which the code-length code's lengths are sent.
constexpr uint8_t kCodeLengthOrder[kCodeLenSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                       11, 4,  12, 3, 13, 2, 14, 1, 15};

// ---- Code construction --------------------------------------------------------------------

uint16_t Reverse(uint32_t code, unsigned bits) {
    uint32_t r = 0;
    for (unsigned i = 0; i < bits; ++i) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return static_cast<uint16_t>(r);
}

// Canonical codes: the next code of length 1 is 0, of length l + 1 it is (next code of l +
// number of codes of length l) * 2; symbols in increasing order take the next code of their
// length.
void AssignCodes(const uint8_t* lengths, unsigned count, uint16_t* codes) {
    unsigned perLength[kMaxCodeBits + 2] = {};
    for (unsigned s = 0; s < count; ++s) ++perLength[lengths[s]];
    uint32_t next[kMaxCodeBits + 2] = {};
    uint32_t code = 0;
    perLength[0] = 0;
    for (unsigned l = 1; l <= kMaxCodeBits; ++l) {
        code = (code + perLength[l - 1]) << 1;
        next[l] = code;
    }
    for (unsigned s = 0; s < count; ++s) {
        const unsigned l = lengths[s];
        codes[s] = l ? Reverse(next[l]++, l) : 0;
    }
}

// A 1-based binary min-heap of groups keyed by frequency alone. An entry holds its group's
// frequency above the ten bits of its merge-tree node, so a sift reads no other table.
struct SymbolHeap {
    static constexpr unsigned kNodeBits = 10;
    static constexpr uint64_t kNodeMask = (1u << kNodeBits) - 1;
    uint64_t entry[kLitLenSymbols + 2];  // [size + 1] is read (and ignored) by a sift
    unsigned size = 0;

    static uint64_t Key(uint64_t e) { return e >> kNodeBits; }

    // The left child is chosen unless the right one is strictly smaller; the moving entry
    // stops at the first child that is not smaller than it.
    void SiftDown(unsigned i) {
        const uint64_t moving = entry[i];
        const uint64_t f = Key(moving);
        for (;;) {
            unsigned child = 2 * i;
            if (child > size) break;
            // The choice indexes the load rather than branching: it is a coin toss to predict.
            child += static_cast<unsigned>(child < size) &
                     static_cast<unsigned>(Key(entry[child + 1]) < Key(entry[child]));
            const uint64_t pick = entry[child];
            if (f <= Key(pick)) break;
            entry[i] = pick;
            i = child;
        }
        entry[i] = moving;
    }
};

// ---- Bit writer -----------------------------------------------------------------------------

inline void StoreLE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void Put(Context& c, uint32_t value, unsigned bits) {
    c.bitBuffer |= static_cast<uint64_t>(value) << c.bitCount;
    c.bitCount += bits;
}

// Run-length codes the literal/length and distance lengths into code-length symbols.
//   0:               pending repeats are flushed, one more zero is counted (flushed at 138);
//   same as before:  one more repeat (flushed at 6);
//   any other:       repeats, then zeros are flushed and the length is sent itself.
// r repeats: r < 3 sends the length r times, else 16 with r - 3. z zeros: z < 3 sends z zeros,
// 3..10 sends 17 with z - 3, 11..138 sends 18 with z - 11.
void RunLengthCode(Context& c, const uint8_t* lengths, unsigned count, uint16_t* clFreq) {
    unsigned n = 0;
    int prev = -1;
    unsigned repeats = 0;
    unsigned zeros = 0;
    auto emit = [&](unsigned symbol, unsigned extra) {
        c.rleSymbol[n] = static_cast<uint8_t>(symbol);
        c.rleExtra[n] = static_cast<uint8_t>(extra);
        ++clFreq[symbol];
        ++n;
    };
    auto flushRepeats = [&] {
        if (repeats < 3) {
            for (unsigned i = 0; i < repeats; ++i) emit(static_cast<unsigned>(prev), 0);
        } else {
            emit(16, repeats - 3);
        }
        repeats = 0;
    };
    auto flushZeros = [&] {
        if (zeros < 3) {
            for (unsigned i = 0; i < zeros; ++i) emit(0, 0);
        } else if (zeros <= 10) {
            emit(17, zeros - 3);
        } else {
            emit(18, zeros - 11);
        }
        zeros = 0;
    };
    for (unsigned i = 0; i < count; ++i) {
        const unsigned len = lengths[i];
        if (len == 0) {
            flushRepeats();
            prev = 0;
            if (++zeros == 138) flushZeros();
        } else if (static_cast<int>(len) == prev) {
            if (++repeats == 6) flushRepeats();
        } else {
            flushRepeats();
            flushZeros();
            emit(len, 0);
            prev = static_cast<int>(len);
        }
    }
    flushRepeats();
    flushZeros();
    c.rleCount = static_cast<uint16_t>(n);
}

void PrepareDynamic(Context& c) {
    // The items' symbol counts, and the end-of-block symbol once.
    uint16_t litFreq[kLitLenSymbols];
    std::copy(std::begin(c.litFreq), std::end(c.litFreq), litFreq);
    ++litFreq[kEndOfBlock];
    BuildHuffmanCode(litFreq, kLitLenSymbols, kMaxCodeBits, c.litLen, c.litCode);
    BuildHuffmanCode(c.distFreq, kDistSymbols, kMaxCodeBits, c.distLen, c.distCode);

    // HLIT covers the used symbols up to 285 (at least 257), HDIST those up to 29 (at least 1).
    unsigned hlit = 257;
    for (unsigned s = 257; s < 286; ++s)
        if (c.litLen[s]) hlit = s + 1;
    unsigned hdist = 1;
    for (unsigned s = 0; s < 30; ++s)
        if (c.distLen[s]) hdist = s + 1;
    c.hlit = static_cast<uint16_t>(hlit);
    c.hdist = static_cast<uint16_t>(hdist);

    // One sequence of lengths: literal/length, then distance.
    uint8_t lengths[286 + 30];
    std::memcpy(lengths, c.litLen, hlit);
    std::memcpy(lengths + hlit, c.distLen, hdist);
    uint16_t clFreq[kCodeLenSymbols] = {};
    RunLengthCode(c, lengths, hlit + hdist, clFreq);
    BuildHuffmanCode(clFreq, kCodeLenSymbols, kMaxCodeLenBits, c.clLen, c.clCode);

    unsigned hclen = 4;
    for (unsigned i = 0; i < kCodeLenSymbols; ++i)
        if (c.clLen[kCodeLengthOrder[i]]) hclen = std::max(hclen, i + 1);
    c.hclen = static_cast<uint16_t>(hclen);
}

// Deflate's fixed codes: literal/length lengths 8 (0-143), 9 (144-255), 7 (256-279) and
// 8 (280-287); 5 for all 32 distance symbols.
void PrepareFixed(Context& c) {
    std::fill(c.litLen, c.litLen + 144, 8);
    std::fill(c.litLen + 144, c.litLen + 256, 9);
    std::fill(c.litLen + 256, c.litLen + 280, 7);
    std::fill(c.litLen + 280, c.litLen + 288, 8);
    std::fill(c.distLen, c.distLen + kDistSymbols, 5);
    AssignCodes(c.litLen, kLitLenSymbols, c.litCode);
    AssignCodes(c.distLen, kDistSymbols, c.distCode);
}

// Writes items [c.blockIndex, c.blockItems). False when the output space ran out; the bits of
// the item last added stay in the bit writer.
bool WriteItems(Engine& e) {
    Context& c = *e.ctx;
    const uint8_t* items = e.items;
    const uint16_t* litCode = c.litCode;
    const uint8_t* litLen = c.litLen;
    const uint32_t* lengthCode = c.lengthCode;
    const uint8_t* lengthBits = c.lengthBits;
    const uint16_t* distCode = c.distCode;
    const uint8_t* distLen = c.distLen;
    const uint32_t n = c.blockItems;
    uint32_t i = c.blockIndex;
    uint32_t off = c.readOffset;
    uint64_t bits = c.bitBuffer;
    uint32_t count = c.bitCount;
    uint8_t* out = e.out;
    uint32_t outLeft = e.outLeft;

    // Adds item i: at most 20 bits for a length and 28 for a distance, `flush` in between.
    auto addItem = [&](uint32_t flags, auto flush) {
        if ((flags >> (i & 15)) & 1) {
            const uint32_t len3 = items[off];
            const uint32_t distance = items[off + 1] | (items[off + 2] << 8);
            off += 3;
            bits |= static_cast<uint64_t>(lengthCode[len3]) << count;
            count += lengthBits[len3];
            flush();
            const unsigned ds = DistanceSymbol(distance);
            const uint32_t dist = distCode[ds] | ((distance - kDistance[ds].base) << distLen[ds]);
            bits |= static_cast<uint64_t>(dist) << count;
            count += distLen[ds] + kDistance[ds].extraBits;
        } else {
            const unsigned lit = items[off++];
            bits |= static_cast<uint64_t>(litCode[lit]) << count;
            count += litLen[lit];
        }
        ++i;
    };
    auto flagsOf = [&](uint32_t index) {
        return static_cast<uint32_t>(items[2 * (index >> 4)] | (items[2 * (index >> 4) + 1] << 8));
    };

    // Wide path: with at least 12 bytes of space an item (at most 8 bytes written, 4 at a
    // time) cannot fill it, so no suspension can fall inside.
    auto flush32 = [&] {
        if (count >= 32) {
            StoreLE32(out, static_cast<uint32_t>(bits));
            out += 4;
            outLeft -= 4;
            bits >>= 32;
            count -= 32;
        }
    };
    while (i < n && outLeft >= 12) {
        const uint32_t flags = flagsOf(i);
        // The rest of this group of 16 items, or as many as the space surely holds.
        const uint32_t groupEnd = std::min({n, (i | 15) + 1, i + (outLeft - 4) / 8});
        while (i < groupEnd) {
            addItem(flags, flush32);
            flush32();
        }
    }

    // Narrow path, near the end of the space: byte by byte, suspending when it fills.
    bool ok = true;
    auto drain = [&] {
        while (count >= 8) {
            if (outLeft == 0) return false;
            *out++ = static_cast<uint8_t>(bits);
            --outLeft;
            bits >>= 8;
            count -= 8;
            if (outLeft == 0) return false;
        }
        return true;
    };
    if (i < n) {
        ok = drain();
        while (ok && i < n) {
            addItem(flagsOf(i), [] {});
            ok = drain();
        }
    }

    c.blockIndex = static_cast<uint16_t>(i);
    c.readOffset = static_cast<uint16_t>(off);
    c.bitBuffer = bits;
    c.bitCount = count;
    e.out = out;
    e.outLeft = outLeft;
    return ok;
}

}  // namespace

void BuildHuffmanCode(const uint16_t* freqIn, unsigned count, unsigned maxBits, uint8_t* lengths,
                      uint16_t* codes) {
    // Merge tree: symbols are nodes 0..count-1, each merge makes the next node after them.
    // A symbol's length is the number of merges its group took part in, which is its depth in
    // this tree.
    uint16_t parent[2 * kLitLenSymbols];
    uint16_t depth[2 * kLitLenSymbols];
    SymbolHeap heap;

    // Step 1: the used symbols, in increasing order, heapified. Heap entries carry the node of
    // their group.
    for (unsigned s = 0; s < count; ++s) {
        depth[s] = 0;
        lengths[s] = 0;
        codes[s] = 0;
        if (freqIn[s] != 0)
            heap.entry[++heap.size] =
                (static_cast<uint64_t>(freqIn[s]) << SymbolHeap::kNodeBits) | s;
    }
    const unsigned used = heap.size;
    heap.entry[used + 1] = 0;
    if (used == 0) return;
    if (used == 1) {
        depth[heap.entry[1] & SymbolHeap::kNodeMask] = 1;
    } else {
        for (unsigned i = used / 2; i >= 1; --i) heap.SiftDown(i);
        // Step 3: merge the two least frequent groups until one is left; the second one's heap
        // entry stands for the merged group.
        unsigned node = count;
        while (heap.size > 1) {
            const uint64_t first = heap.entry[1];
            heap.entry[1] = heap.entry[heap.size--];
            heap.SiftDown(1);
            const uint64_t second = heap.entry[1];
            parent[first & SymbolHeap::kNodeMask] = static_cast<uint16_t>(node);
            parent[second & SymbolHeap::kNodeMask] = static_cast<uint16_t>(node);
            heap.entry[1] =
                ((second & ~SymbolHeap::kNodeMask) + (first & ~SymbolHeap::kNodeMask)) | node;
            heap.SiftDown(1);
            ++node;
        }
        // Parents come after their children: the root (node - 1) first, then down.
        depth[node - 1] = 0;
        for (unsigned n = node - 1; n-- > 0;) {
            if (n < count && freqIn[n] == 0) continue;
            depth[n] = static_cast<uint16_t>(depth[parent[n]] + 1);
        }
    }

    // Step 5: symbols sorted by length, ties by symbol number; counts per length, with every
    // length above the maximum counted as the maximum.
    uint16_t sorted[kLitLenSymbols];
    uint16_t start[kLitLenSymbols + 1] = {};
    for (unsigned s = 0; s < count; ++s)
        if (depth[s]) ++start[depth[s]];
    unsigned total = 0;
    for (unsigned l = 1; l <= kLitLenSymbols; ++l) {
        const unsigned n = start[l];
        start[l] = static_cast<uint16_t>(total);
        total += n;
    }
    for (unsigned s = 0; s < count; ++s)
        if (depth[s]) sorted[start[depth[s]]++] = static_cast<uint16_t>(s);
    unsigned perLength[kMaxCodeBits + 1] = {};
    for (unsigned s = 0; s < count; ++s)
        if (depth[s]) ++perLength[std::min<unsigned>(depth[s], maxBits)];

    // Step 6: length limit. While the code overflows (sum of count * 2^(max - length) above
    // 2^max), move one code from the longest length into a shorter one.
    if (used >= 2) {
        uint32_t sum = 0;
        for (unsigned l = 1; l <= maxBits; ++l) sum += perLength[l] << (maxBits - l);
        while (sum != (1u << maxBits)) {
            --perLength[maxBits];
            unsigned j = maxBits - 1;
            while (j > 1 && perLength[j] == 0) --j;
            --perLength[j];
            perLength[j + 1] += 2;
            --sum;
        }
    }

    // Step 7: the sorted symbols take the (limited) lengths in ascending order.
    unsigned k = 0;
    for (unsigned l = 1; l <= maxBits; ++l)
        for (unsigned m = 0; m < perLength[l]; ++m) lengths[sorted[k++]] = static_cast<uint8_t>(l);

    // Step 8: canonical codes.
    AssignCodes(lengths, count, codes);
}

void PrepareBlock(Engine& e) {
    Context& c = *e.ctx;
    c.blockItems = static_cast<uint16_t>(kBlockItems - c.countdown);
    c.blockDynamic = e.dynamic ? 1 : 0;
    c.blockStep = BlockStep::Header;
    c.blockIndex = 0;
    c.readOffset = kFlagBytes;
    if (c.blockDynamic) {
        PrepareDynamic(c);
    } else {
        PrepareFixed(c);
    }
    for (unsigned i = 0; i < 256; ++i) {
        const LengthSymbol ls = kLengthSymbols[i];
        const unsigned sym = 257 + ls.symbol;
        c.lengthCode[i] = c.litCode[sym] | (static_cast<uint32_t>(ls.extraValue) << c.litLen[sym]);
        c.lengthBits[i] = static_cast<uint8_t>(c.litLen[sym] + ls.extraBits);
    }
}

bool DrainBits(Engine& e) {
    Context& c = *e.ctx;
    while (c.bitCount >= 8) {
        if (e.outLeft == 0) return false;
        *e.out++ = static_cast<uint8_t>(c.bitBuffer);
        --e.outLeft;
        c.bitBuffer >>= 8;
        c.bitCount -= 8;
        // The byte just written filled the space: suspend, even if nothing else is pending.
        if (e.outLeft == 0) return false;
    }
    return true;
}

bool WriteBlock(Engine& e) {
    Context& c = *e.ctx;
    for (;;) {
        switch (c.blockStep) {
            case BlockStep::Header:
                // Final flag, then the block type: 1 fixed codes, 2 dynamic codes.
                Put(c, c.finalBlock, 1);
                if (c.blockDynamic) {
                    Put(c, 2, 2);
                    Put(c, c.hlit - 257u, 5);
                    Put(c, c.hdist - 1u, 5);
                    Put(c, c.hclen - 4u, 4);
                    c.blockStep = BlockStep::CodeLengths;
                } else {
                    Put(c, 1, 2);
                    c.blockStep = BlockStep::Items;
                }
                c.blockIndex = 0;
                if (!DrainBits(e)) return false;
                break;
            case BlockStep::CodeLengths:
                while (c.blockIndex < c.hclen) {
                    Put(c, c.clLen[kCodeLengthOrder[c.blockIndex++]], 3);
                    if (!DrainBits(e)) return false;
                }
                c.blockStep = BlockStep::Rle;
                c.blockIndex = 0;
                break;
            case BlockStep::Rle:
                while (c.blockIndex < c.rleCount) {
                    const unsigned sym = c.rleSymbol[c.blockIndex];
                    Put(c, c.clCode[sym], c.clLen[sym]);
                    // Repeat values: 2 bits after 16, 3 after 17, 7 after 18.
                    if (sym == 16) Put(c, c.rleExtra[c.blockIndex], 2);
                    if (sym == 17) Put(c, c.rleExtra[c.blockIndex], 3);
                    if (sym == 18) Put(c, c.rleExtra[c.blockIndex], 7);
                    ++c.blockIndex;
                    if (!DrainBits(e)) return false;
                }
                c.blockStep = BlockStep::Items;
                c.blockIndex = 0;
                break;
            case BlockStep::Items:
                if (!WriteItems(e)) return false;
                c.blockStep = BlockStep::EndOfBlock;
                break;
            case BlockStep::EndOfBlock:
                Put(c, c.litCode[kEndOfBlock], c.litLen[kEndOfBlock]);
                c.blockStep = BlockStep::Done;
                if (!DrainBits(e)) return false;
                break;
            case BlockStep::Done:
                return true;
        }
    }
}

}  // namespace qv::deflate
