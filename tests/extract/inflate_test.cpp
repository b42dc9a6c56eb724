// The inflate engine through its exports: zlib-made streams under many splits of input and
// output, hand-made streams for every data error and edge, and the caller's state block.
//
// Exact counts are checked against a reference model: a plain bit-at-a-time decoder that logs,
// in order, every input byte the engine must count as read, every window hand-out, data errors
// and the end. Replaying that log against any split of input and output gives the result and
// both counts each call must report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "qvarc32.h"
#include "le_bytes.h"
#include "test_support.h"

#ifdef QV_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

using qvtest::Bytes;

constexpr uint32_t kBlockSize = 39028;
constexpr uint32_t kChunk = 65520;  // the member decoder's transfer buffers
constexpr uint32_t kWindow = 32768;

Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// ---- Hand-made streams --------------------------------------------------------------------

using qvtest::BitWriter;

const uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Canonical codes (RFC 1951, 3.2.2) for a list of code lengths.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    uint32_t count[16] = {}, next[16] = {};
    for (uint8_t l : lengths) count[l]++;
    count[0] = 0;
    for (uint32_t l = 1, code = 0; l < 16; ++l) {
        code = (code + count[l - 1]) << 1;
        next[l] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
    }
    return codes;
}

// A Huffman code for writing symbols.
struct Coder {
    explicit Coder(std::vector<uint8_t> l)
        : lengths(std::move(l)), codes(CanonicalCodes(lengths)) {}
    void Put(BitWriter& w, uint32_t symbol) const { w.Code(codes.at(symbol), lengths.at(symbol)); }
    std::vector<uint8_t> lengths;
    std::vector<uint32_t> codes;
};

Coder FixedLitLen() {
    std::vector<uint8_t> l(288, 8);
    std::fill(l.begin() + 144, l.begin() + 256, 9);
    std::fill(l.begin() + 256, l.begin() + 280, 7);
    return Coder(l);
}
Coder FixedDist() {
    return Coder(std::vector<uint8_t>(32, 5));
}

// A length and distance pair with the given codes.
void PutMatch(BitWriter& w, const Coder& lit, const Coder& dist, uint32_t length, uint32_t d) {
    int ls = 28;
    while (kLenBase[ls] > length) --ls;
    lit.Put(w, 257 + ls);
    w.Bits(length - kLenBase[ls], kLenExtra[ls]);
    int ds = 29;
    while (kDistBase[ds] > d) --ds;
    dist.Put(w, ds);
    w.Bits(d - kDistBase[ds], kDistExtra[ds]);
}

// A dynamic block header that sends every code length as a plain 4-bit code-length symbol.
void PutDynamicHeader(BitWriter& w, bool last, const std::vector<uint8_t>& lit,
                      const std::vector<uint8_t>& dist) {
    w.Bits(last, 1).Bits(2, 2);
    w.Bits(static_cast<uint32_t>(lit.size() - 257), 5)
        .Bits(static_cast<uint32_t>(dist.size() - 1), 5);
    w.Bits(15, 4);
    for (uint8_t s : kOrder) w.Bits(s < 16 ? 4 : 0, 3);
    for (uint8_t l : lit) w.Code(l, 4);
    for (uint8_t l : dist) w.Code(l, 4);
}

// Code lengths for a literal/length alphabet: the named symbols, all others unused.
std::vector<uint8_t> Lengths(size_t size, std::initializer_list<std::pair<uint32_t, uint8_t>> set) {
    std::vector<uint8_t> l(size, 0);
    for (auto [s, len] : set) l.at(s) = len;
    return l;
}

// A non-final fixed block with "abc": the output every error case must still deliver.
BitWriter AbcThen() {
    BitWriter w;
    w.Bits(0, 1).Bits(1, 2);
    const Coder lit = FixedLitLen();
    for (char c : std::string("abc")) lit.Put(w, static_cast<uint8_t>(c));
    lit.Put(w, 256);
    return w;
}

// ---- Reference model ----------------------------------------------------------------------

enum class Ev : uint8_t { kFetch, kFlush, kError, kEnd };
struct Event {
    Ev kind;
    uint32_t size;  // bytes handed out by a flush
};
struct Trace {
    std::vector<Event> events;
    Bytes output;
};

class Reference {
public:
    explicit Reference(const Bytes& in) : in_(in) {}

    Trace Run() {
        Fetch(2);
        sync_ = 2;
        for (;;) {
            const uint32_t header = Bits(pos_, 3);
            bool ok = Take(3);
            if (ok) {
                switch (header >> 1) {
                    case 0:
                        ok = Stored();
                        break;
                    case 1: {
                        const Coder f = FixedLitLen(), d = FixedDist();
                        lit_ = Code(f.lengths);
                        dist_ = Code(d.lengths);
                        ok = Data();
                        break;
                    }
                    case 2:
                        ok = Dynamic() && Data();
                        break;
                    default:
                        ok = false;
                }
            }
            if (!ok) {
                trace_.events.push_back({Ev::kError, 0});
                Hand();
                break;
            }
            if (header & 1) {
                Hand();
                break;
            }
        }
        trace_.events.push_back({Ev::kEnd, 0});
        return std::move(trace_);
    }

private:
    // A canonical code, decoded the way RFC 1951 describes it: count codes per length.
    struct Code {
        Code() = default;
        explicit Code(const std::vector<uint8_t>& lengths) {
            int left = 1;
            for (uint8_t l : lengths) count[l]++;
            count[0] = 0;
            for (int l = 1; l < 16; ++l) {
                left = left * 2 - count[l];
                if (left < 0) return;  // over-subscribed
                used += count[l];
            }
            for (int l = 1; l < 16; ++l) {
                for (size_t s = 0; s < lengths.size(); ++s) {
                    if (lengths[s] == l) symbols.push_back(static_cast<uint16_t>(s));
                }
            }
            complete = left == 0;
            ok = complete || used <= 1;
        }
        int count[16] = {};
        std::vector<uint16_t> symbols;
        int used = 0;
        bool complete = false, ok = false;
    };

    uint32_t Byte(uint64_t i) const { return i < in_.size() ? in_[i] : 0; }
    uint32_t Bits(uint64_t at, uint32_t n) const {
        uint32_t v = 0;
        for (uint32_t i = 0; i < n; ++i) v |= ((Byte((at + i) / 8) >> ((at + i) % 8)) & 1) << i;
        return v;
    }

