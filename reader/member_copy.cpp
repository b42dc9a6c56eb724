#include "member_copy.h"

#include <algorithm>

#include "os.h"

namespace qv {
namespace {

// CopyBytes takes a signed count; a member may be larger than 2 GiB.
Result CopyLong(FileHandle source, FileHandle destination, uint64_t count) {
    constexpr uint64_t kPiece = 0x40000000;  // 1 GiB
    while (count > 0) {
        const uint64_t piece = std::min(count, kPiece);
        QV_TRY(CopyBytes(source, destination, static_cast<int32_t>(piece)));
        count -= piece;
    }
    return QV_OK;
}

Result WritePart(FileHandle file, std::string_view bytes, uint16_t length) {
    if (length == 0) return QV_OK;
    if (bytes.size() < length) return QV_E_WRITE;  // the caller's span is shorter than stated
    return WriteBytes(file, bytes.data(), length) == 0 ? Result(QV_OK) : Result(QV_E_WRITE);
}

}  // namespace

Result CopyLocalMember(FileHandle source, FileHandle destination) {
    uint8_t bytes[format::kLocalHeaderSize];
    if (ReadBytes(source, bytes, sizeof bytes) != sizeof bytes) return QV_E_EOF;
    if (WriteBytes(destination, bytes, sizeof bytes) != 0) return QV_E_WRITE;
    const LocalHeader h = DecodeLocalHeader(bytes);
    return CopyLong(source, destination, uint64_t{h.nameLength} + h.extraLength + h.compressedSize);
}

Result WriteCentralRecord(FileHandle file, CentralRecord record, std::string_view name,
                          std::string_view extra, std::string_view comment) {
    record.signature = format::kCentralHeaderSignature;
    uint8_t bytes[format::kCentralHeaderSize];
    EncodeCentralRecord(record, bytes);
    if (WriteBytes(file, bytes, sizeof bytes) != 0) return QV_E_WRITE;
    QV_TRY(WritePart(file, name, record.nameLength));
    QV_TRY(WritePart(file, extra, record.extraLength));
    return WritePart(file, comment, record.commentLength);
}

Result MoveMember(FileHandle sourceArchive, FileHandle destinationArchive, FileHandle directoryFile,
                  CentralRecord* record, std::string_view name, std::string_view extra,
                  std::string_view comment) {
    if (!SeekTo(sourceArchive, record->localHeaderOffset)) return QV_E_EOF;
    const uint32_t here = os::SetFilePointer(destinationArchive, 0, os::kFileCurrent);
    if (here == os::kInvalidPosition) return QV_E_FILE;
    record->localHeaderOffset = here;
    QV_TRY(CopyLocalMember(sourceArchive, destinationArchive));
    return WriteCentralRecord(directoryFile, *record, name, extra, comment);
}

}  // namespace qv
