// archive_handles.h - open archives: their records, the open list and the shared buffers.
#pragma once

#include <cstdint>
#include <string>

#include "file_primitives.h"
#include "result.h"

namespace qv {

// Archive-type and state flags of an ArchiveRecord.
enum : uint16_t {
    AR_CREATED = 0x0001,      // this open created the file; close deletes it while empty
    AR_SPANNED = 0x0002,      // spanned ZIP volume
    AR_SPLIT12 = 0x0004,      // own split format, header versions 1 and 2
    AR_LOCATED = 0x0008,      // end record and central directory found
    AR_DIRVOLUME = 0x0010,    // spanned volume beginning with a central directory record
    AR_FOREIGN = 0x0020,      // LHA, ARJ, ZOO, ARC
    AR_SQS = 0x0040,          // own single-file format
    AR_SPLIT3 = 0x0080,       // own split format, header version 3
    AR_TAR = 0x0100,
    AR_GZIP = 0x0200,
    AR_EXE = 0x0400,          // PKLITE program or self-extracting ZIP
    AR_LONGNAMES = 0x0800,    // report effective (long) member names
    AR_KEEPNAMELEN = 0x1000,  // one-shot: the next directory read keeps the stored name length
    // Archives whose directory is read from the converted listing file. Split sets of header
    // version 3 get a listing like versions 1 and 2, so they are read and cleaned up the same
    // way (otherwise their listing would be built, never read, and left behind on close).
    AR_LISTED = AR_SPANNED | AR_SPLIT12 | AR_DIRVOLUME | AR_FOREIGN | AR_TAR | AR_GZIP | AR_SPLIT3,
};

// The library's record of one open archive.
struct ArchiveRecord {
    uint32_t dirOffset = 0;       // first central directory record (valid with AR_LOCATED)
    uint32_t endOffset = 0;       // end-of-central-directory record (valid with AR_LOCATED)
    uint32_t cursor = 0;          // next central record for the Find calls
    uint32_t volumeSize = 0;      // multi-volume sets only
    uint32_t volumeParam = 0;
    uint32_t volumeCapacity = 0;
    uint32_t access = 0;          // os::kGenericRead, or read and write
    uint32_t shareMode = 0;       // 1 for read-only opens, 0 (exclusive) otherwise
    FileHandle handle = kInvalidHandle;
    FileHandle listingHandle = kInvalidHandle;  // converted directory, when there is one
    std::string name;             // OEM; ".ZIP" appended when it had no extension
    std::string listingName;      // OEM; empty when there is no listing
    ArchiveRecord* next = nullptr;
    uint16_t flags = 0;
    uint16_t diskNumber = 0;      // volume in the drive, for spanned archives
};

// Size of each of the two shared transfer buffers.
inline constexpr uint32_t kTransferBufferSize = 65520;

// The record whose handle is h, or null (callers report 106).
ArchiveRecord* FindArchive(FileHandle h);
// Result form of FindArchive: 0 and *out set, or 106.
Result FindArchive(FileHandle h, ArchiveRecord** out);
// The two transfer buffers that live while any archive is open (null when none is).
uint8_t* TransferBuffer(int which);
// Number of open archives.
uint16_t OpenArchiveCount();
// Head of the list of open archives (newest first).
ArchiveRecord* FirstArchive();

// Builds the converted listing of a non-ZIP archive on a read-only open. *archive may be
// replaced when volumes change. Installed by the reader; until then such opens fail.
using ListingBuilder = Result (*)(FileHandle* archive, const std::string& oemName, uint16_t type,
                                  FileHandle* listingHandle, std::string* listingName,
                                  uint16_t* diskNumber);
void SetListingBuilder(ListingBuilder builder);

// The flag that marks each archive type (0 for ZIP).
uint16_t FlagOfType(uint16_t type);

}  // namespace qv