    // Reading counts bytes: the rest of the current byte plus the whole next, or the two of a
    // refill while none of them is used.
    void Fetch(uint64_t count) {
        for (; fetched_ < count; ++fetched_) trace_.events.push_back({Ev::kFetch, 0});
    }
    void Official() { Fetch(std::max(sync_, (pos_ + 7) / 8 + 1)); }
    // Takes a unit's bits; false when the unit ends too far into the zero padding after the
    // end of the input (more than 56 bits).
    bool Take(uint64_t n) {
        pos_ += n;
        Official();
        return pos_ <= in_.size() * 8 + 56;
    }
    // A data error `depth` bits into a code at `at`: codes are looked up 8 bits at a time, a
    // deeper gap shows after the bits before it.
    bool ErrorAt(uint64_t at, uint32_t depth) {
        pos_ = at + (depth > 8 ? depth - 1 : 0);
        Official();
        return false;
    }

    // Decodes a code at pos_: the symbol and its length, or -1 and the depth of the gap.
    int Decode(const Code& c, uint32_t* length, uint32_t* depth) const {
        if (c.used == 0) {
            *depth = 1;
            return -1;
        }
        if (!c.complete) {  // one code, of all zero bits
            uint32_t l = 1;
            while (c.count[l] == 0) ++l;
            for (uint32_t i = 0; i < l; ++i) {
                if (Bits(pos_ + i, 1)) {
                    *depth = i + 1;
                    return -1;
                }
            }
            *length = l;
            return c.symbols[0];
        }
        int code = 0, first = 0, index = 0;
        for (int l = 1; l < 16; ++l) {
            code |= static_cast<int>(Bits(pos_ + l - 1, 1));
            if (code - first < c.count[l]) {
                *length = l;
                return c.symbols[index + code - first];
            }
            index += c.count[l];
            first = (first + c.count[l]) << 1;
            code <<= 1;
        }
        ADD_FAILURE() << "complete code did not decode";
        return -1;
    }

    void Emit(uint8_t b) {
        trace_.output.push_back(b);
        if (++winFill_ == kWindow) Hand();
    }
    void Hand() {
        trace_.events.push_back({Ev::kFlush, winFill_});
        winFill_ = 0;
    }

    bool Stored() {
        const uint64_t at = (pos_ + 7) / 8;  // LEN starts on the next byte boundary
        Fetch(at + 4);
        const uint32_t len = Byte(at) | Byte(at + 1) << 8, nlen = Byte(at + 2) | Byte(at + 3) << 8;
        pos_ = (at + 4) * 8;
        if (nlen != (~len & 0xFFFF)) return false;
        for (uint32_t i = 0; i < len; ++i) {
            Fetch(at + 5 + i);
            Emit(static_cast<uint8_t>(Byte(at + 4 + i)));
        }
        pos_ += 8ull * len;
        sync_ = pos_ / 8 + 2;
        Fetch(sync_);
        return true;
    }

    bool Dynamic() {
        const uint32_t hlit = Bits(pos_, 5) + 257;
        if (!Take(5) || hlit > 286) return false;
        const uint32_t hdist = Bits(pos_, 5) + 1;
        if (!Take(5) || hdist > 30) return false;
        const uint32_t hclen = Bits(pos_, 4) + 4;
        if (!Take(4)) return false;
        std::vector<uint8_t> pre(19, 0);
        for (uint32_t i = 0; i < hclen; ++i) {
            pre[kOrder[i]] = static_cast<uint8_t>(Bits(pos_, 3));
            if (!Take(3)) return false;
        }
        const Code precode(pre);
        if (!precode.ok) return false;
        std::vector<uint8_t> lengths;
        while (lengths.size() < hlit + hdist) {
            uint32_t len = 0, depth = 0;
            const int sym = Decode(precode, &len, &depth);
            if (sym < 0) return ErrorAt(pos_, depth);
            uint32_t value = sym, repeat = 1;
            if (sym >= 16) {
                const uint32_t extra[3] = {2, 3, 7}, base[3] = {3, 3, 11};
                repeat = base[sym - 16] + Bits(pos_ + len, extra[sym - 16]);
                value = sym == 16 && !lengths.empty() ? lengths.back() : 0;
                len += extra[sym - 16];
            }
            if (!Take(len) || lengths.size() + repeat > hlit + hdist) return false;
            lengths.insert(lengths.end(), repeat, static_cast<uint8_t>(value));
        }
        std::vector<uint8_t> litLengths(lengths.begin(), lengths.begin() + hlit);
        std::vector<uint8_t> distLengths(lengths.begin() + hlit, lengths.end());
        litLengths.resize(288);
        distLengths.resize(32);
        lit_ = Code(litLengths);
        dist_ = Code(distLengths);
        return lit_.ok && dist_.ok;
    }

    bool Data() {
        for (;;) {
            uint32_t len = 0, depth = 0;
            const int sym = Decode(lit_, &len, &depth);
            if (sym < 0) return ErrorAt(pos_, depth);
            if (sym >= 286) return ErrorAt(pos_, 0);
            if (sym < 256) {
                if (!Take(len)) return false;
                Emit(static_cast<uint8_t>(sym));
                continue;
            }
            if (sym == 256) return Take(len);
            const uint64_t start = pos_;
            pos_ += len;
            const uint32_t length = kLenBase[sym - 257] + Bits(pos_, kLenExtra[sym - 257]);
            pos_ += kLenExtra[sym - 257];
            const int ds = Decode(dist_, &len, &depth);
            if (ds < 0) return ErrorAt(pos_, depth);
            if (ds >= 30) return ErrorAt(pos_, 0);
            pos_ += len;
            const uint32_t d = kDistBase[ds] + Bits(pos_, kDistExtra[ds]);
            pos_ += kDistExtra[ds];
            const uint64_t used = pos_ - start;
            pos_ = start;
            if (!Take(used)) return false;
            // Before the first byte the history is zeros.
            for (uint32_t i = 0; i < length; ++i) {
                const size_t n = trace_.output.size();
                trace_.output.push_back(n >= d ? trace_.output[n - d] : 0);
            }
            winFill_ += length;
            if (winFill_ >= kWindow) Hand();
        }
    }

