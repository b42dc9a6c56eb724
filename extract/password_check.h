// password_check.h - checking a password against a member's 12-byte encryption header.
//
// Traditional ZIP encryption puts 12 encrypted bytes ahead of a member's data; once decrypted,
// the last of them repeats a byte the reader also knows: the high byte of the member's CRC-32,
// or, for a member whose sizes and CRC follow its data in a descriptor (flag bit 3), the high
// byte of its DOS time. A passing check leaves the keys ready to decrypt the data.
#pragma once

#include <cstdint>

#include "file_primitives.h"
#include "qvarc32.h"
#include "result.h"

namespace qv {

// Checks password (null or empty counts as none) for the member whose directory record is
// given, reading the header at the archive's position. An unencrypted member passes and
// nothing is read. Passing: 0, the archive at the first data byte, the keys set for the data
// and *record's compressed size less the 12 header bytes. Otherwise -12345 (wrong or missing
// password) or -11 (fewer than 12 header bytes).
Result CheckPassword(FileHandle archive, DirectoryRecord* record, const char* password);

}  // namespace qv
