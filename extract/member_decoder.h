// member_decoder.h - decoding one member's data: the method dispatch and the chunk loop.
//
// The archive is positioned at the member's first data byte (past the local header and, for
// an encrypted member, past the 12-byte encryption header, whose check has left the keys
// ready for the data). Compressed data is read in chunks of up to 65520 bytes into one
// transfer buffer, decrypted in place, and decoded into the other; every decoded piece goes
// to a sink. Nothing grows with the member: the buffers and the decoder state are fixed.
#pragma once

#include <cstdint>

#include "file_primitives.h"
#include "result.h"

namespace qv {

// The library's number for a ZIP method, with the deflate option bits folded in.
using MethodCode = uint16_t;
enum : MethodCode {
    kCodeStored = 0,
    kCodeDeflateNormal = 1,  // deflated, option bits 0
    kCodeDeflateMaximum = 2,
    kCodeDeflateFast = 3,
    kCodeDeflateSuperFast = 4,
    kCodeMethod10 = 5,  // ZIP method 10 (PKWARE DCL implode): no decoder
    kCodeImploded = 6,
    kCodeMethod11 = 7,  // ZIP method 11 (reserved): no decoder
    kCodeMethod12 = 8,  // ZIP method 12 (bzip2): no decoder
    kCodeShrunk = 9,
};

// The ZIP methods the extractor hands to the decoders (others are reported as unknown).
bool IsExtractableMethod(uint16_t zipMethod);

// The MethodCode of a ZIP method and its general-purpose flags (bits 1 and 2 for deflate).
MethodCode MethodCodeOf(uint16_t zipMethod, uint16_t flags);

// True when DecodeMemberToFile has a decoder for the method code.
bool HasDecoder(MethodCode method);

// Decodes one member into output (kInvalidHandle when testing: nothing is written) and
// stores the CRC-32 of the decoded bytes through crc. compressedSize excludes the encryption
// header; uncompressedSize feeds the last progress report and the unshrink decoder and bounds
// a damaged member whose decoder never reports its end. flags: the member's general-purpose
// flags (bits 1 and 2 choose the explode variant). encrypted: decrypt every chunk, continuing
// the keys the password check left.
//   -3 no decoder for the method code; 108 no memory for the decoder state; -11 the archive
//   ends inside the member; -10 a write fails; -4 cancelled (the request is consumed).
// A decoder that stops on damaged data is no error here: it shows in the CRC.
Result DecodeMemberToFile(FileHandle archive, FileHandle output, int32_t compressedSize,
                          uint32_t uncompressedSize, MethodCode method, uint32_t flags,
                          uint32_t* crc, bool encrypted);

// Receives the decoded pieces of a member in order.
class PieceSink {
public:
    virtual ~PieceSink() = default;
    virtual Result Take(const uint8_t* data, uint32_t count) = 0;
    // True once nothing more is wanted: decoding stops after the current piece.
    virtual bool Satisfied() const { return false; }
};

// The chunk loop without files, progress or CRC: each decoded piece goes to sink, until the
// decoder finishes, the sink is satisfied or a cancel request arrives (-4, consumed). The
// method codes are those of DecodeMemberToFile.
Result DecodeMemberPieces(FileHandle archive, int32_t compressedSize, uint32_t uncompressedSize,
                          MethodCode method, uint32_t flags, bool encrypted, PieceSink& sink);

}  // namespace qv