    const Bytes& in_;
    Trace trace_;
    uint64_t pos_ = 0, fetched_ = 0, sync_ = 0;
    uint32_t winFill_ = 0;
    Code lit_, dist_;
};

// ---- Driving the engine -------------------------------------------------------------------

struct Call {
    int32_t result;
    uint32_t given, taken, space, written;
    bool operator==(const Call&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Call& c) {
    return os << "{result " << c.result << ", taken " << c.taken << "/" << c.given << ", written "
              << c.written << "/" << c.space << "}";
}

struct Decoded {
    std::vector<Call> calls;
    Bytes output;
};

// One decoder call: input area and offset, count given, output area, space, final flag.
using Decoder = std::function<Call(const uint8_t*, uint32_t, uint32_t, uint8_t*, uint32_t, bool)>;

// Feeds `stream` the way the protocol asks: input in pieces of the sizes in `inSizes` (cycled),
// what a call leaves untaken offered again, final set with the piece that ends the stream, and
// a fresh output area of the next size in `outSizes` for every call.
Decoded Drive(const Bytes& stream, const std::vector<uint32_t>& inSizes,
              const std::vector<uint32_t>& outSizes, const Decoder& decode) {
    Decoded run;
    size_t pieceStart = 0, pieceEnd = std::min<size_t>(inSizes[0], stream.size()), next = 1;
    size_t offset = 0;
    Bytes area(*std::max_element(outSizes.begin(), outSizes.end()));
    for (size_t k = 0;; ++k) {
        if (k > 20'000'000) {
            ADD_FAILURE() << "no end after 20 million calls";
            break;
        }
        const bool final = pieceEnd == stream.size();
        const uint32_t given = static_cast<uint32_t>(pieceEnd - pieceStart - offset);
        const uint32_t space = outSizes[k % outSizes.size()];
        Call c = decode(stream.data() + pieceStart, static_cast<uint32_t>(offset), given,
                        area.data(), space, final);
        run.calls.push_back(c);
        run.output.insert(run.output.end(), area.begin(), area.begin() + c.written);
        if (c.result != 0) break;
        const bool allTaken = c.taken == given, full = c.written == space;
        if (!allTaken && !full) {
            ADD_FAILURE() << "call " << k << " returned 0 with input left and room: " << c;
            break;
        }
        if (final && allTaken && !full) {
            ADD_FAILURE() << "call " << k << " waits for input after the final piece: " << c;
            break;
        }
        offset += c.taken;
        if (allTaken && !final) {
            pieceStart = pieceEnd;
            pieceEnd =
                std::min<size_t>(pieceStart + inSizes[next++ % inSizes.size()], stream.size());
            offset = 0;
        }
    }
    return run;
}

// The engine, in a block placed `misalign` bytes past an 8-byte boundary, with guard bytes
// around the block and around the output area.
class Engine {
public:
    explicit Engine(uint32_t misalign = 1) : buffer_(kBlockSize + 64, kGuard), at_(16 + misalign) {
        QvInflateUCInit(state());
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    ~Engine() {
        for (size_t i = 0; i < buffer_.size(); ++i) {
            if (i < at_ || i >= at_ + kBlockSize) {
                EXPECT_EQ(buffer_[i], kGuard) << "write outside the state block at " << i;
            }
        }
    }
    void* state() { return buffer_.data() + at_; }

    Call operator()(const uint8_t* in, uint32_t offset, uint32_t given, uint8_t* out,
                    uint32_t space, bool final) {
        if (area_.size() < space + 32) area_.assign(space + 32, kGuard);
        uint32_t taken = given, written = space;
        // Only the low 16 bits of the final flag count.
        const int32_t r = QvInflateUC(in, offset, &taken, area_.data(), 16, &written, state(),
                                      final ? 0x10001u : 0x10000u);
        EXPECT_LE(taken, given);
        EXPECT_LE(written, space);
        written = std::min(written, space);
        // Nothing is written before the area or after the bytes reported (checked near them
        // and past the area's end).
        auto guarded = [&](size_t from, size_t to) {
            for (size_t i = from; i < std::min(to, area_.size()); ++i) {
                if (area_[i] != kGuard) return false;
            }
            return true;
        };
        EXPECT_TRUE(guarded(0, 16) && guarded(16 + written, 16 + written + 64) &&
                    guarded(16 + space, 32 + space))
            << "the output area changed outside the bytes written (" << written << ")";
        if (written != 0) std::memcpy(out, area_.data() + 16, written);
        std::memset(area_.data(), kGuard, std::min(area_.size(), size_t{16} + written + 64));
        return {r, given, taken, space, written};
    }
    // The same, for an input area without offset.
    Call operator()(const uint8_t* in, uint32_t given, uint8_t* out, uint32_t space, bool final) {
        return (*this)(in, 0, given, out, space, final);
    }

private:
    static constexpr uint8_t kGuard = 0xA5;
    Bytes buffer_;
    size_t at_;
    Bytes area_;
};

// Replays a reference trace for the same calls.
class Replay {
public:
    Replay(const Trace& t, size_t streamSize) : t_(t), size_(streamSize) {}
    Call operator()(const uint8_t*, uint32_t, uint32_t given, uint8_t*, uint32_t space,
                    bool final) {
        const uint64_t begin = std::min(fetched_, size_);
        uint32_t written = 0;
        for (;;) {
            const Event& e = t_.events[at_];
            switch (e.kind) {
                case Ev::kFetch:
                    if (fetched_ < begin + given || (fetched_ >= size_ && final)) {
                        ++fetched_;
                        ++at_;
                        continue;
                    }
                    return {0, given, given, space, written};
                case Ev::kFlush: {
                    const uint32_t n = std::min(e.size - flushed_, space - written);
                    written += n;
                    flushed_ += n;
                    if (written == space && (n != 0 || flushed_ != e.size)) {
                        return {0, given, Taken(begin, given), space, written};
                    }
                    flushed_ = 0;
                    ++at_;
                    continue;
                }
                case Ev::kError:
                    failed_ = true;
                    ++at_;
                    continue;
                case Ev::kEnd:
                    return {-1, given, Taken(begin, given), space, written};
            }
        }
    }

private:
    uint32_t Taken(uint64_t begin, uint32_t given) const {
        return failed_ ? given : static_cast<uint32_t>(std::min(fetched_, size_) - begin);
    }
    const Trace& t_;
    uint64_t size_;
    size_t at_ = 0;
    uint64_t fetched_ = 0;
    uint32_t flushed_ = 0;
    bool failed_ = false;
};

// Decodes `stream` with the engine and checks every call against the reference model.
// Returns the engine's run.
Decoded CheckAgainstModel(const Bytes& stream, const std::vector<uint32_t>& inSizes,
                          const std::vector<uint32_t>& outSizes, const Trace& model,
                          uint32_t misalign = 1) {
    Engine engine(misalign);
    Decoded got = Drive(stream, inSizes, outSizes, [&](auto... a) { return engine(a...); });
    Replay replay(model, stream.size());
    const Decoded want = Drive(stream, inSizes, outSizes, [&](auto... a) { return replay(a...); });
    if (got.output != model.output) {
        const auto diff = std::mismatch(got.output.begin(), got.output.end(), model.output.begin(),
                                        model.output.end());
        ADD_FAILURE() << "decoded " << got.output.size() << " bytes, the model "
                      << model.output.size() << "; first difference at "
                      << (diff.first - got.output.begin());
    }
    const size_t n = std::min(got.calls.size(), want.calls.size());
    for (size_t i = 0; i < n; ++i) {
        if (!(got.calls[i] == want.calls[i])) {
            ADD_FAILURE() << "call " << i << ": engine " << got.calls[i] << ", model "
                          << want.calls[i];
            return got;
        }
    }
    EXPECT_EQ(got.calls.size(), want.calls.size());
    return got;
}

Decoded CheckAgainstModel(const Bytes& stream, const std::vector<uint32_t>& inSizes,
                          const std::vector<uint32_t>& outSizes) {
    return CheckAgainstModel(stream, inSizes, outSizes, Reference(stream).Run());
}

// Splits worth trying: the member decoder's, single bytes each way, odd sizes.
const std::vector<std::pair<std::vector<uint32_t>, std::vector<uint32_t>>> kSplits = {
    {{kChunk}, {kChunk}}, {{1}, {kChunk}},           {{kChunk}, {1}},
    {{7}, {13}},          {{3, 5000}, {32767, 100}}, {{4099}, {32769}},
};

// ---- Data ---------------------------------------------------------------------------------

// Runs of zeros, short-period patterns, repeats from far back and noise.
Bytes MixedBytes(size_t size, uint32_t seed) {
    const Bytes noise = qvtest::RandomBytes(size, seed);
    Bytes out;
    size_t r = 0;
    auto rnd = [&] {
        const uint32_t lo = noise[r++ % noise.size()];
        return lo | noise[r++ % noise.size()] << 8;
    };
    while (out.size() < size) {
        const uint32_t len = 1 + rnd() % 1500;
        switch (rnd() % 4) {
            case 0:
                out.insert(out.end(), len, 0);
                break;
            case 1: {
                const uint32_t period = 2 + rnd() % 6;
                for (uint32_t i = 0; i < len; ++i)
                    out.push_back(static_cast<uint8_t>(i % period * 37));
                break;
            }
            case 2:
                if (out.size() > 40000) {
                    const size_t from = out.size() - 1 - rnd() % 40000;
                    for (uint32_t i = 0; i < len; ++i) out.push_back(out[from + i]);
                    break;
                }
                [[fallthrough]];
            default:
                for (uint32_t i = 0; i < len; ++i) out.push_back(static_cast<uint8_t>(rnd()));
        }
    }
    out.resize(size);
    return out;
}

#ifdef QV_HAVE_ZLIB
// Raw deflate by zlib. With `flushEvery`, a sync flush after each piece of that size (which
// adds empty stored blocks between the compressed ones).
Bytes ZlibDeflate(const Bytes& data, int level, int strategy, size_t flushEvery = 0) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    Bytes out(deflateBound(&z, data.size()) + 64 + (flushEvery ? data.size() / flushEvery * 8 : 0));
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    size_t at = 0;
    do {
        const size_t piece = flushEvery ? std::min(flushEvery, data.size() - at) : data.size();
        z.next_in = const_cast<Bytes::value_type*>(data.data()) + at;
        z.avail_in = static_cast<uInt>(piece);
        at += piece;
        const int r = deflate(&z, at == data.size() ? Z_FINISH : Z_SYNC_FLUSH);
        EXPECT_TRUE(r == Z_OK || r == Z_STREAM_END);
    } while (at < data.size());
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Source {
    const char* name;
    Bytes data;
};

const std::vector<Source>& Sources() {
    static const std::vector<Source> sources = {
        {"text", qvtest::TextBytes(100000, 1)},
        {"mixed", MixedBytes(100000, 2)},
        {"random", qvtest::RandomBytes(50000, 3)},
        {"tiny", B("x")},
        {"empty", {}},
    };
    return sources;
}

const struct {
    const char* name;
    int strategy;
} kStrategies[] = {{"default", Z_DEFAULT_STRATEGY},
                   {"filtered", Z_FILTERED},
                   {"fixed", Z_FIXED},
                   {"huffman-only", Z_HUFFMAN_ONLY},
                   {"rle", Z_RLE}};

// Every level and strategy, decoded as the member decoder feeds it, as one whole piece, and in
// small odd pieces.
TEST(InflateZlib, EveryLevelAndStrategy) {
    for (const Source& src : Sources()) {
        for (int level = 0; level <= 9; ++level) {
            for (const auto& st : kStrategies) {
                SCOPED_TRACE(std::string(src.name) + " level " + std::to_string(level) + " " +
                             st.name);
                const Bytes z = ZlibDeflate(src.data, level, st.strategy);
                const Trace model = Reference(z).Run();
                ASSERT_EQ(model.output, src.data) << "the reference model disagrees with zlib";
                const uint32_t whole = static_cast<uint32_t>(std::max<size_t>(z.size(), 1));
                for (const auto& split :
                     {std::pair{std::vector<uint32_t>{kChunk}, std::vector<uint32_t>{kChunk}},
                      std::pair{std::vector<uint32_t>{whole}, std::vector<uint32_t>{1u << 20}},
                      std::pair{std::vector<uint32_t>{7}, std::vector<uint32_t>{13}}}) {
                    const Decoded run = CheckAgainstModel(z, split.first, split.second, model);
                    ASSERT_EQ(run.output, src.data);
                    ASSERT_EQ(run.calls.back().result, -1);
                }
            }
        }
    }
}

// Any split of input and output gives the same bytes and exactly the model's counts.
TEST(InflateZlib, EverySplit) {
    struct {
        const char* source;
        int level, strategy;
        size_t flushEvery;
    } const streams[] = {
        {"text", 6, Z_DEFAULT_STRATEGY, 0},     {"text", 1, Z_FIXED, 0},
        {"mixed", 9, Z_DEFAULT_STRATEGY, 0},    {"mixed", 6, Z_RLE, 0},
        {"random", 0, Z_DEFAULT_STRATEGY, 0},   {"text", 6, Z_HUFFMAN_ONLY, 0},
        {"mixed", 4, Z_DEFAULT_STRATEGY, 9000},
    };
    for (const auto& s : streams) {
        const Bytes& data = std::find_if(Sources().begin(), Sources().end(), [&](const Source& x) {
                                return std::string(x.name) == s.source;
                            })->data;
        const Bytes z = ZlibDeflate(data, s.level, s.strategy, s.flushEvery);
        const Trace model = Reference(z).Run();
        ASSERT_EQ(model.output, data);
        for (const auto& [in, out] : kSplits) {
            SCOPED_TRACE(std::string(s.source) + " level " + std::to_string(s.level) + " in " +
                         std::to_string(in[0]) + " out " + std::to_string(out[0]));
            const Decoded run = CheckAgainstModel(z, in, out, model);
            ASSERT_EQ(run.output, data);
        }
    }
}

// Stored data reaches the caller only in whole windows, then the rest at the end.
TEST(InflateProtocol, OutputStagedInWholeWindows) {
    const Bytes data = qvtest::RandomBytes(100000, 7);
    const Bytes z = ZlibDeflate(data, 0, Z_DEFAULT_STRATEGY);
    Engine engine;
    const Decoded run = Drive(z, {1000}, {kChunk}, [&](auto... a) { return engine(a...); });
    ASSERT_EQ(run.output, data);
    for (size_t i = 0; i + 1 < run.calls.size(); ++i) {
        EXPECT_TRUE(run.calls[i].written == 0 || run.calls[i].written == kWindow) << i;
    }
    EXPECT_EQ(run.calls.back().written, 100000 - 3 * kWindow);
}

// Input in single bytes: every call takes its byte and returns 0, the final one returns -1.
TEST(InflateProtocol, OneBytePieces) {
    const Bytes data = qvtest::TextBytes(5000, 9);
    const Bytes z = ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY);
    Engine engine;
    const Decoded run = Drive(z, {1}, {kChunk}, [&](auto... a) { return engine(a...); });
    ASSERT_EQ(run.output, data);
    ASSERT_EQ(run.calls.size(), z.size());
    for (size_t i = 0; i < run.calls.size(); ++i) {
        EXPECT_EQ(run.calls[i].taken, 1u);
        EXPECT_EQ(run.calls[i].result, i + 1 == z.size() ? -1 : 0);
        EXPECT_EQ(run.calls[i].written, i + 1 == z.size() ? 5000u : 0u);
    }
}

// An area of exactly the decoded size fills and returns 0; the next call, with any area (even
// an empty one), returns -1 with nothing written.
TEST(InflateProtocol, AreaOfExactlyTheDecodedSize) {
    for (const size_t size : {size_t{5000}, size_t{40000}, size_t{2} * kWindow}) {
        for (uint32_t nextSpace : {100u, 0u}) {
            SCOPED_TRACE(std::to_string(size) + " then " + std::to_string(nextSpace));
            const Bytes data = qvtest::TextBytes(size, 11);
            const Bytes z = ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY);
            Engine engine;
            Bytes out(size);
            Call c = engine(z.data(), static_cast<uint32_t>(z.size()), out.data(),
                            static_cast<uint32_t>(size), true);
            EXPECT_EQ(c.result, 0);
            EXPECT_EQ(c.written, size);
            EXPECT_EQ(out, data);
            c = engine(z.data() + c.taken, static_cast<uint32_t>(z.size() - c.taken), out.data(),
                       nextSpace, true);
            EXPECT_EQ(c.result, -1);
            EXPECT_EQ(c.written, 0u);
        }
    }
}

