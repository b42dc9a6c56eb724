// converted_listing.h - ZIP directories made from archives that are not plain ZIP files.
//
// On a read-only open of the library's split sets, spanned ZIP volumes, LHA, ARJ, ZOO, ARC,
// TAR and GZIP files, an equivalent ZIP central directory and end record are written to a
// temporary file; every directory reader then reads that file instead of the archive.
#pragma once

#include <cstdint>
#include <string>

#include "archive_handles.h"
#include "result.h"

namespace qv {

// Builds the listing of the archive open as *archive (the handle may change when volumes
// are asked for). On success the listing file is open for reading and writing, its name is on
// the open-name list, and *volume is the volume in the drive. On failure nothing is left.
Result BuildListing(FileHandle* archive, const std::string& oemName, uint16_t type,
                    FileHandle* listingHandle, std::string* listingName, uint16_t* volume);

}  // namespace qv
