// member_copy.h - moving whole members from one archive into another.
//
// The writer rebuilds an archive by copying each member it keeps: the local header and
// everything that header says follows it go to the new body file, and the member's central
// record (with its new local-header offset) goes to a separate directory file.
#pragma once

#include <string_view>

#include "file_primitives.h"
#include "result.h"
#include "zip_records.h"

namespace qv {

// Copies the local header at the source's position and the name, extra field and compressed
// data it announces (30 + name + extra + compressed size bytes, from the local header alone:
// a data descriptor behind the data is not copied). -11 short read, -10 failed write, -4
// cancelled, 105 bad handle.
Result CopyLocalMember(FileHandle source, FileHandle destination);

// Writes one central directory file header: the signature, the 46 fixed bytes, the name
// (its stated length), and the extra field and comment when their lengths are not zero.
// The spans must hold at least the lengths the record states. -10 on any failed write.
Result WriteCentralRecord(FileHandle file, CentralRecord record, std::string_view name,
                          std::string_view extra, std::string_view comment);

// Transfers one member into a new archive: seeks the source to the record's local header,
// points the record at the destination's current position, copies the local member and
// appends the updated central record to the directory file. *record is updated.
Result MoveMember(FileHandle sourceArchive, FileHandle destinationArchive, FileHandle directoryFile,
                  CentralRecord* record, std::string_view name, std::string_view extra,
                  std::string_view comment);

}  // namespace qv