// Areas smaller than the window: each call fills its area and returns 0.
TEST(InflateProtocol, SmallOutputAreas) {
    const Bytes data = qvtest::TextBytes(100000, 13);
    const Bytes z = ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY);
    Engine engine;
    const Decoded run = Drive(z, {static_cast<uint32_t>(z.size())}, {1000},
                              [&](auto... a) { return engine(a...); });
    ASSERT_EQ(run.output, data);
    ASSERT_EQ(run.calls.size(), 101u);  // the last finds nothing left to hand out
    for (size_t i = 0; i < 100; ++i) {
        EXPECT_EQ(run.calls[i].result, 0);
        EXPECT_EQ(run.calls[i].written, 1000u);
    }
    EXPECT_EQ(run.calls[100].result, -1);
}

// Separate blocks are separate streams: interleaved calls do not disturb each other.
TEST(InflateProtocol, InterleavedStreams) {
    const Bytes a = qvtest::TextBytes(80000, 21), b = MixedBytes(80000, 22);
    const Bytes za = ZlibDeflate(a, 6, Z_DEFAULT_STRATEGY), zb = ZlibDeflate(b, 9, Z_RLE);
    Engine ea(3), eb(0);
    Bytes outA, outB, area(777);
    size_t atA = 0, atB = 0;
    int32_t ra = 0, rb = 0;
    while (ra == 0 || rb == 0) {
        if (ra == 0) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(500, za.size() - atA));
            const Call c = ea(za.data() + atA, n, area.data(), 777, atA + n == za.size());
            outA.insert(outA.end(), area.begin(), area.begin() + c.written);
            atA += c.taken;
            ra = c.result;
        }
        if (rb == 0) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(300, zb.size() - atB));
            const Call c = eb(zb.data() + atB, n, area.data(), 777, atB + n == zb.size());
            outB.insert(outB.end(), area.begin(), area.begin() + c.written);
            atB += c.taken;
            rb = c.result;
        }
    }
    EXPECT_EQ(outA, a);
    EXPECT_EQ(outB, b);
}

