#include "directory_locator.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "os.h"

namespace qv {
namespace {

constexpr uint32_t kNotFound = 0xFFFFFFFFu;

bool IsSqsEnd(const uint8_t* p) {
    return std::memcmp(p, kSqsEndMagic, 4) == 0;
}
bool IsZipEnd(const uint8_t* p) {
    return GetLe32(p) == format::kEndRecordSignature;
}

// A ZIP end record found inside the window counts only when its directory size and offset,
// read as signed numbers, both lie below the file size and a central record stands at that
// offset. Fails with 105 when the probe cannot seek or read.
Result AcceptZipHit(FileHandle file, uint32_t fileSize, const uint8_t* hit, uint32_t hitOffset,
                    bool* accepted) {
    *accepted = false;
    const auto dirSize = static_cast<int32_t>(GetLe32(hit + 12));
    const auto dirOffset = static_cast<int32_t>(GetLe32(hit + 16));
    // An archive without members has no central record to point at: its empty directory
    // ends where the end record begins. Without this, an empty archive that carries a
    // comment could not be listed at all.
    if (dirSize == 0 && GetLe16(hit + 10) == 0 && static_cast<uint32_t>(dirOffset) == hitOffset) {
        *accepted = true;
        return QV_OK;
    }
    if (dirSize >= static_cast<int64_t>(fileSize) || dirOffset >= static_cast<int64_t>(fileSize))
        return QV_OK;
    // A negative offset is a seek before the start of the file.
    if (dirOffset < 0 || !SeekTo(file, static_cast<uint32_t>(dirOffset))) return QV_E_FILE;
    uint8_t sig[4];
    // The offset lies inside the file, so nothing read means the read failed; fewer than four
    // bytes is a record cut off by the end of the file, no central record.
    const uint32_t got = ReadBytes(file, sig, 4);
    if (got == 0) return QV_E_FILE;
    *accepted = got == 4 && GetLe32(sig) == format::kCentralHeaderSignature;
    return QV_OK;
}

}  // namespace

FileHandle DirectoryFile(const ArchiveRecord& record) {
    return (record.flags & AR_LISTED) ? record.listingHandle : record.handle;
}

Result CheckDirectoryAccess(const ArchiveRecord& record) {
    if ((record.flags & AR_LISTED) && (record.access & os::kGenericWrite)) return QV_E_ACCESS_MODE;
    return QV_OK;
}

Result LocateDirectory(FileHandle archive, uint32_t* dirOffsetOut, uint32_t* endOffsetOut) {
    ArchiveRecord* rec = nullptr;
    QV_TRY(FindArchive(archive, &rec));
    rec->flags &= ~AR_LOCATED;
    QV_TRY(CheckDirectoryAccess(*rec));
    const FileHandle file = DirectoryFile(*rec);
    const bool sqs = (rec->flags & AR_SQS) != 0;

    const uint32_t size = os::SetFilePointer(file, 0, os::kFileEnd);
    if (size == os::kInvalidPosition) return QV_E_FILE;
    const uint32_t tail = sqs ? kSqsEndRecordSize : format::kEndRecordSize;
    if (size < tail) return QV_E_NO_DIRECTORY;

    uint32_t endOffset = kNotFound, dirOffset = kNotFound;
    uint8_t endBytes[format::kEndRecordSize] = {};
    bool found = false;

    // The usual case: the end record closes the file (no archive comment).
    if (!SeekTo(file, size - tail) || ReadBytes(file, endBytes, tail) != tail) return QV_E_FILE;
    if (sqs ? IsSqsEnd(endBytes) : IsZipEnd(endBytes)) {
        found = true;
        endOffset = size - tail;
        dirOffset = sqs ? 0 : GetLe32(endBytes + 16);
    } else {
        // A comment or trailing data follows the end record: search the longest stretch a
        // comment can take, nearest to its start first.
        const uint32_t window = std::min(size, sqs ? kSqsSearchWindow : kZipSearchWindow);
        std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[window]);
        if (!buffer) return QV_E_MEMORY;
        const uint32_t base = size - window;
        if (!SeekTo(file, base) || ReadBytes(file, buffer.get(), window) != window)
            return QV_E_FILE;
        for (uint32_t pos = 0; pos + tail < window; ++pos) {
            const uint8_t* p = buffer.get() + pos;
            if (sqs) {
                if (!IsSqsEnd(p)) continue;
                std::memcpy(endBytes, p, tail);
                found = true;
                endOffset = base + pos;
                dirOffset = 0;
                break;
            }
            if (!IsZipEnd(p)) continue;
            bool accepted = false;
            QV_TRY(AcceptZipHit(file, size, p, base + pos, &accepted));
            if (accepted) {
                std::memcpy(endBytes, p, tail);
                found = true;
                endOffset = base + pos;
                dirOffset = GetLe32(p + 16);
                break;
            }
        }
    }

    if (found && sqs) {
        if (GetLe16(endBytes + 4) > kSqsHighestVersion) return QV_E_VERSION;
        if (GetLe32(endBytes + 8) < kSqsEndRecordSize) return QV_E_NO_DIRECTORY;
    }
    rec->dirOffset = dirOffset;
    rec->endOffset = endOffset;
    rec->flags |= AR_LOCATED;
    if (dirOffsetOut) *dirOffsetOut = dirOffset;
    if (endOffsetOut) *endOffsetOut = endOffset;
    return QV_OK;
}

Result ReadEndRecord(FileHandle archive, EndRecord* out, char* comment, uint16_t commentSize) {
    if (comment && commentSize != 0) comment[0] = '\0';
    ArchiveRecord* rec = nullptr;
    QV_TRY(FindArchive(archive, &rec));
    if (!(rec->flags & AR_LOCATED)) QV_TRY(LocateDirectory(archive));
    const FileHandle file = DirectoryFile(*rec);
    if (!SeekTo(file, rec->endOffset)) return QV_E_FILE;
    uint8_t bytes[format::kEndRecordSize];
    if (ReadBytes(file, bytes, sizeof bytes) != sizeof bytes) return QV_E_EOF;
    *out = DecodeEndRecord(bytes);
    if (out->commentLength == 0 || comment == nullptr) return QV_OK;

    // The whole comment when the buffer is larger than it, else size - 1 bytes.
    const uint32_t want = commentSize > out->commentLength
                              ? out->commentLength
                              : (commentSize == 0 ? 0u : commentSize - 1u);
    bool cut = want < out->commentLength;
    if (want != 0) {
        std::string oem(want, '\0');
        if (ReadBytes(file, oem.data(), want) != want) return QV_E_EOF;
        if (!os::CopyAnsiCut(os::OemToAnsi(oem), comment, commentSize)) cut = true;
    } else if (commentSize != 0) {
        comment[0] = '\0';
    }
    return cut ? QV_E_TOO_LONG : QV_OK;
}

}  // namespace qv
