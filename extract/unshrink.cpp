// unshrink.cpp - the shrunk-member decoder: code table, string stack, partial clearing and the
// resumable decoding loop.
#include "unshrink.h"

#include <algorithm>
#include <cstring>

#include "legacy_call.h"
#include "lsb_bit_reader.h"

namespace qv::unshrink {
namespace {

constexpr uint32_t kTableSize = 8192;  // codes of up to 13 bits
constexpr uint32_t kMaxCodeSize = 13;
constexpr uint32_t kFirstCodeSize = 9;
constexpr uint16_t kEscape = 256;     // followed by 1 (grow the code) or 2 (partial clear)
constexpr uint16_t kFirstFree = 257;  // codes 0-255 are the bytes themselves
constexpr uint16_t kFree = 0xFFFF;    // prefix of a code that is not defined

constexpr uint8_t kTag = 0x5B;  // set by UnshrinkInit

enum Phase : uint8_t {
    kFirstCode,   // the first code: a byte
    kCode,        // next: a code
    kEscapeCode,  // next: what follows the escape code
    kDeliver,     // a decoded string waits on the stack
    kDone,        // ended: complete or damaged
};

struct UnshrinkState {
    uint16_t prefix[kTableSize];  // code of the string less its last byte; kFree if undefined
    uint8_t suffix[kTableSize];   // the string's last byte
    // The decoded string, last byte at the top (index 8191), first at stackTop. A string visits
    // each code at most once, so it has fewer than 8192 bytes. During a partial clear the area
    // serves as the table of codes to keep.
    uint8_t stack[kTableSize];
    uint32_t remaining;  // uncompressed bytes still to deliver
    uint32_t bitBuffer;  // unused bits of the bytes taken, next bit lowest
    uint16_t stackTop;   // kTableSize when the stack is empty
    uint16_t nextFree;   // the code the next string defines; kTableSize when the table is full
    uint16_t prevCode;   // the code decoded last
    uint8_t codeSize;    // 9 to 13
    uint8_t bitCount;    // bits in bitBuffer (at most 20)
    uint8_t firstByte;   // the first byte of the last string
    uint8_t phase;       // a Phase
    uint8_t tag;
};

UnshrinkState* StateIn(void* block) {
    const auto at = reinterpret_cast<uintptr_t>(block);
    const uintptr_t aligned = (at + alignof(UnshrinkState) - 1) & ~(alignof(UnshrinkState) - 1);
    return reinterpret_cast<UnshrinkState*>(aligned);
}

uint16_t FirstFreeFrom(const UnshrinkState& s, uint32_t code) {
    while (code < kTableSize && s.prefix[code] != kFree) ++code;
    return static_cast<uint16_t>(code);
}

// Frees every defined code below the next free code that is not the prefix of another such
// code (the table's leaves); freed codes are reused from the lowest up.
void PartialClear(UnshrinkState& s) {
    uint8_t* keep = s.stack;  // empty: a clear only follows a delivered string
    std::memset(keep, 0, kTableSize);
    for (uint32_t code = kFirstFree; code < s.nextFree; ++code) {
        if (s.prefix[code] != kFree) keep[s.prefix[code]] = 1;
    }
    for (uint32_t code = kFirstFree; code < s.nextFree; ++code) {
        if (keep[code] == 0) s.prefix[code] = kFree;
    }
    s.nextFree = FirstFreeFrom(s, kFirstFree);
}

// Puts the string of `code` on the stack and defines the next free code as the previous string
// followed by this one's first byte. False for damaged data.
bool DecodeString(UnshrinkState& s, uint32_t code) {
    uint32_t top = kTableSize;
    uint32_t walk = code;
    if (code >= kFirstFree && s.prefix[code] == kFree) {
        // A code not defined yet: the one this very string defines, the previous string
        // followed by its own first byte.
        s.stack[--top] = s.firstByte;
        walk = s.prevCode;
    }
    while (walk > 0xFF) {
        if (walk == kEscape || s.prefix[walk] == kFree || top == 1) return false;
        s.stack[--top] = s.suffix[walk];
        walk = s.prefix[walk];
    }
    s.stack[--top] = static_cast<uint8_t>(walk);
    s.stackTop = static_cast<uint16_t>(top);
    if (s.nextFree < kTableSize) {
        s.prefix[s.nextFree] = s.prevCode;
        s.suffix[s.nextFree] = static_cast<uint8_t>(walk);
        s.nextFree = FirstFreeFrom(s, s.nextFree + 1u);
    }
    s.prevCode = static_cast<uint16_t>(code);
    s.firstByte = static_cast<uint8_t>(walk);
    return true;
}

// One call's work: the areas and the bit reader over the input.
class Decoder {
public:
    Decoder(UnshrinkState& s, const uint8_t* in, const uint8_t* inEnd, uint8_t* out,
            uint8_t* outEnd, bool final)
        : s_(s),
          r_{in, inEnd, s.bitBuffer, s.bitCount},
          out_(out),
          outEnd_(outEnd),
          final_(final) {}

