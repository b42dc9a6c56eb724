// unshrink.h - decoder of shrunk ZIP members (method 1): dynamic LZW with codes of 9 to 13 bits,
// where the compressor decides when the code size grows (the code 256 followed by 1) and when
// the table drops its leaves for reuse (256 followed by 2, a partial clear).
//
// Like the explode decoder it is resumable over caller-provided areas, with all its tables in a
// block of UnshrinkStateSize() bytes (any alignment) and nothing else kept between calls:
//  - Each call reads from input + inputOffset (*inputCount bytes available; on return the bytes
//    taken, only as their bits are needed) and writes to output + outputOffset (*outputCount
//    bytes of space, filled completely when there is enough to deliver; on return the bytes
//    written).
//  - The data carries no end mark: the stream ends (result 1) once the member's uncompressed
//    size has been delivered (any further bits are left alone), or when a code is needed, no
//    input is left and `final` (low 16 bits) is set.
//  - Damaged data ends the stream early with what was delivered: a first code that is not a
//    literal, a code whose string runs through a free entry or loops, or a request to grow the
//    code beyond 13 bits (no shrinker makes one; the tables hold 13-bit codes only). Escape
//    sequences other than 256,1 and 256,2 are passed over.
//  - Output never exceeds the uncompressed size.
#pragma once

#include <cstdint>

namespace qv::unshrink {

uint32_t UnshrinkStateSize();

// Starts a stream in `state` for a member of `uncompressedSize` bytes.
void UnshrinkInit(void* state, uint32_t uncompressedSize);

// Decodes as described above. Result 0: call again (with the input not yet taken once the
// output area is full, or with more input once all was taken); 1: the stream has ended.
int32_t Unshrink(const uint8_t* input, uint32_t inputOffset, uint32_t* inputCount, uint8_t* output,
                 uint32_t outputOffset, uint32_t* outputCount, void* state, uint32_t final);

}  // namespace qv::unshrink