// The state lives in the caller's block at any start address; Init and decoding write only
// inside it (Engine checks the guard bytes around it).
TEST(InflateState, AnyStartAddress) {
    const Bytes data = MixedBytes(100000, 31);
    const Bytes z = ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY);
    const Trace model = Reference(z).Run();
    for (uint32_t misalign = 0; misalign < 8; ++misalign) {
        SCOPED_TRACE(misalign);
        EXPECT_EQ(CheckAgainstModel(z, {kChunk}, {kChunk}, model, misalign).output, data);
    }
}
#endif  // QV_HAVE_ZLIB

TEST(InflateState, SizeAndUninitialisedBlock) {
    EXPECT_EQ(QvInflateUCBufSize(), kBlockSize);
    // A block QvInflateUCInit never saw is refused, not decoded from.
    Bytes block(kBlockSize, 0), out(100);
    const Bytes in = {0x4b, 0x04, 0x00};  // "a", fixed code
    uint32_t taken = 3, written = 100;
    EXPECT_EQ(QvInflateUC(in.data(), 0, &taken, out.data(), 0, &written, block.data(), 1), -1);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(written, 0u);
    QvInflateUCInit(block.data());
    taken = 3;
    written = 100;
    EXPECT_EQ(QvInflateUC(in.data(), 0, &taken, out.data(), 0, &written, block.data(), 1), -1);
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(out[0], 'a');
}