    int32_t Run();

    const uint8_t* in() const { return r_.in; }
    uint8_t* out() const { return out_; }

private:
    enum class Step { kGo, kStop, kEnd };

    bool Need(uint32_t n) { return r_.Need(n); }
    uint32_t Take(uint32_t n) { return r_.Take(n); }
    Step OutOfInput() const { return final_ ? Step::kEnd : Step::kStop; }
    Step Deliver();

    UnshrinkState& s_;
    LsbBitReader r_;  // the input and the bits taken from it
    uint8_t* out_;
    uint8_t* outEnd_;
    bool final_;
};

// Hands out the stack's string as far as the output and the uncompressed size allow.
Decoder::Step Decoder::Deliver() {
    const uint32_t waiting = kTableSize - s_.stackTop;
    const uint32_t n = std::min({waiting, s_.remaining, static_cast<uint32_t>(outEnd_ - out_)});
    if (n > 0) std::memcpy(out_, s_.stack + s_.stackTop, n);
    out_ += n;
    s_.stackTop = static_cast<uint16_t>(s_.stackTop + n);
    s_.remaining -= n;
    if (s_.remaining == 0) return Step::kEnd;
    if (n < waiting) return Step::kStop;  // the output area is full
    s_.phase = kCode;
    return Step::kGo;
}

int32_t Decoder::Run() {
    Step step = s_.remaining == 0 ? Step::kEnd : Step::kGo;
    while (step == Step::kGo) {
        switch (s_.phase) {
            case kFirstCode: {
                if (!Need(kFirstCodeSize)) {
                    step = OutOfInput();
                    break;
                }
                const uint32_t code = Take(kFirstCodeSize);
                if (code > 0xFF) {
                    step = Step::kEnd;  // the data starts with a byte
                    break;
                }
                s_.stack[kTableSize - 1] = static_cast<uint8_t>(code);
                s_.stackTop = kTableSize - 1;
                s_.prevCode = static_cast<uint16_t>(code);
                s_.firstByte = static_cast<uint8_t>(code);
                s_.phase = kDeliver;
                break;
            }
            case kCode: {
                if (!Need(s_.codeSize)) {
                    step = OutOfInput();
                    break;
                }
                const uint32_t code = Take(s_.codeSize);
                if (code == kEscape) {
                    s_.phase = kEscapeCode;
                } else if (DecodeString(s_, code)) {
                    s_.phase = kDeliver;
                } else {
                    step = Step::kEnd;
                }
                break;
            }
            case kEscapeCode: {
                if (!Need(s_.codeSize)) {
                    step = OutOfInput();
                    break;
                }
                const uint32_t what = Take(s_.codeSize);
                if (what == 1) {
                    // Codes never exceed 13 bits: a request beyond is damage, not a size.
                    if (s_.codeSize == kMaxCodeSize) {
                        step = Step::kEnd;
                        break;
                    }
                    ++s_.codeSize;
                } else if (what == 2) {
                    PartialClear(s_);
                }
                s_.phase = kCode;
                break;
            }
            case kDeliver:
                step = Deliver();
                break;
            default:
                step = Step::kEnd;
                break;
        }
    }
    s_.bitBuffer = r_.bits;
    s_.bitCount = static_cast<uint8_t>(r_.count);
    if (step == Step::kEnd) {
        s_.phase = kDone;
        return 1;
    }
    return 0;
}

}  // namespace

uint32_t UnshrinkStateSize() {
    return static_cast<uint32_t>(sizeof(UnshrinkState) + alignof(UnshrinkState) - 1);
}

void UnshrinkInit(void* state, uint32_t uncompressedSize) {
    if (state == nullptr) return;
    UnshrinkState& s = *StateIn(state);
    for (uint32_t code = 0; code < kTableSize; ++code) {
        s.prefix[code] = code <= 0xFF ? 0 : kFree;
        s.suffix[code] = static_cast<uint8_t>(code <= 0xFF ? code : 0);
    }
    s.remaining = uncompressedSize;
    s.bitBuffer = 0;
    s.bitCount = 0;
    s.stackTop = kTableSize;
    s.nextFree = kFirstFree;
    s.prevCode = 0;
    s.codeSize = kFirstCodeSize;
    s.firstByte = 0;
    s.phase = kFirstCode;
    s.tag = kTag;
}

int32_t Unshrink(const uint8_t* input, uint32_t inputOffset, uint32_t* inputCount, uint8_t* output,
                 uint32_t outputOffset, uint32_t* outputCount, void* state, uint32_t final) {
    UnshrinkState* s = state != nullptr ? StateIn(state) : nullptr;
    const bool live = s != nullptr && s->tag == kTag && s->phase < kDone;
    return CallLegacyDecoder<Decoder>(s, live, input, inputOffset, inputCount, output, outputOffset,
                                      outputCount, final);
}

}  // namespace qv::unshrink
