// directory_locator.h - finding an archive's end record and central directory.
//
// Nothing of the directory is kept between calls: the located offsets live in the
// ArchiveRecord (dirOffset, endOffset, AR_LOCATED) and every reader seeks and reads the
// records it needs. Archives whose directory was converted into a listing file are located
// and read in that file.
#pragma once

#include <cstdint>

#include "archive_handles.h"
#include "result.h"
#include "zip_records.h"

namespace qv {

// Size of the search window at the end of a file: the longest comment plus the end record.
inline constexpr uint32_t kZipSearchWindow = 65535 + format::kEndRecordSize;
inline constexpr uint32_t kSqsSearchWindow = 65535 + kSqsEndRecordSize;

// The file an archive's directory is read from: the listing file for AR_LISTED archives,
// else the archive file.
FileHandle DirectoryFile(const ArchiveRecord& record);
// Directory reads of a converted archive opened with write access are refused (-23).
Result CheckDirectoryAccess(const ArchiveRecord& record);

// Finds the end record and the first central record of the archive with this handle and
// stores them in its record (dirOffset, endOffset, AR_LOCATED). When no end record is found
// both offsets are 0xFFFFFFFF and the result is still 0: the first read there fails with 105.
Result LocateDirectory(FileHandle archive, uint32_t* dirOffset = nullptr,
                       uint32_t* endOffset = nullptr);

// Reads the 22-byte end record (locating the directory first when needed) and, when comment
// is not null, the archive comment: ANSI, zero-terminated, at most commentSize - 1 bytes,
// -18 (a warning, the record and the cut comment are valid) when it had to be cut.
Result ReadEndRecord(FileHandle archive, EndRecord* out, char* comment, uint16_t commentSize);

}  // namespace qv
