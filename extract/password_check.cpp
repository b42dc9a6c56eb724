#include "password_check.h"

#include <cstring>

#include "zip_records.h"

namespace qv {
namespace {

// General-purpose flag bit 3: CRC-32 and sizes follow the data in a descriptor.
constexpr uint16_t kFlagDataDescriptor = 0x0008;

}  // namespace

Result CheckPassword(FileHandle archive, DirectoryRecord* record, const char* password) {
    if (!(record->flags & kFlagEncrypted)) return QV_OK;
    if (password == nullptr || password[0] == '\0') return QV_E_PASSWORD_MISMATCH;
    // The key schedule takes a 16-bit length.
    const uint32_t length = static_cast<uint32_t>(std::strlen(password)) & 0xFFFF;
    QvInitKeys(password, length);
    uint8_t header[kEncryptionHeaderSize];
    if (ReadBytes(archive, header, sizeof header) != sizeof header) return QV_E_EOF;
    QvDecryptData(header, sizeof header);
    const uint8_t check = header[kEncryptionHeaderSize - 1];
    // A writer that streams a member cannot know its CRC when it writes the header, so with a
    // data descriptor the check byte is the high byte of the DOS time (as Info-ZIP and the
    // application note have it); the CRC byte is accepted there as well.
    bool accepted = check == static_cast<uint8_t>(record->crc32 >> 24);
    if (!accepted && (record->flags & kFlagDataDescriptor))
        accepted = check == static_cast<uint8_t>(record->time >> 8);
    if (!accepted) return QV_E_PASSWORD_MISMATCH;
    // A record too short to hold the header has no data behind it.
    record->compressedSize = record->compressedSize >= kEncryptionHeaderSize
                                 ? record->compressedSize - kEncryptionHeaderSize
                                 : 0;
    return QV_OK;
}

}  // namespace qv

// ---- Exports -----------------------------------------------------------------------------------

QV_API ResultCode QV_CALL Qv4ZipCheckPassword(ArchiveHandle archive, DirectoryRecord* record,
                                              const char* password) {
    return qv::Guarded([&]() -> qv::Result {
        if (record == nullptr) return QV_E_EOF;
        return qv::CheckPassword(archive, record, password);
    });
}

QV_API ResultCode QV_CALL Qv4ZipCheckPasswordVB32(ArchiveHandle archive, DirectoryRecordVB* record,
                                                  const char* password) {
    return qv::Guarded([&]() -> qv::Result {
        if (record == nullptr) return QV_E_EOF;
        // The reduced size stays in this copy: the host's record is left as it was.
        DirectoryRecord packed = qv::FromDirectoryRecordVB(*record);
        return qv::CheckPassword(archive, &packed, password);
    });
}
