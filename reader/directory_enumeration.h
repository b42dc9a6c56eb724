// directory_enumeration.h - walking the central directory one record at a time.
//
// Two levels: ReadCentralEntry reads one stored entry as it is (OEM name, raw extra field and
// comment), for the extractor and the writer; ReadDirectoryRecord is the host's view of the
// same entry (ANSI names with "\" separators, effective long names, fields cut to the
// caller's buffers), behind Qv4ReadCDR and the Find calls.
#pragma once

#include <cstdint>
#include <string>

#include "archive_handles.h"
#include "qvarc32.h"
#include "result.h"
#include "zip_records.h"

namespace qv {

// Stored names longer than this are refused by every directory reader.
inline constexpr uint16_t kMaxStoredNameLength = 260;

// One central directory entry as stored.
struct CentralEntry {
    CentralRecord record;
    std::string name;     // OEM, as stored
    std::string extra;    // raw extra field
    std::string comment;  // OEM
};

// Reads the entry at *position of file and, on success, sets *position behind it.
//   -7  the bytes at the position are the end record: the directory is exhausted
//   -11 the record or one of its variable parts is cut short by the end of the file
//   -2  the bytes at the position are no central record
//   -18 a stored name of 261 bytes or more (the fixed record is in out, nothing else read)
//   105 the position cannot be reached
Result ReadCentralEntry(FileHandle file, uint32_t* position, CentralEntry* out);

// The host's view of the entry at *position of the archive's directory file: the record as
// a DirectoryRecord, the name (ANSI, "\" separators, effective name with AR_LONGNAMES) into
// name (QV_NAME_BUFFER_SIZE bytes), the extra field and the comment cut to their buffers
// (null buffers skip them). -18 after a cut is a warning: everything is valid and the
// position has advanced. Clears AR_KEEPNAMELEN whatever happens.
Result ReadDirectoryRecord(ArchiveRecord& archive, uint32_t* position, DirectoryRecord* out,
                           char* name, uint8_t* extra, uint16_t extraSize, char* comment,
                           uint16_t commentSize);

// The Find calls: the first record (locating the directory when needed) and the next one.
Result FindFirstRecord(FileHandle archive, DirectoryRecord* out, char* name, uint8_t* extra,
                       uint16_t extraSize, char* comment, uint16_t commentSize);
Result FindNextRecord(FileHandle archive, DirectoryRecord* out, char* name, uint8_t* extra,
                      uint16_t extraSize, char* comment, uint16_t commentSize);

// The effective name of an entry: the long name of the private extra field, else the stored
// name; both in ANSI with "\" separators.
std::string EffectiveName(std::string_view ansiStoredName, std::string_view extra);

}  // namespace qv
