// extraction_driver.h - extracting and testing the members of an open archive.
//
// Qv4UnZip walks the central directory; every member whose name matches the host's
// specifications is checked against the password, decided on (extract, pass over or ask the
// host), written below the destination with its time and attributes, and checked against its
// CRC-32. Problems with single members are notices to the host; the whole run returns one
// result: 0, -8 when members were skipped, -7 when none was selected, or the first error.
#pragma once

#include "qvarc32.h"
#include "result.h"

namespace qv {

// What Qv4UnZip does; *handle may be replaced when a spanned set moves to another volume.
Result UnZip(ArchiveHandle* handle, const char* destination, const char* specs,
             const char* exclusions, const char* options);

}  // namespace qv
