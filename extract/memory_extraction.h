// memory_extraction.h - decoding one member into a memory area of the host's.
//
// Qv4UnZipPtr finds the first member whose name matches the name asked for and decodes a
// window of its uncompressed data (from an offset, up to a count) into the host's area. No
// file is written and no CRC is checked. Stored, deflated and imploded members are decoded;
// members of TAR and GZIP files too.
#pragma once

#include <cstdint>

#include "file_primitives.h"
#include "member_decoder.h"
#include "qvarc32.h"
#include "result.h"

namespace qv {

// Decodes the member at archive's position into destination: the bytes from offset on, at
// most count of them (negative: all), never more than the member's uncompressed size allows
// (its size less the offset), so a damaged member cannot overrun an area sized by it.
// Decoding stops once the window is delivered.
//   -3 a method code memory extraction has no decoder for (shrunk included); 108, -11, -4.
Result DecodeMemberToMemory(FileHandle archive, uint8_t* destination, uint32_t offset,
                            int32_t count, int32_t compressedSize, uint32_t uncompressedSize,
                            MethodCode method, uint32_t flags, bool encrypted);

// What Qv4UnZipPtr does.
Result UnZipToMemory(ArchiveHandle handle, uint8_t* destination, uint32_t offset, int32_t count,
                     const char* name, const char* options);

}  // namespace qv