// ---- Hand-made streams --------------------------------------------------------------------

// Each data error ends the stream with -1, hands out what the window held, and counts all the
// input given as taken (the junk after the error included).
TEST(InflateErrors, EachEndsTheStream) {
    const Coder fixedLit = FixedLitLen(), fixedDist = FixedDist();
    // Code-length code: 16, 17, 18 in 2 bits, lengths 0 to 15 in 6 bits.
    const Coder repeats(Lengths(19, {{16, 2},
                                     {17, 2},
                                     {18, 2},
                                     {0, 6},
                                     {1, 6},
                                     {2, 6},
                                     {3, 6},
                                     {4, 6},
                                     {5, 6},
                                     {6, 6},
                                     {7, 6},
                                     {8, 6},
                                     {9, 6},
                                     {10, 6},
                                     {11, 6},
                                     {12, 6},
                                     {13, 6},
                                     {14, 6},
                                     {15, 6}}));
    auto repeatHeader = [&](BitWriter& w) {
        w.Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(0, 5).Bits(15, 4);  // 257 + 1 lengths
        for (uint8_t s : kOrder) w.Bits(repeats.lengths[s], 3);
    };
    // A dynamic block with the given codes, then `body`.
    auto dynamic = [&](std::vector<uint8_t> lit, std::vector<uint8_t> dist,
                       std::function<void(BitWriter&, const Coder&, const Coder&)> body) {
        BitWriter w = AbcThen();
        PutDynamicHeader(w, true, lit, dist);
        if (lit.size() < 288) lit.resize(288);
        if (dist.size() < 32) dist.resize(32);
        body(w, Coder(lit), Coder(dist));
        return w;
    };
    const std::vector<uint8_t> noDist(1, 0);
    struct Case {
        const char* name;
        BitWriter stream;
        std::string before;  // output delivered before the error
    };
    const Case cases[] = {
        {"reserved block type", AbcThen().Bits(1, 1).Bits(3, 2), "abc"},
        {"stored NLEN not the complement of LEN",
         AbcThen().Bits(1, 1).Bits(0, 2).Align().Byte(3).Byte(0).Byte(0xFD).Byte(0xFF).Byte('x'),
         "abc"},
        {"HLIT 287", AbcThen().Bits(1, 1).Bits(2, 2).Bits(30, 5).Bits(0, 9), "abc"},
        {"HLIT 288", AbcThen().Bits(1, 1).Bits(2, 2).Bits(31, 5).Bits(0, 9), "abc"},
        {"HDIST 31", AbcThen().Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(30, 5).Bits(0, 4), "abc"},
        {"HDIST 32", AbcThen().Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(31, 5).Bits(0, 4), "abc"},
        {"code-length code over-subscribed",
         AbcThen().Bits(1, 1).Bits(2, 2).Bits(0, 14).Bits(01111, 12), "abc"},  // four 1-bit codes
        {"code-length code incomplete",
         AbcThen().Bits(1, 1).Bits(2, 2).Bits(0, 10).Bits(0, 4).Bits(2, 3).Bits(0, 6).Bits(2, 3),
         "abc"},  // 16 and 0 in 2 bits, nothing else
        {"code-length code empty",
         AbcThen().Bits(1, 1).Bits(2, 2).Bits(0, 10).Bits(0, 4).Bits(0, 12), "abc"},
        {"repeat 18 past the end",
         [&] {
             BitWriter w = AbcThen();
             repeatHeader(w);
             repeats.Put(w, 18);
             w.Bits(127, 7);  // 138
             repeats.Put(w, 18);
             w.Bits(116, 7);  // 127: 265 > 258
             return w;
         }(),
         "abc"},
        {"repeat 17 past the end",
         [&] {
             BitWriter w = AbcThen();
             repeatHeader(w);
             repeats.Put(w, 18);
             w.Bits(127, 7);  // 138
             repeats.Put(w, 18);
             w.Bits(108, 7);  // 119: 257
             repeats.Put(w, 17);
             w.Bits(0, 3);  // 3: 260
             return w;
         }(),
         "abc"},
        {"repeat 16 past the end",
         [&] {
             BitWriter w = AbcThen();
             repeatHeader(w);
             repeats.Put(w, 18);
             w.Bits(127, 7);
             repeats.Put(w, 18);
             w.Bits(107, 7);  // 256 lengths so far
             repeats.Put(w, 5);
             repeats.Put(w, 16);
             w.Bits(0, 2);  // 3 more: 260
             return w;
         }(),
         "abc"},
        {"literal/length code over-subscribed",
         dynamic(Lengths(257, {{'a', 1}, {'b', 1}, {256, 1}}), noDist,
                 [](BitWriter&, const Coder&, const Coder&) {}),
         "abc"},
        {"literal/length code incomplete",
         dynamic(Lengths(257, {{'a', 1}, {256, 2}}), noDist,
                 [](BitWriter&, const Coder&, const Coder&) {}),
         "abc"},
        {"distance code incomplete",
         dynamic(Lengths(258, {{'a', 1}, {256, 2}, {257, 2}}), Lengths(2, {{0, 2}, {1, 2}}),
                 [](BitWriter&, const Coder&, const Coder&) {}),
         "abc"},
        {"length symbol 286",
         [&] {
             BitWriter w = AbcThen().Bits(1, 1).Bits(1, 2);
             fixedLit.Put(w, 'x');
             fixedLit.Put(w, 286);
             return w;
         }(),
         "abcx"},
        {"length symbol 287",
         [&] {
             BitWriter w = AbcThen().Bits(1, 1).Bits(1, 2);
             fixedLit.Put(w, 287);
             return w;
         }(),
         "abc"},
        {"distance symbol 30",
         [&] {
             BitWriter w = AbcThen().Bits(1, 1).Bits(1, 2);
             fixedLit.Put(w, 257);
             fixedDist.Put(w, 30);
             return w;
         }(),
         "abc"},
        {"distance symbol 31",
         [&] {
             BitWriter w = AbcThen().Bits(1, 1).Bits(1, 2);
             fixedLit.Put(w, 'y');
             fixedLit.Put(w, 260);
             fixedDist.Put(w, 31);
             return w;
         }(),
         "abcy"},
        {"gap in a one-code literal/length table",
         dynamic(Lengths(257, {{'a', 1}}), noDist,
                 [](BitWriter& w, const Coder& lit, const Coder&) {
                     lit.Put(w, 'a');
                     lit.Put(w, 'a');
                     w.Bits(1, 1);
                 }),
         "abcaa"},
        {"gap at the 9th bit of a one-code literal/length table",
         dynamic(Lengths(257, {{'a', 12}}), noDist,
                 [](BitWriter& w, const Coder& lit, const Coder&) {
                     lit.Put(w, 'a');
                     lit.Put(w, 'a');          // (so the gap starts inside a byte)
                     w.Bits(0, 8).Bits(1, 1);  // shows once 8 bits are taken
                 }),
         "abcaa"},
        {"gap deep in a one-code literal/length table",
         dynamic(Lengths(257, {{'a', 12}}), noDist,
                 [](BitWriter& w, const Coder& lit, const Coder&) {
                     lit.Put(w, 'a');
                     w.Bits(0, 10).Bits(1, 1);  // leaves the code at its 11th bit
                 }),
         "abca"},
        {"a length with no distance codes",
         dynamic(Lengths(258, {{'a', 1}, {256, 2}, {257, 2}}), noDist,
                 [](BitWriter& w, const Coder& lit, const Coder&) {
                     lit.Put(w, 'a');
                     lit.Put(w, 257);
                 }),
         "abca"},
        {"gap in a one-code distance table",
         dynamic(Lengths(258, {{'a', 1}, {256, 2}, {257, 2}}), Lengths(1, {{0, 1}}),
                 [](BitWriter& w, const Coder& lit, const Coder&) {
                     lit.Put(w, 'a');
                     lit.Put(w, 257);
                     w.Bits(1, 1);
                 }),
         "abca"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes stream = c.stream.bytes();
        stream.insert(stream.end(), {0xC3, 0x3C, 0xFF, 0x00, 0x5A, 0xA5});  // junk after the error
        Engine engine;
        Bytes out(kChunk);
        const Call whole =
            engine(stream.data(), static_cast<uint32_t>(stream.size()), out.data(), kChunk, false);
        EXPECT_EQ(whole.result, -1);
        EXPECT_EQ(whole.taken, stream.size());
        EXPECT_EQ(Bytes(out.begin(), out.begin() + whole.written), B(c.before));
        // Bytes one at a time, and an output area of one byte: the model's exact counts.
        for (const auto& [in, outSizes] :
             {std::pair{std::vector<uint32_t>{1}, std::vector<uint32_t>{kChunk}},
              std::pair{std::vector<uint32_t>{kChunk}, std::vector<uint32_t>{1}}}) {
            const Decoded run = CheckAgainstModel(stream, in, outSizes);
            EXPECT_EQ(run.output, B(c.before));
            EXPECT_EQ(run.calls.back().result, -1);
        }
    }
}

// Streams at the edges of the format that must decode.
TEST(InflateEdges, Decode) {
    const Coder fixedLit = FixedLitLen(), fixedDist = FixedDist();
    const Bytes noise = qvtest::RandomBytes(kWindow, 41);
    auto fixedBlock = [&](bool last, std::function<void(BitWriter&)> body) {
        BitWriter w;
        w.Bits(last, 1).Bits(1, 2);
        body(w);
        return w;
    };
    Bytes zeros4 = B("a");
    zeros4.insert(zeros4.end(), {0, 0, 0, 0, 'a', 0});
    Bytes farBack(noise.begin(), noise.end() - 8);  // 32760 literals, then 258 from 1000 back
    for (int i = 0; i < 258; ++i) farBack.push_back(farBack[farBack.size() - 1000]);
    for (int i = 0; i < 10; ++i) farBack.push_back(farBack[farBack.size() - kWindow]);
    Bytes cutStored = B("xyz");
    cutStored.insert(cutStored.end(), 7, 0);

    struct Case {
        const char* name;
        Bytes stream;
        Bytes expect;
    } const cases[] = {
        {"empty input: zero bits read as a stored header, whose NLEN check fails", {}, {}},
        {"a final fixed block cut after its last literal: zero padding ends it",
         fixedBlock(true,
                    [&](BitWriter& w) {
                        fixedLit.Put(w, 'h');
                        fixedLit.Put(w, 'i');
                    })
             .bytes(),
         B("hi")},
        {"a final stored block cut short is filled with zeros",
         BitWriter()
             .Bits(1, 1)
             .Bits(0, 2)
             .Align()
             .Byte(10)
             .Byte(0)
             .Byte(0xF5)
             .Byte(0xFF)
             .Byte('x')
             .Byte('y')
             .Byte('z')
             .bytes(),
         cutStored},
        {"references before the first byte read zeros",
         fixedBlock(true,
                    [&](BitWriter& w) {
                        fixedLit.Put(w, 'a');
                        PutMatch(w, fixedLit, fixedDist, 6, 5);
                        fixedLit.Put(w, 256);
                    })
             .bytes(),
         zeros4},
        {"distance 32768 right after a hand-out that ran past the window",
         fixedBlock(true,
                    [&](BitWriter& w) {
                        for (size_t i = 0; i + 8 < noise.size(); ++i) fixedLit.Put(w, noise[i]);
                        PutMatch(w, fixedLit, fixedDist, 258, 1000);
                        PutMatch(w, fixedLit, fixedDist, 10, kWindow);
                        fixedLit.Put(w, 256);
                    })
             .bytes(),
         farBack},
        {"a first code-length symbol 16 repeats length 0",
         [&] {
             const Coder pre(Lengths(19, {{16, 2}, {18, 2}, {1, 2}, {0, 2}}));
             BitWriter w;
             w.Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(0, 5).Bits(15, 4);
             for (uint8_t s : kOrder) w.Bits(pre.lengths[s], 3);
             pre.Put(w, 16);
             w.Bits(0, 2);  // symbols 0 to 2: length 0
             pre.Put(w, 18);
             w.Bits(94 - 11, 7);  // 3 to 96
             pre.Put(w, 1);       // 'a' (97)
             pre.Put(w, 18);
             w.Bits(138 - 11, 7);  // 98 to 235
             pre.Put(w, 18);
             w.Bits(20 - 11, 7);  // 236 to 255
             pre.Put(w, 1);       // 256
             pre.Put(w, 0);       // the one distance length
             const Coder lit(Lengths(288, {{'a', 1}, {256, 1}}));
             lit.Put(w, 'a');
             lit.Put(w, 'a');
             lit.Put(w, 256);
             return w.bytes();
         }(),
         B("aa")},
        {"one distance code, and one literal/length code",
         [&] {
             BitWriter w;
             PutDynamicHeader(w, false, Lengths(258, {{'a', 1}, {256, 2}, {257, 2}}),
                              Lengths(1, {{0, 1}}));
             const Coder lit(Lengths(288, {{'a', 1}, {256, 2}, {257, 2}}));
             const Coder dist(Lengths(32, {{0, 1}}));
             lit.Put(w, 'a');
             PutMatch(w, lit, dist, 3, 1);
             lit.Put(w, 256);
             PutDynamicHeader(w, true, Lengths(257, {{256, 3}}), Lengths(1, {}));
             Coder(Lengths(288, {{256, 3}})).Put(w, 256);
             return w.bytes();
         }(),
         B("aaaa")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& [in, out] : kSplits) {
            const Decoded run = CheckAgainstModel(c.stream, in, out);
            EXPECT_EQ(run.output, c.expect);
            EXPECT_EQ(run.calls.back().result, -1);
        }
    }
}

// The input count includes the look-ahead byte when it was given; past the end of the final
// input the look-ahead is a zero byte that is not counted.
TEST(InflateProtocol, LookAheadCounted) {
    const Coder lit = FixedLitLen();
    BitWriter fixed;
    fixed.Bits(1, 1).Bits(1, 2);
    for (char c : std::string("hello")) lit.Put(fixed, static_cast<uint8_t>(c));
    lit.Put(fixed, 256);  // 50 bits: 7 bytes
    BitWriter stored;
    stored.Bits(1, 1).Bits(0, 2).Align().Byte(3).Byte(0).Byte(0xFC).Byte(0xFF);
    stored.Byte('h').Byte('e').Byte('y');  // 8 bytes, then a refill of two
    struct {
        const char* name;
        Bytes stream;
        bool trailing;
        uint32_t taken;
    } const cases[] = {
        {"fixed, more input follows", fixed.bytes(), true, 8},
        {"fixed, input ends", fixed.bytes(), false, 7},
        {"stored, more input follows", stored.bytes(), true, 10},
        {"stored, input ends", stored.bytes(), false, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes in = c.stream;
        if (c.trailing) in.insert(in.end(), 5, 0xEE);
        Engine engine;
        Bytes out(100);
        const Call call =
            engine(in.data(), static_cast<uint32_t>(in.size()), out.data(), 100, !c.trailing);
        EXPECT_EQ(call.result, -1);
        EXPECT_EQ(call.taken, c.taken);
    }
}

// A call without input and without the final flag waits: nothing is read or written.
TEST(InflateProtocol, EmptyCallWaits) {
    const Bytes in = {0x4b, 0x04, 0x00};  // "a", fixed code
    Engine engine;
    Bytes out(10);
    Call c = engine(nullptr, 0, out.data(), 10, false);
    EXPECT_EQ(c, (Call{0, 0, 0, 10, 0}));
    c = engine(in.data(), 1, out.data(), 10, false);
    EXPECT_EQ(c, (Call{0, 1, 1, 10, 0}));
    c = engine(nullptr, 0, out.data(), 10, false);
    EXPECT_EQ(c, (Call{0, 0, 0, 10, 0}));
    c = engine(in.data() + 1, 2, out.data(), 10, true);
    EXPECT_EQ(c, (Call{-1, 2, 2, 10, 1}));
    EXPECT_EQ(out[0], 'a');
}

// Zero bits read past the end of the final input end the stream after at most 56 of them,
// even where they decode as literals for ever.
TEST(InflateProtocol, PaddingIsBounded) {
    BitWriter w;
    PutDynamicHeader(w, true, Lengths(258, {{'z', 1}, {256, 2}, {257, 2}}), Lengths(1, {{0, 1}}));
    const Coder lit(Lengths(288, {{'z', 1}, {256, 2}, {257, 2}}));
    lit.Put(w, 'z');
    lit.Put(w, 257);  // a match of 3 at distance 1, cut off after its length code
    for (const auto& [in, out] : kSplits) {
        const Decoded run = CheckAgainstModel(w.bytes(), in, out);
        EXPECT_EQ(run.calls.back().result, -1);
        EXPECT_LE(run.output.size(), 1u + 56 * 3);
        EXPECT_GE(run.output.size(), 4u);
    }
}

}  // namespace
