// file_version.h - the file versions that the version options of extraction compare.
//
// A member may carry the version of the file it was made from in the library's private extra
// field; an existing file on disk has one in its version resource. Both become eight bytes,
// most significant first, so that two versions compare as unsigned bytes in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "result.h"

namespace qv {

inline constexpr size_t kFileVersionBytes = 8;

// Finds the version block ("QW", data size 10, "VX", eight bytes not all zero) in an extra
// field, walking its blocks from the start while at least 14 bytes remain. True when found,
// with *offset the position of the eight version bytes in the field.
bool FindVersionExtra(const uint8_t* extra, size_t length, size_t* offset);

// The file version of a program or library (an OEM name) from the version resource of its
// PE image, read directly from the file on every platform: dwFileVersionMS then
// dwFileVersionLS of the fixed file information, each most significant byte first.
//   102 empty name; -23 not a PE image, no version resource, or the file cannot be read.
Result ReadFileVersion(std::string_view oemPath, uint8_t out[kFileVersionBytes]);

// The same from an image already in memory (for tests and the fuzz target).
Result ReadImageVersion(const uint8_t* image, size_t size, uint8_t out[kFileVersionBytes]);

}  // namespace qv
