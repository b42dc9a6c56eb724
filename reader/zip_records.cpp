#include "zip_records.h"

#include <cstring>

namespace qv {

LocalHeader DecodeLocalHeader(const uint8_t* b) {
    LocalHeader h;
    h.signature = GetLe32(b + 0);
    h.versionNeeded = GetLe16(b + 4);
    h.flags = GetLe16(b + 6);
    h.method = GetLe16(b + 8);
    h.time = GetLe16(b + 10);
    h.date = GetLe16(b + 12);
    h.crc = GetLe32(b + 14);
    h.compressedSize = GetLe32(b + 18);
    h.uncompressedSize = GetLe32(b + 22);
    h.nameLength = GetLe16(b + 26);
    h.extraLength = GetLe16(b + 28);
    return h;
}

void EncodeLocalHeader(const LocalHeader& h, uint8_t* b) {
    PutLe32(b + 0, h.signature);
    PutLe16(b + 4, h.versionNeeded);
    PutLe16(b + 6, h.flags);
    PutLe16(b + 8, h.method);
    PutLe16(b + 10, h.time);
    PutLe16(b + 12, h.date);
    PutLe32(b + 14, h.crc);
    PutLe32(b + 18, h.compressedSize);
    PutLe32(b + 22, h.uncompressedSize);
    PutLe16(b + 26, h.nameLength);
    PutLe16(b + 28, h.extraLength);
}

Result ReadLocalHeader(FileHandle file, LocalHeader* out) {
    uint8_t bytes[format::kLocalHeaderSize];
    if (ReadBytes(file, bytes, sizeof bytes) != sizeof bytes) return QV_E_EOF;
    *out = DecodeLocalHeader(bytes);
    return QV_OK;
}

Result WriteLocalHeader(FileHandle file, LocalHeader header, std::string_view name,
                        std::string_view extra) {
    header.signature = format::kLocalHeaderSignature;
    uint8_t bytes[format::kLocalHeaderSize];
    EncodeLocalHeader(header, bytes);
    if (WriteBytes(file, bytes, sizeof bytes) != 0) return QV_E_WRITE;
    if (!name.empty() && WriteBytes(file, name.data(), static_cast<uint32_t>(name.size())) != 0)
        return QV_E_WRITE;
    if (header.extraLength != 0 && !extra.empty() &&
        WriteBytes(file, extra.data(), static_cast<uint32_t>(extra.size())) != 0)
        return QV_E_WRITE;
    return QV_OK;
}

CentralRecord DecodeCentralRecord(const uint8_t* b) {
    CentralRecord r;
    r.signature = GetLe32(b + 0);
    r.versionMadeBy = GetLe16(b + 4);
    r.versionNeeded = GetLe16(b + 6);
    r.flags = GetLe16(b + 8);
    r.method = GetLe16(b + 10);
    r.time = GetLe16(b + 12);
    r.date = GetLe16(b + 14);
    r.crc = GetLe32(b + 16);
    r.compressedSize = GetLe32(b + 20);
    r.uncompressedSize = GetLe32(b + 24);
    r.nameLength = GetLe16(b + 28);
    r.extraLength = GetLe16(b + 30);
    r.commentLength = GetLe16(b + 32);
    r.diskStart = GetLe16(b + 34);
    r.internalAttributes = GetLe16(b + 36);
    r.externalAttributes = GetLe32(b + 38);
    r.localHeaderOffset = GetLe32(b + 42);
    return r;
}

void EncodeCentralRecord(const CentralRecord& r, uint8_t* b) {
    PutLe32(b + 0, r.signature);
    PutLe16(b + 4, r.versionMadeBy);
    PutLe16(b + 6, r.versionNeeded);
    PutLe16(b + 8, r.flags);
    PutLe16(b + 10, r.method);
    PutLe16(b + 12, r.time);
    PutLe16(b + 14, r.date);
    PutLe32(b + 16, r.crc);
    PutLe32(b + 20, r.compressedSize);
    PutLe32(b + 24, r.uncompressedSize);
    PutLe16(b + 28, r.nameLength);
    PutLe16(b + 30, r.extraLength);
    PutLe16(b + 32, r.commentLength);
    PutLe16(b + 34, r.diskStart);
    PutLe16(b + 36, r.internalAttributes);
    PutLe32(b + 38, r.externalAttributes);
    PutLe32(b + 42, r.localHeaderOffset);
}

DirectoryRecord ToDirectoryRecord(const CentralRecord& r) {
    DirectoryRecord d;
    d.signature = r.signature;
    d.versionMadeBy = r.versionMadeBy;
    d.versionNeeded = r.versionNeeded;
    d.flags = r.flags;
    d.method = r.method;
    d.time = r.time;
    d.date = r.date;
    d.crc32 = r.crc;
    d.compressedSize = r.compressedSize;
    d.uncompressedSize = r.uncompressedSize;
    d.nameLength = r.nameLength;
    d.extraLength = r.extraLength;
    d.commentLength = r.commentLength;
    d.diskStart = r.diskStart;
    d.internalAttributes = r.internalAttributes;
    d.externalAttributes = r.externalAttributes;
    d.localHeaderOffset = r.localHeaderOffset;
    return d;
}

CentralRecord FromDirectoryRecord(const DirectoryRecord& d) {
    CentralRecord r;
    r.signature = d.signature;
    r.versionMadeBy = d.versionMadeBy;
    r.versionNeeded = d.versionNeeded;
    r.flags = d.flags;
    r.method = d.method;
    r.time = d.time;
    r.date = d.date;
    r.crc = d.crc32;
    r.compressedSize = d.compressedSize;
    r.uncompressedSize = d.uncompressedSize;
    r.nameLength = d.nameLength;
    r.extraLength = d.extraLength;
    r.commentLength = d.commentLength;
    r.diskStart = d.diskStart;
    r.internalAttributes = d.internalAttributes;
    r.externalAttributes = d.externalAttributes;
    r.localHeaderOffset = d.localHeaderOffset;
    return r;
}

DirectoryRecordVB ToDirectoryRecordVB(const DirectoryRecord& d) {
    DirectoryRecordVB v;
    v.signature = d.signature;
    v.crc32 = d.crc32;
    v.compressedSize = d.compressedSize;
    v.uncompressedSize = d.uncompressedSize;
    v.externalAttributes = d.externalAttributes;
    v.localHeaderOffset = d.localHeaderOffset;
    v.versionMadeBy = d.versionMadeBy;
    v.versionNeeded = d.versionNeeded;
    v.flags = d.flags;
    v.method = d.method;
    v.time = d.time;
    v.date = d.date;
    v.nameLength = d.nameLength;
    v.extraLength = d.extraLength;
    v.commentLength = d.commentLength;
    v.diskStart = d.diskStart;
    v.internalAttributes = d.internalAttributes;
    return v;
}

DirectoryRecord FromDirectoryRecordVB(const DirectoryRecordVB& v) {
    DirectoryRecord d;
    d.signature = v.signature;
    d.crc32 = v.crc32;
    d.compressedSize = v.compressedSize;
    d.uncompressedSize = v.uncompressedSize;
    d.externalAttributes = v.externalAttributes;
    d.localHeaderOffset = v.localHeaderOffset;
    d.versionMadeBy = v.versionMadeBy;
    d.versionNeeded = v.versionNeeded;
    d.flags = v.flags;
    d.method = v.method;
    d.time = v.time;
    d.date = v.date;
    d.nameLength = v.nameLength;
    d.extraLength = v.extraLength;
    d.commentLength = v.commentLength;
    d.diskStart = v.diskStart;
    d.internalAttributes = v.internalAttributes;
    return d;
}

EndRecord DecodeEndRecord(const uint8_t* b) {
    EndRecord r;
    r.signature = GetLe32(b + 0);
    r.diskNumber = GetLe16(b + 4);
    r.directoryDisk = GetLe16(b + 6);
    r.entriesOnDisk = GetLe16(b + 8);
    r.entriesTotal = GetLe16(b + 10);
    r.directorySize = GetLe32(b + 12);
    r.directoryOffset = GetLe32(b + 16);
    r.commentLength = GetLe16(b + 20);
    return r;
}

void EncodeEndRecord(const EndRecord& r, uint8_t* b) {
    PutLe32(b + 0, r.signature);
    PutLe16(b + 4, r.diskNumber);
    PutLe16(b + 6, r.directoryDisk);
    PutLe16(b + 8, r.entriesOnDisk);
    PutLe16(b + 10, r.entriesTotal);
    PutLe32(b + 12, r.directorySize);
    PutLe32(b + 16, r.directoryOffset);
    PutLe16(b + 20, r.commentLength);
}

Result WriteEndRecord(FileHandle file, EndRecord record, std::string_view comment) {
    record.signature = format::kEndRecordSignature;
    uint8_t bytes[format::kEndRecordSize];
    EncodeEndRecord(record, bytes);
    if (WriteBytes(file, bytes, sizeof bytes) != 0) return QV_E_WRITE;
    if (record.commentLength != 0 && !comment.empty() &&
        WriteBytes(file, comment.data(), static_cast<uint32_t>(comment.size())) != 0)
        return QV_E_WRITE;
    return QV_OK;
}

void EncodeFillerRecord(uint8_t* bytes) {
    PutLe32(bytes, format::kSpanningMarker);
    std::memcpy(bytes + 4, kFillerText, sizeof kFillerText);
}

Result ValuesForLevel(int level, LevelValues* out) {
    // Method, version needed and the deflate option bits (1 and 2) by level code.
    static constexpr LevelValues kTable[10] = {
        {0, 10, 0x0000},   // stored
        {8, 20, 0x0006},   // deflated, fastest
        {8, 20, 0x0004},   // deflated, fast
        {8, 20, 0x0000},   // deflated, normal
        {8, 20, 0x0002},   // deflated, maximum
        {10, 80, 0x0000},  // method 10
        {6, 11, 0x0000},   // imploded
        {11, 80, 0x0000},  // method 11
        {12, 80, 0x0000},  // method 12
        {1, 10, 0x0000},   // shrunk
    };
    if (level < 0 || level > 9) return QV_E_METHOD;
    *out = kTable[level];
    return QV_OK;
}

bool SeekTo(FileHandle file, uint32_t offset) {
    // All bits set is the system's "invalid position", and the offset of a directory that
    // was not found: it can never be reached.
    if (offset == os::kInvalidPosition) return false;
    constexpr uint32_t kStep = 0x7FFFFFFF;
    if (offset <= kStep)
        return os::SetFilePointer(file, static_cast<int32_t>(offset), os::kFileBegin) == offset;
    if (os::SetFilePointer(file, static_cast<int32_t>(kStep), os::kFileBegin) != kStep)
        return false;
    return os::SetFilePointer(file, static_cast<int32_t>(offset - kStep), os::kFileCurrent) ==
           offset;
}

}  // namespace qv
