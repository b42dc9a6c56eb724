// uuencode.h - UUencoding a file into text (one file or a numbered series of parts), and
// decoding such text back into the file it records.
//
// The text this library writes, each line ended by CR LF:
//   [BEGIN---CUT HERE--- separator]      optional, first part only
//   begin 644 <file name>
//   <data lines>                         a length character, then 4 characters per 3 bytes
//   `                                    end of data
//   end
//   <size in decimal>                    lets the decoder cut the padding of the last group
//   [END---CUT HERE--- separator]        optional, last part only
// A series is "base.1", "base.2", ...; the lines simply run on from one part to the next.
#pragma once

#include <cstdint>
#include <string_view>

#include "result.h"

namespace qv {

// Longest line the decoder reads, without its line end.
inline constexpr uint32_t kUuMaxLine = 254;
// Most parts a series may be split into.
inline constexpr uint32_t kUuMaxParts = 900;

// Three bytes to four characters of the UU alphabet (a 0 value is written as "`").
void UuEncodeGroup(const uint8_t bytes[3], char out[4]);
// Four characters to three bytes; false when a character lies outside the alphabet ("`" and
// the characters from space to "_").
bool UuDecodeGroup(const char in[4], uint8_t out[3]);

// Encodes the ANSI-named source. output: the base name (empty: the source's name without its
// extension). splitSize: below 1 no limit, 1 to 2047 kilobytes, from 2048 bytes. *partCount
// receives the number of files written.
Result UuEncodeFile(std::string_view source, std::string_view output, int32_t splitSize,
                    bool separators, uint16_t* partCount);

// Decodes the ANSI-named source (".uue" added when it has no extension; a name ending in ".1"
// is the first of a series) into outputDirectory (empty: the source's directory).
Result UuDecodeFile(std::string_view source, std::string_view outputDirectory);

}  // namespace qv
