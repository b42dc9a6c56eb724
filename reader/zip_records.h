// zip_records.h - the ZIP records every reader and writer of the library shares.
//
// Records are decoded and encoded one field at a time, little-endian and packed, so nothing
// here depends on the host's byte order or alignment. The packed public DirectoryRecord is
// converted field by field as well.
#pragma once

#include <cstdint>
#include <string_view>

#include "file_primitives.h"
#include "format_facts.h"
#include "qvarc32.h"
#include "result.h"

namespace qv {

// ---- Little-endian fields ----------------------------------------------------------------
inline uint16_t GetLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
    PutLe16(p, static_cast<uint16_t>(v));
    PutLe16(p + 2, static_cast<uint16_t>(v >> 16));
}

// ---- The library's own single-file format (".SQS") ---------------------------------------
// Its end record: 18 bytes at the end of the file beginning with "JXN3"; a format version
// (u16 at 4) and a length (u32 at 8) are the only fields the reader interprets.
inline constexpr char kSqsEndMagic[4] = {'J', 'X', 'N', '3'};
inline constexpr uint32_t kSqsEndRecordSize = 18;
inline constexpr uint16_t kSqsHighestVersion = 50;

// ---- Local file header: 30 fixed bytes, then name and extra field -------------------------
struct LocalHeader {
    uint32_t signature = format::kLocalHeaderSignature;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;  // DOS time
    uint16_t date = 0;  // DOS date
    uint32_t crc = 0;
    uint32_t compressedSize = 0;  // includes the 12-byte encryption header
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
};

LocalHeader DecodeLocalHeader(const uint8_t* bytes);           // 30 bytes
void EncodeLocalHeader(const LocalHeader& h, uint8_t* bytes);  // 30 bytes

// Reads the 30 fixed bytes at the current position: -11 when short.
Result ReadLocalHeader(FileHandle file, LocalHeader* out);
// Sets the signature and writes the 30 bytes, the name and, when its length is not zero, the
// extra field: -10 on any failed write. The length fields are written as given; the name and
// extra spans must be as long as they say.
Result WriteLocalHeader(FileHandle file, LocalHeader header, std::string_view name,
                        std::string_view extra);

// ---- Central directory file header: 46 fixed bytes, then name, extra field, comment -------
struct CentralRecord {
    uint32_t signature = format::kCentralHeaderSignature;
    uint16_t versionMadeBy = 0;  // low byte version, high byte host system (0 MS-DOS)
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
    uint16_t commentLength = 0;
    uint16_t diskStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;

    // Bytes of the name, extra field and comment behind the fixed part.
    uint32_t VariableLength() const { return uint32_t{nameLength} + extraLength + commentLength; }
};

CentralRecord DecodeCentralRecord(const uint8_t* bytes);           // 46 bytes
void EncodeCentralRecord(const CentralRecord& r, uint8_t* bytes);  // 46 bytes

// The host's packed layouts, field by field.
DirectoryRecord ToDirectoryRecord(const CentralRecord& r);
CentralRecord FromDirectoryRecord(const DirectoryRecord& d);
DirectoryRecordVB ToDirectoryRecordVB(const DirectoryRecord& d);
DirectoryRecord FromDirectoryRecordVB(const DirectoryRecordVB& v);

// ---- End-of-central-directory record: 22 fixed bytes, then the archive comment -------------
struct EndRecord {
    uint32_t signature = format::kEndRecordSignature;
    uint16_t diskNumber = 0;     // number of this disk
    uint16_t directoryDisk = 0;  // disk on which the central directory starts
    uint16_t entriesOnDisk = 0;
    uint16_t entriesTotal = 0;
    uint32_t directorySize = 0;
    uint32_t directoryOffset = 0;
    uint16_t commentLength = 0;
};

EndRecord DecodeEndRecord(const uint8_t* bytes);           // 22 bytes
void EncodeEndRecord(const EndRecord& r, uint8_t* bytes);  // 22 bytes
// Sets the signature and writes the 22 bytes and, when its length is not zero, the comment:
// -10 on any failed write.
Result WriteEndRecord(FileHandle file, EndRecord record, std::string_view comment);

// ---- Multi-volume records --------------------------------------------------------------------
// The filler record written directly before the end record of a set that begins each volume
// with a central directory: the spanning marker and twelve characters, the size of a data
// descriptor with its signature.
inline constexpr uint32_t kFillerRecordSize = 16;
inline constexpr char kFillerText[12] = {'_', 'F', 'I', 'L', 'L', 'E',
                                         'R', '1', '2', '3', '4', '5'};
void EncodeFillerRecord(uint8_t* bytes);  // 16 bytes

// ---- Values the writer puts into a member's record, by compression level code -------------
struct LevelValues {
    uint16_t method = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
};
// The values of level codes 0 to 9; any other code is -3.
Result ValuesForLevel(int level, LevelValues* out);

inline constexpr uint16_t kVersionMadeBy = 20;          // version 2.0 on MS-DOS
inline constexpr uint16_t kVersionStored = 10;          // stored members
inline constexpr uint16_t kVersionDirectoryEntry = 11;  // directory and volume-label entries
inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint32_t kEncryptionHeaderSize = 12;  // counted in the compressed size

// ---- Positioned I/O on 32-bit offsets
// ------------------------------------------------------------ Moves the file pointer to an
// absolute 32-bit offset (the system call takes a signed distance, so offsets of 2 GiB and more
// take two steps). False on failure.
bool SeekTo(FileHandle file, uint32_t offset);

}  // namespace qv
