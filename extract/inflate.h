// inflate.h - the inflate engine: a resumable decoder of raw deflate streams (RFC 1951) whose
// whole state lives in a block the caller provides. Exported as QvInflateUCBufSize,
// QvInflateUCInit and QvInflateUC (declared in qvarc32.h).
//
// How the engine meets its callers:
//  - It stops whenever the input given is used up (result 0, all of it taken) or the output
//    area is full (result 0, the area filled), and continues exactly there on the next call.
//  - Decoded bytes are staged in a 32 KiB window and handed out when the window fills (32768
//    bytes, plus up to 257 more when a back-reference runs past the end) or the stream ends.
//  - Input is counted as the engine reads it: a bit buffer that always holds the rest of the
//    current byte and the whole next byte, so the count taken includes one byte of look-ahead
//    (two right after a stored block or at the start). With the final flag set, reads past the
//    end yield zero bytes that are not counted; a stream that decodes more than 56 of those
//    zero bits (outside stored data) is treated as bad data, so a cut-off stream always ends.
//  - Nothing is read past the input count given: a call given no input (and no final flag)
//    that needs input returns 0 having taken nothing.
//  - Result -1 ends the stream: the last block is decoded and delivered, or the data is bad
//    (then the whole input given is counted as taken).
#pragma once

#include <cstdint>

#include "inflate_tables.h"

namespace qv::inflate {

// The caller's block, in bytes, as QvInflateUCBufSize reports it.
constexpr uint32_t kStateBlockSize = 39028;

constexpr uint32_t kWindowSize = 32768;
constexpr uint32_t kMaxMatch = 258;
// Bytes a back-reference copy may write past its end (and puts back).
constexpr uint32_t kCopySpill = 16;
// A back-reference starting at the window's last byte ends kMaxMatch - 1 bytes past its end,
// and its copy may spill further. Rounded up to keep what follows 8-byte aligned.
constexpr uint32_t kWindowBytes = (kWindowSize + kMaxMatch - 1 + kCopySpill + 7) & ~7u;

// One stream's state. It sits at the first 8-byte-aligned address of the caller's block.
struct InflateState {
    uint8_t window[kWindowBytes];  // output staged for delivery, and the history it refers to

    uint64_t bits;        // bit accumulator, next bit lowest; bits above bitCount are zero
    uint32_t bitCount;    // bits held (at most 63)
    uint32_t padBytes;    // zero bytes read past the end of the final input, not yet given back
    uint32_t winPos;      // write position in the window
    uint32_t prevEnd;     // end of the window's previous content (where old history ends)
    uint32_t flushed;     // bytes of the window already handed out by the flush under way
    uint32_t storedLeft;  // bytes of a stored block still to copy
    uint32_t magic;       // set by QvInflateUCInit

    uint16_t hlit;      // dynamic block: literal/length lengths (257 to 286)
    uint16_t hdist;     // dynamic block: distance lengths (1 to 30)
    uint16_t hclen;     // dynamic block: code-length code lengths (4 to 19)
    uint16_t lenIndex;  // dynamic block: lengths read so far

    uint8_t phase;        // where decoding stands (Phase in inflate.cpp)
    uint8_t afterFlush;   // phase to take up once the flush under way is delivered
    uint8_t lastBlock;    // BFINAL of the current block
    uint8_t fresh;        // the bit buffer was just refilled with two whole bytes
    uint8_t failed;       // a data error ended the stream
    uint8_t fixedLoaded;  // the tables hold the fixed code

    uint16_t litlen[kLitLenCapacity];
    uint16_t dist[kDistCapacity];
    uint16_t precode[kPrecodeCapacity];
    uint8_t lengths[288 + 32];  // literal/length code lengths, then distance code lengths
    uint8_t precodeLengths[19];
};

static_assert(sizeof(InflateState) + alignof(InflateState) - 1 <= kStateBlockSize,
              "the state must fit the caller's block at any start address");

}  // namespace qv::inflate
