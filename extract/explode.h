// explode.h - decoder of imploded ZIP members (method 6): LZ77 over a 4 KB or 8 KB sliding
// dictionary, its literals, lengths and distances coded with two or three Shannon-Fano trees
// that are described at the start of the data.
//
// The decoder is resumable over areas its caller provides and keeps its whole state in a block
// of ExplodeStateSize() bytes (any alignment), as the inflate engine does:
//  - Each call reads from input + inputOffset (*inputCount bytes available; on return the bytes
//    taken) and writes to output + outputOffset (*outputCount bytes of space; on return the bytes
//    written). Bytes are taken only as their bits are needed.
//  - It stops (result 0) when the input is used up, or when the output reaches three bytes short
//    of the space given: an area of 65520 bytes receives at most 65517 per call.
//  - There is no end code: the stream ends (result 1) when a bit is needed, no input is left and
//    `final` (low 16 bits) is set. Damaged data ends it the same way, keeping what was decoded:
//    a tree description that does not describe exactly its 256 or 64 symbols as a complete
//    prefix code (the tree's room of n - 1 nodes holds no other), or, with `final` set, input
//    that ends inside the descriptions. The caller's CRC check tells the two apart.
//  - Output before the first byte of the member reads as zeros.
#pragma once

#include <cstdint>

namespace qv::explode {

// The caller's block, in bytes, as ExplodeStateSize reports it.
inline constexpr uint32_t kExplodeStateSize = 9769;

uint32_t ExplodeStateSize();

// Starts a stream in `state`. The variant comes from the member's general-purpose flags:
// bit 2 set: three trees (coded literals, minimum match 3); bit 1 set: the 8 KB dictionary.
void ExplodeInit(void* state, bool threeTrees, bool largeDictionary);

// Decodes as described above. Result 0: call again (with the input not yet taken once the
// output stopped, or with more input once all was taken); 1: the stream has ended.
int32_t Explode(const uint8_t* input, uint32_t inputOffset, uint32_t* inputCount, uint8_t* output,
                uint32_t outputOffset, uint32_t* outputCount, void* state, uint32_t final);

}  // namespace qv::explode
