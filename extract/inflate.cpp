// inflate.cpp - the inflate engine and its three exports.
//
// Decoding runs in units: a block header field, one code length of a dynamic header, a
// literal, a length with its distance, the stored block's LEN and NLEN. A unit is decoded from
// the bit accumulator and takes effect only if the engine, reading its input as described in
// inflate.h, would by then have been given every byte that reading counts as taken (the
// unit's bits and the look-ahead byte). Otherwise the call ends for more input with all of it
// taken, the accumulator keeps the unit's bits, and the next call decodes the unit afresh.
// So results and counts are the same however the input is split, while most of the data runs
// through a fast loop that reads ahead freely and only counts its look-ahead when it stops.
#include "inflate.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "qvarc32.h"

namespace qv::inflate {
namespace {

constexpr uint32_t kMagic = 0x46497651;  // "QvIF"

enum Phase : uint8_t {
    kStart,           // fetch the first two bytes
    kHeader,          // BFINAL and BTYPE
    kStoredHeader,    // LEN and NLEN
    kStoredCopy,      // the stored bytes
    kStoredRefill,    // two bytes to refill the bit buffer after them
    kCountHlit,       // dynamic header: HLIT
    kCountHdist,      // HDIST
    kCountHclen,      // HCLEN
    kPrecodeLengths,  // the code-length code's lengths
    kCodeLengths,     // the literal/length and distance code lengths
    kData,            // the Huffman-coded data
    kFlush,           // handing out the window
    kDone,            // the last block is delivered
    kFailed,          // a data error ended the stream
    kPhaseCount
};

// Zero bits read past the end of the final input, at most. Enough to finish any code cut off
// by the end of the input, with its extra bits and the seven zero bits of an end-of-block
// code; a stream that reads further cannot be one whose end was merely cut off.
constexpr uint32_t kMaxPaddingBits = 56;

// Where a gap in a code table shows (see InvalidCode): as if codes were looked up 8 bits at a
// time and then walked bit by bit.
constexpr uint32_t kLookupBits = 8;

constexpr uint32_t kLitLenMask = (1u << kLitLenRootBits) - 1;
constexpr uint32_t kDistMask = (1u << kDistRootBits) - 1;

static_assert(kWindowBytes >= kWindowSize + kMaxMatch - 1 + kCopySpill,
              "the window has room for the longest reference and its spill");

// What a run of units ended with.
enum class Event { kContinue, kNeedInput, kFlush, kEndOfBlock, kError };

// Whether a decoded unit may take effect.
enum class Verdict { kGo, kNeedInput, kBad };

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

inline void Copy8(uint8_t* dst, const uint8_t* src) {
    uint64_t v;
    std::memcpy(&v, src, 8);
    std::memcpy(dst, &v, 8);
}

inline void Copy16(uint8_t* dst, const uint8_t* src) {
    uint8_t v[16];
    std::memcpy(v, src, 16);
    std::memcpy(dst, v, 16);
}

inline uint32_t LowBits(uint64_t bits, uint32_t n) {
    return static_cast<uint32_t>(bits) & ((1u << n) - 1);
}

// Finds the entry for the code at the bottom of `bits`; `length` receives the code's length.
inline uint32_t Resolve(const uint16_t* table, uint32_t rootBits, uint64_t bits, uint32_t& length) {
    uint32_t entry = table[LowBits(bits, rootBits)];
    if (entry & kSubtableFlag) {
        entry = table[SubtableStart(entry) + LowBits(bits >> rootBits, SubtableBits(entry))];
        length = rootBits + EntryLength(entry);
    } else {
        length = EntryLength(entry);
    }
    return entry;
}

// Back-reference copies. Bytes are produced as a byte-at-a-time copy would, so a distance
// shorter than the length repeats the bytes just written. Copies run in whole 16- or 8-byte
// pieces and may spill up to kCopySpill - 1 bytes past the reference's end; those bytes are
// history still to be referred to, so they are saved first and put back after (the window has
// room for the spill).

// Copies `length` bytes from `src` to `dst` where the source lies at or after the destination,
// or at least 16 bytes before it: either way each piece reads only bytes that are final.
inline void CopyForward(uint8_t* dst, const uint8_t* src, uint32_t length) {
    uint8_t* const end = dst + length;
    uint8_t saved[kCopySpill];
    std::memcpy(saved, end, kCopySpill);
    do {
        Copy16(dst, src);
        dst += 16;
        src += 16;
    } while (dst < end);
    std::memcpy(end, saved, kCopySpill);
}

// Copies a back-reference at a distance below 16.
void CopyNear(uint8_t* dst, uint32_t dist, uint32_t length) {
    const uint8_t* src = dst - dist;
    uint8_t* const end = dst + length;
    uint8_t saved[kCopySpill];
    std::memcpy(saved, end, kCopySpill);
    if (dist >= 8) {
        do {
            Copy8(dst, src);
            dst += 8;
            src += 8;
        } while (dst < end);
    } else if (dist == 1) {
        const uint64_t run = 0x0101010101010101ull * src[0];
        do {
            std::memcpy(dst, &run, 8);
            dst += 8;
        } while (dst < end);
    } else {
        // The first 8 bytes go one at a time; after them the output repeats with a period of
        // `stride` (a multiple of dist, at least 8, at most dist + 8), so 8-byte pieces can be
        // copied from that far back.
        static constexpr uint8_t kStride[8] = {0, 0, 8, 9, 8, 10, 12, 14};
        for (uint32_t i = 0; i < 8; ++i) dst[i] = src[i];
        dst += 8;
        const uint32_t stride = kStride[dist];
        while (dst < end) {
            Copy8(dst, dst - stride);
            dst += 8;
        }
    }
    std::memcpy(end, saved, kCopySpill);
}

// Copies a back-reference of `length` bytes at `dist` to the window's write position. A source
// before the window's start begins that many bytes before the end of the previous window
// content and, reaching that end, continues at the window's start. (Until the first window has
// been handed out, the previous content is the cleared window: zeros.) The previous content is
// at least as long as any distance, so that source never lies before the destination.
inline void CopyMatch(uint8_t* window, uint32_t winPos, uint32_t dist, uint32_t length,
                      uint32_t prevEnd) {
    uint8_t* const dst = window + winPos;
    if (dist <= winPos) {
        if (dist >= 16) {
            CopyForward(dst, dst - dist, length);
        } else {
            CopyNear(dst, dist, length);
        }
        return;
    }
    const uint32_t before = dist - winPos;  // source bytes in the previous content
    const uint8_t* const src = window + prevEnd - before;
    if (before >= length) {
        CopyForward(dst, src, length);
        return;
    }
    CopyForward(dst, src, before);
    if (dist >= 16) {
        CopyForward(dst + before, window, length - before);
    } else {
        CopyNear(dst + before, dist, length - before);
    }
}

// The fixed code of BTYPE 1 (RFC 1951, 3.2.6).
void BuildFixedTables(InflateState& s) {
    uint8_t* lengths = s.lengths;
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    std::memset(lengths + 288, 5, 32);
    BuildDecodeTable(Alphabet::kLitLen, lengths, 288, s.litlen, kLitLenCapacity, kLitLenRootBits);
    BuildDecodeTable(Alphabet::kDistance, lengths + 288, 32, s.dist, kDistCapacity, kDistRootBits);
}

// The fast loop's working copies of the decoder's cursors.
struct FastCursor {
    const uint8_t* in;
    const uint8_t* inLimit;  // last position from which 8 input bytes can be read
    uint64_t bits;
    uint32_t bitCount;
    uint8_t* window;
    uint32_t winPos;
    uint32_t prevEnd;
    const uint16_t* litlen;
    const uint16_t* dist;
};

// Decodes whole units while at least 8 input bytes are unread and the window has room for three
// literals, reading ahead with no checks: every unit fits in the 56 bits a refill provides.
// Returns kContinue when input or window room runs low (single units take over), kFlush when
// a match fills the window, kEndOfBlock or kError.
[[gnu::always_inline]] inline Event FastLoopBody(FastCursor& c) {
    const uint8_t* in = c.in;
    const uint8_t* const inLimit = c.inLimit;
    uint64_t bits = c.bits;
    // Only the low 6 bits of bitCount count here: entries and length/distance codes hold their
    // bit counts in their low 6 bits, so whole entries can be subtracted.
    uint32_t bitCount = c.bitCount;
    uint8_t* const window = c.window;
    uint8_t* const windowEnd = window + kWindowSize;
    uint8_t* const outLimit = windowEnd - 4;
    uint8_t* out = window + c.winPos;
    const uint16_t* const litlen = c.litlen;
    const uint16_t* const distTable = c.dist;
    const uint32_t prevEnd = c.prevEnd;
    Event event = Event::kContinue;

    auto refill = [&] {
        bits |= Load64(in) << (bitCount & 63);
        in += 7 - ((bitCount & 63) >> 3);
        bitCount |= 56;
    };
    // Drops the bits counted in the low 6 bits of `code`.
    auto drop = [&](uint32_t code) {
        bits >>= code & 63;
        bitCount -= code;
    };

    if (in > inLimit || out > outLimit) return Event::kContinue;
    refill();
    // The entry for the bits at hand is looked up ahead of the work on the unit before it.
    // A refill only adds bits above those in hand, and no unit takes more than 54 of the
    // 64 bits a refill loads, so the 10 bits it uses are always the stream's own.
    uint32_t entry = litlen[bits & kLitLenMask];
    for (;;) {
        if (entry & kLiteralFlag) {
            // Up to three literals on one refill: root codes have at most 10 bits.
            drop(entry);
            uint8_t literal = EntryLiteral(entry);
            entry = litlen[bits & kLitLenMask];
            *out++ = literal;
            if (entry & kLiteralFlag) {
                drop(entry);
                literal = EntryLiteral(entry);
                entry = litlen[bits & kLitLenMask];
                *out++ = literal;
                if (entry & kLiteralFlag) {
                    drop(entry);
                    literal = EntryLiteral(entry);
                    entry = litlen[bits & kLitLenMask];
                    *out++ = literal;
                }
            }
        } else {
            if (entry & kSubtableFlag) {
                bits >>= kLitLenRootBits;
                bitCount -= kLitLenRootBits;
                entry = litlen[SubtableStart(entry) + LowBits(bits, SubtableBits(entry))];
            }
            drop(entry);
            if (entry & kLiteralFlag) {
                *out++ = EntryLiteral(entry);
                entry = litlen[bits & kLitLenMask];
            } else {
                uint32_t value = EntryValue(entry);
                if (value - 1 >= kFirstInvalid - 1) {  // 0: end of block; 30 up: undecodable
                    event = value == 0 ? Event::kEndOfBlock : Event::kError;
                    break;
                }
                const uint32_t lengthCode = kLengthCode[value];
                const uint32_t length = (lengthCode >> 8) + LowBits(bits, lengthCode & 0xFF);
                drop(lengthCode);

                entry = distTable[bits & kDistMask];
                if (entry & kSubtableFlag) {
                    bits >>= kDistRootBits;
                    bitCount -= kDistRootBits;
                    entry = distTable[SubtableStart(entry) + LowBits(bits, SubtableBits(entry))];
                }
                drop(entry);
                value = EntryValue(entry);
                if (value >= kFirstInvalid) {
                    event = Event::kError;
                    break;
                }
                const uint32_t distCode = kDistCode[value];
                const uint32_t dist = (distCode >> 8) + LowBits(bits, distCode & 0xFF);
                drop(distCode);
                entry = litlen[bits & kLitLenMask];

                CopyMatch(window, static_cast<uint32_t>(out - window), dist, length, prevEnd);
                out += length;
                if (out >= windowEnd) {
                    event = Event::kFlush;
                    break;
                }
            }
        }
        if (in > inLimit || out > outLimit) break;  // kContinue
        refill();
    }
    c.in = in;
    c.bits = bits;
    c.bitCount = bitCount & 63;
    c.winPos = static_cast<uint32_t>(out - window);
    return event;
}

// The fast loop built for any processor, and for x86-64 processors with BMI2, whose shifts by
// a register and bit-field extraction shorten the loop's dependency chains.
Event FastLoopPortable(FastCursor& c) {
    return FastLoopBody(c);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
[[gnu::target("bmi,bmi2")]] Event FastLoopBmi2(FastCursor& c) {
    return FastLoopBody(c);
}
bool HaveBmi2() {
    return __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}
#else
Event FastLoopBmi2(FastCursor& c) {
    return FastLoopPortable(c);
}
constexpr bool HaveBmi2() {
    return false;
}
#endif

// One call of QvInflateUC: the state, the call's areas and working copies of the bit
// accumulator.
class Decoder {
public:
    Decoder(InflateState& s, const uint8_t* in, uint32_t inCount, uint8_t* out, uint32_t outSpace,
            bool final)
        : s_(s),
          inStart_(in),
          in_(in),
          inEnd_(in + inCount),
          outStart_(out),
          out_(out),
          outEnd_(out + outSpace),
          bits_(s.bits),
          bitCount_(s.bitCount),
          padBytes_(s.padBytes),
          final_(final) {}

    // Decodes until the call must end; returns the result and sets the counts.
    int32_t Run(uint32_t& taken, uint32_t& written) {
        int32_t result = 0;
        switch (Decode()) {
            case Event::kNeedInput:  // all input is taken
                break;
            case Event::kFlush:  // the output area is full
                GiveBackLookAhead();
                break;
            default:  // the stream has ended
                GiveBackLookAhead();
                result = -1;
                break;
        }
        bits_ &= (uint64_t{1} << bitCount_) - 1;
        s_.bits = bits_;
        s_.bitCount = bitCount_;
        s_.padBytes = padBytes_;
        taken = s_.failed ? static_cast<uint32_t>(inEnd_ - inStart_)
                          : static_cast<uint32_t>(in_ - inStart_);
        written = static_cast<uint32_t>(out_ - outStart_);
        return result;
    }

private:
    // Runs phases until the call must end: kNeedInput (input used up), kFlush (output area
    // full), kEndOfBlock (stream finished) or kError (stream ended by a data error).
    Event Decode() {
        for (;;) {
            switch (s_.phase) {
                case kStart:
                    Fill();
                    if (bitCount_ < 16) return Event::kNeedInput;
                    s_.fresh = 1;
                    s_.phase = kHeader;
                    break;
                case kHeader: {
                    Fill();
                    const uint32_t header = LowBits(bits_, 3);
                    if (Verdict v = Check(3); v != Verdict::kGo) {
                        if (v == Verdict::kNeedInput) return Event::kNeedInput;
                        Fail();
                        break;
                    }
                    Consume(3);
                    s_.lastBlock = header & 1;
                    StartBlock(header >> 1);
                    break;
                }
                case kStoredHeader:
                    if (!StoredHeader()) return Event::kNeedInput;
                    break;
                case kStoredCopy:
                    if (!StoredCopy()) return Event::kNeedInput;
                    break;
                case kStoredRefill:
                    // Two bytes refill the bit buffer; nothing of them is used yet.
                    Fill();
                    if (bitCount_ < 16) return Event::kNeedInput;
                    s_.fresh = 1;
                    EndBlock();
                    break;
                case kCountHlit:
                case kCountHdist:
                case kCountHclen:
                    if (!HeaderCounts()) return Event::kNeedInput;
                    break;
                case kPrecodeLengths:
                    if (!PrecodeLengths()) return Event::kNeedInput;
                    break;
                case kCodeLengths:
                    if (!CodeLengths()) return Event::kNeedInput;
                    break;
                case kData:
                    switch (DecodeData()) {
                        case Event::kNeedInput:
                            return Event::kNeedInput;
                        case Event::kFlush:
                            BeginFlush(kData);
                            break;
                        case Event::kEndOfBlock:
                            EndBlock();
                            break;
                        default:
                            Fail();
                            break;
                    }
                    break;
                case kFlush:
                    if (!Flush()) return Event::kFlush;
                    break;
                case kDone:
                    return Event::kEndOfBlock;
                default:
                    return Event::kError;
            }
        }
    }

    // ---- Bit input ------------------------------------------------------------------------

    // Tops the accumulator up to at least 56 bits, or with all the input left. Past the end of
    // the final input it adds zero bytes (padBytes_ counts them).
    void Fill() {
        if (inEnd_ - in_ >= 8) {
            // Reads 8 bytes and keeps the whole ones that fit; the bits of the next byte that
            // land above bitCount_ are the stream's own and are simply read again later.
            bits_ |= Load64(in_) << bitCount_;
            in_ += (63 - bitCount_) >> 3;
            bitCount_ |= 56;
            return;
        }
        while (bitCount_ <= 55) {
            if (in_ != inEnd_) {
                bits_ |= uint64_t{*in_++} << bitCount_;
            } else if (final_) {
                ++padBytes_;
            } else {
                break;
            }
            bitCount_ += 8;
        }
    }

    // Bits the engine counts as read once `used` more have been taken: the two bytes of a
    // refill while none of them is used, else the rest of the current byte and the whole next.
    uint32_t HeldAfter(uint32_t used) const {
        return s_.fresh && used == 0 ? 16 : 8 + ((bitCount_ - used) & 7);
    }

    // May a unit of `used` bits take effect? Not before its bits and the look-ahead are in
    // (kNeedInput), and not if it reads too far into the padding after the final input (kBad).
    Verdict Check(uint32_t used) const {
        if (used + HeldAfter(used) > bitCount_) return Verdict::kNeedInput;
        if (padBytes_ * 8 > bitCount_ - used + kMaxPaddingBits) return Verdict::kBad;
        return Verdict::kGo;
    }

    // A data error found `used` bits into a unit shows once those bits and the look-ahead are in.
    Event ErrorAt(uint32_t used) const {
        return used + HeldAfter(used) > bitCount_ ? Event::kNeedInput : Event::kError;
    }

    void Consume(uint32_t n) {
        bits_ >>= n;
        bitCount_ -= n;
        if (n != 0) s_.fresh = 0;
    }

    // At a stop, puts back the bytes read ahead of the count the engine reports: padding
    // first (it is the last read), then input bytes, which the caller will offer again.
    void GiveBackLookAhead() {
        const bool storedBytes =
            s_.phase == kStoredCopy || (s_.phase == kFlush && s_.afterFlush == kStoredCopy);
        // Between the bytes of a stored block the engine holds no bits at all.
        const uint32_t held = storedBytes ? 0 : HeldAfter(0);
        if (bitCount_ <= held) return;
        const uint32_t extra = (bitCount_ - held) / 8;
        const uint32_t pad = std::min({extra, padBytes_, bitCount_ / 8});
        padBytes_ -= pad;
        const uint32_t real =
            std::min<uint32_t>(extra - pad, static_cast<uint32_t>(in_ - inStart_));
        in_ -= real;
        bitCount_ -= (pad + real) * 8;
    }

    // ---- Blocks ---------------------------------------------------------------------------

    void StartBlock(uint32_t type) {
        switch (type) {
            case 0:
                s_.phase = kStoredHeader;
                break;
            case 1:
                if (!s_.fixedLoaded) {
                    BuildFixedTables(s_);
                    s_.fixedLoaded = 1;
                }
                s_.phase = kData;
                break;
            case 2:
                std::memset(s_.lengths, 0, sizeof s_.lengths);
                std::memset(s_.precodeLengths, 0, sizeof s_.precodeLengths);
                s_.lenIndex = 0;
                s_.phase = kCountHlit;
                break;
            default:  // BTYPE 3 is reserved
                Fail();
                break;
        }
    }

    void EndBlock() {
        if (s_.lastBlock) {
            BeginFlush(kDone);
        } else {
            s_.phase = kHeader;
        }
    }

    void Fail() {
        s_.failed = 1;
        BeginFlush(kFailed);
    }

    // LEN and NLEN follow on the next byte boundary. Returns false for more input.
    bool StoredHeader() {
        Fill();
        const uint32_t skip = bitCount_ & 7;  // the rest of the current byte
        const uint32_t used = skip + 32;
        if (used > bitCount_) return false;
        const uint32_t len = static_cast<uint32_t>(bits_ >> skip) & 0xFFFF;
        const uint32_t nlen = static_cast<uint32_t>(bits_ >> (skip + 16)) & 0xFFFF;
        Consume(used);
        if (nlen != (~len & 0xFFFF)) {
            Fail();
        } else {
            s_.storedLeft = len;
            s_.phase = kStoredCopy;
        }
        return true;
    }

    // Copies stored bytes into the window: first whole bytes already in the accumulator, then
    // from the input; past the end of the final input, zero bytes. Returns false for more input.
    bool StoredCopy() {
        while (s_.storedLeft != 0) {
            const uint32_t room = kWindowSize - s_.winPos;
            uint8_t* dst = s_.window + s_.winPos;
            uint32_t n = std::min(s_.storedLeft, room);
            if (bitCount_ != 0) {
                n = std::min(n, bitCount_ / 8);
                for (uint32_t i = 0; i < n; ++i) {
                    dst[i] = static_cast<uint8_t>(bits_);
                    bits_ >>= 8;
                }
                bitCount_ -= n * 8;
            } else if (in_ != inEnd_) {
                bits_ = 0;  // the accumulator may hold bits of bytes read ahead, copied here now
                n = std::min(n, static_cast<uint32_t>(inEnd_ - in_));
                std::memcpy(dst, in_, n);
                in_ += n;
            } else if (final_) {
                std::memset(dst, 0, n);
                padBytes_ += n;  // read past the end, like the padding in the accumulator
            } else {
                return false;
            }
            s_.winPos += n;
            s_.storedLeft -= n;
            if (s_.winPos == kWindowSize) {
                BeginFlush(kStoredCopy);
                return true;
            }
        }
        s_.phase = kStoredRefill;
        return true;
    }

    // HLIT, HDIST and HCLEN, one unit each. Returns false for more input.
    bool HeaderCounts() {
        static constexpr uint32_t kWidth[3] = {5, 5, 4};
        const uint32_t field = s_.phase - kCountHlit;
        Fill();
        const uint32_t value = LowBits(bits_, kWidth[field]);
        if (Verdict v = Check(kWidth[field]); v != Verdict::kGo) {
            if (v == Verdict::kNeedInput) return false;
            Fail();
            return true;
        }
        Consume(kWidth[field]);
        switch (field) {
            case 0:
                if (value + 257 > 286) {  // 286 and 287 are not real symbols
                    Fail();
                } else {
                    s_.hlit = static_cast<uint16_t>(value + 257);
                    s_.phase = kCountHdist;
                }
                break;
            case 1:
                if (value + 1 > 30) {  // distance symbols end at 29
                    Fail();
                } else {
                    s_.hdist = static_cast<uint16_t>(value + 1);
                    s_.phase = kCountHclen;
                }
                break;
            default:
                s_.hclen = static_cast<uint16_t>(value + 4);
                s_.lenIndex = 0;
                s_.phase = kPrecodeLengths;
                break;
        }
        return true;
    }

    bool PrecodeLengths() {
        while (s_.lenIndex < s_.hclen) {
            Fill();
            const uint32_t value = LowBits(bits_, 3);
            if (Verdict v = Check(3); v != Verdict::kGo) {
                if (v == Verdict::kNeedInput) return false;
                Fail();
                return true;
            }
            Consume(3);
            s_.precodeLengths[kPrecodeOrder[s_.lenIndex++]] = static_cast<uint8_t>(value);
        }
        if (!BuildDecodeTable(Alphabet::kPrecode, s_.precodeLengths, 19, s_.precode,
                              kPrecodeCapacity, kPrecodeRootBits)) {
            Fail();
            return true;
        }
        s_.lenIndex = 0;
        s_.phase = kCodeLengths;
        return true;
    }

    // Where the i-th code length of the header goes.
    uint32_t LengthSlot(uint32_t i) const { return i < s_.hlit ? i : 288 + (i - s_.hlit); }

    bool CodeLengths() {
        const uint32_t total = s_.hlit + s_.hdist;
        while (s_.lenIndex < total) {
            Fill();
            const uint32_t entry = s_.precode[LowBits(bits_, kPrecodeRootBits)];
            const uint32_t symbol = EntryValue(entry);
            if (symbol >= kFirstInvalid) {
                if (InvalidCode(0, symbol) == Event::kNeedInput) return false;
                Fail();
                return true;
            }
            uint32_t used = EntryLength(entry);
            uint32_t length = symbol, repeat = 1;
            if (symbol >= 16) {
                // 16: the previous length 3 to 6 times; 17: 3 to 10 zeros; 18: 11 to 138 zeros.
                static constexpr uint8_t kExtra[3] = {2, 3, 7};
                static constexpr uint8_t kBase[3] = {3, 3, 11};
                const uint32_t k = symbol - 16;
                repeat = kBase[k] + LowBits(bits_ >> used, kExtra[k]);
                used += kExtra[k];
                length =
                    symbol == 16 && s_.lenIndex != 0 ? s_.lengths[LengthSlot(s_.lenIndex - 1)] : 0;
            }
            if (Verdict v = Check(used); v != Verdict::kGo) {
                if (v == Verdict::kNeedInput) return false;
                Fail();
                return true;
            }
            Consume(used);
            if (repeat > total - s_.lenIndex) {
                Fail();
                return true;
            }
            for (; repeat != 0; --repeat) {
                s_.lengths[LengthSlot(s_.lenIndex++)] = static_cast<uint8_t>(length);
            }
        }
        if (!BuildDecodeTable(Alphabet::kLitLen, s_.lengths, 288, s_.litlen, kLitLenCapacity,
                              kLitLenRootBits) ||
            !BuildDecodeTable(Alphabet::kDistance, s_.lengths + 288, 32, s_.dist, kDistCapacity,
                              kDistRootBits)) {
            Fail();
            return true;
        }
        s_.fixedLoaded = 0;
        s_.phase = kData;
        return true;
    }

    // A code that cannot be decoded, `used` bits into its unit: literal/length 286 and 287 and
    // distances 30 and 31 show as soon as they are looked up, and so does a gap in a table
    // within a code's first 8 bits; a gap deeper down shows once the bits before it are taken.
    Event InvalidCode(uint32_t used, uint32_t value) const {
        if (value >= kUnfilled && value - kUnfilled > kLookupBits) used += value - kUnfilled - 1;
        return ErrorAt(used);
    }

    // ---- Huffman-coded data ---------------------------------------------------------------

    // Decodes until the window needs a flush, the block ends, the data is bad or more input
    // is needed: the fast loop while at least 8 input bytes are unread, then single units.
    Event DecodeData() {
        for (;;) {
            if (inEnd_ - in_ >= 8) {
                const Event e = FastLoop();
                if (e != Event::kContinue) return e;
            }
            const Event e = DataUnit();
            if (e != Event::kContinue) return e;
        }
    }

    // One literal, end of block, or length and distance, checked against the input given.
    Event DataUnit() {
        Fill();
        uint32_t codeLength;
        uint32_t entry = Resolve(s_.litlen, kLitLenRootBits, bits_, codeLength);
        if (entry & kLiteralFlag) {
            if (Verdict v = Check(codeLength); v != Verdict::kGo) {
                return v == Verdict::kNeedInput ? Event::kNeedInput : Event::kError;
            }
            Consume(codeLength);
            s_.window[s_.winPos++] = EntryLiteral(entry);
            return s_.winPos == kWindowSize ? Event::kFlush : Event::kContinue;
        }
        uint32_t value = EntryValue(entry);
        if (value >= kFirstInvalid) return InvalidCode(0, value);
        uint32_t used = codeLength;
        if (value == 0) {
            if (Verdict v = Check(used); v != Verdict::kGo) {
                return v == Verdict::kNeedInput ? Event::kNeedInput : Event::kError;
            }
            Consume(used);
            return Event::kEndOfBlock;
        }
        // The length tables end at 258 (symbol 284 with all extra bits set gives 258 too), so
        // no decoded length exceeds the longest match.
        const uint32_t lengthCode = kLengthCode[value];
        const uint32_t length = (lengthCode >> 8) + LowBits(bits_ >> used, lengthCode & 0xFF);
        used += lengthCode & 0xFF;
        entry = Resolve(s_.dist, kDistRootBits, bits_ >> used, codeLength);
        value = EntryValue(entry);
        if (value >= kFirstInvalid) return InvalidCode(used, value);
        used += codeLength;
        const uint32_t distCode = kDistCode[value];
        const uint32_t dist = (distCode >> 8) + LowBits(bits_ >> used, distCode & 0xFF);
        used += distCode & 0xFF;
        if (Verdict v = Check(used); v != Verdict::kGo) {
            return v == Verdict::kNeedInput ? Event::kNeedInput : Event::kError;
        }
        Consume(used);
        CopyMatch(s_.window, s_.winPos, dist, length, s_.prevEnd);
        s_.winPos += length;
        return s_.winPos >= kWindowSize ? Event::kFlush : Event::kContinue;
    }

    // Decodes whole units while at least 8 input bytes are unread (see FastLoopBody).
    Event FastLoop() {
        FastCursor c{in_,       inEnd_ - 8, bits_,     bitCount_, s_.window,
                     s_.winPos, s_.prevEnd, s_.litlen, s_.dist};
        const Event e = HaveBmi2() ? FastLoopBmi2(c) : FastLoopPortable(c);
        in_ = c.in;
        bits_ = c.bits;
        bitCount_ = c.bitCount;
        s_.winPos = c.winPos;
        return e;
    }

    // ---- Delivery -------------------------------------------------------------------------

    // The window's content up to the write position becomes the previous content, to be
    // handed out.
    void BeginFlush(uint8_t after) {
        s_.prevEnd = s_.winPos;
        s_.flushed = 0;
        s_.afterFlush = after;
        s_.phase = kFlush;
    }

    // Hands out as much of the window as the output area takes. Returns false when the area is
    // full (even if the last byte just went out); the next call goes on from there.
    bool Flush() {
        const uint32_t pending = s_.prevEnd - s_.flushed;
        const uint32_t n = std::min(pending, static_cast<uint32_t>(outEnd_ - out_));
        if (n != 0) std::memcpy(out_, s_.window + s_.flushed, n);
        out_ += n;
        s_.flushed += n;
        if (out_ == outEnd_ && (n != 0 || s_.flushed != s_.prevEnd)) return false;
        s_.winPos = 0;
        s_.phase = s_.afterFlush;
        return true;
    }

    InflateState& s_;
    const uint8_t* const inStart_;
    const uint8_t* in_;
    const uint8_t* const inEnd_;
    uint8_t* const outStart_;
    uint8_t* out_;
    uint8_t* const outEnd_;
    uint64_t bits_;
    uint32_t bitCount_;
    uint32_t padBytes_;
    const bool final_;
};

InflateState* StateIn(void* block) {
    const auto address = reinterpret_cast<uintptr_t>(block);
    const uintptr_t aligned = (address + alignof(InflateState) - 1) & ~(alignof(InflateState) - 1);
    return reinterpret_cast<InflateState*>(aligned);
}

// A block QvInflateUCInit set up and the engine has kept consistent. Anything else (never
// initialised, overwritten) is refused rather than trusted.
bool Plausible(const InflateState& s) {
    return s.magic == kMagic && s.phase < kPhaseCount && s.afterFlush < kPhaseCount &&
           s.bitCount <= 63 && s.winPos <= kWindowSize + kMaxMatch - 1 &&
           s.prevEnd <= kWindowSize + kMaxMatch - 1 && s.flushed <= s.prevEnd &&
           (s.prevEnd >= kWindowSize || s.phase >= kFlush) && s.storedLeft <= 0xFFFF &&
           s.hlit <= 286 && s.hdist <= 30 && s.hclen <= 19 && s.lenIndex <= s.hlit + s.hdist;
}

}  // namespace
}  // namespace qv::inflate

using qv::inflate::InflateState;

QV_API uint32_t QV_CALL QvInflateUCBufSize(void) {
    return qv::inflate::kStateBlockSize;
}

QV_API void QV_CALL QvInflateUCInit(void* state) {
    if (state == nullptr) return;
    InflateState* s = qv::inflate::StateIn(state);
    // Clearing the window matters: a back-reference to before the first byte reads zeros.
    std::memset(static_cast<void*>(s), 0, sizeof *s);
    s->magic = qv::inflate::kMagic;
    s->prevEnd = qv::inflate::kWindowSize;
    s->phase = qv::inflate::kStart;
}

QV_API int32_t QV_CALL QvInflateUC(const uint8_t* input, uint32_t inputOffset, uint32_t* inputCount,
                                   uint8_t* output, uint32_t outputOffset, uint32_t* outputCount,
                                   void* state, uint32_t finalInput) {
    if (inputCount == nullptr || outputCount == nullptr) return -1;
    const uint32_t inAvailable = input != nullptr ? *inputCount : 0;
    const uint32_t outSpace = output != nullptr ? *outputCount : 0;
    *inputCount = 0;
    *outputCount = 0;
    if (state == nullptr) return -1;
    InflateState& s = *qv::inflate::StateIn(state);
    if (!qv::inflate::Plausible(s)) return -1;
    const uint8_t* in = input != nullptr ? input + inputOffset : nullptr;
    uint8_t* out = output != nullptr ? output + outputOffset : nullptr;
    qv::inflate::Decoder decoder(s, in, inAvailable, out, outSpace, (finalInput & 0xFFFF) != 0);
    return decoder.Run(*inputCount, *outputCount);
}
