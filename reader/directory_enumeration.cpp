#include "directory_enumeration.h"

#include <algorithm>
#include <cstring>

#include "directory_locator.h"
#include "os.h"
#include "private_extra.h"

namespace qv {
namespace {

void Backslashes(std::string& name) {
    std::replace(name.begin(), name.end(), '/', '\\');
}

}  // namespace

std::string EffectiveName(std::string_view ansiStoredName, std::string_view extra) {
    if (const auto longName = FindLongName(extra)) {
        std::string name = os::OemToAnsi(*longName);
        Backslashes(name);
        return name;
    }
    return std::string(ansiStoredName);
}

Result ReadCentralEntry(FileHandle file, uint32_t* position, CentralEntry* out) {
    if (!SeekTo(file, *position)) return QV_E_FILE;
    uint8_t fixed[format::kCentralHeaderSize] = {};
    const uint32_t got = ReadBytes(file, fixed, sizeof fixed);
    out->record = DecodeCentralRecord(fixed);
    out->name.clear();
    out->extra.clear();
    out->comment.clear();
    // The end record closes the directory, however little of it the read could reach.
    if (got >= 4 && out->record.signature == format::kEndRecordSignature) return QV_E_NOTHING;
    if (got != sizeof fixed) return QV_E_EOF;
    if (out->record.signature != format::kCentralHeaderSignature) return QV_E_NO_DIRECTORY;
    const CentralRecord& r = out->record;
    if (r.nameLength > kMaxStoredNameLength) return QV_E_TOO_LONG;

    // The variable parts in one read; nothing is sized beyond what the 16-bit lengths allow.
    std::string rest(r.VariableLength(), '\0');
    if (!rest.empty() &&
        ReadBytes(file, rest.data(), static_cast<uint32_t>(rest.size())) != rest.size())
        return QV_E_EOF;
    out->name = rest.substr(0, r.nameLength);
    out->extra = rest.substr(r.nameLength, r.extraLength);
    out->comment = rest.substr(uint32_t{r.nameLength} + r.extraLength);
    *position += format::kCentralHeaderSize + r.VariableLength();
    return QV_OK;
}

Result ReadDirectoryRecord(ArchiveRecord& archive, uint32_t* position, DirectoryRecord* out,
                           char* name, uint8_t* extra, uint16_t extraSize, char* comment,
                           uint16_t commentSize) {
    const bool keepNameLength = (archive.flags & AR_KEEPNAMELEN) != 0;
    archive.flags &= ~AR_KEEPNAMELEN;  // one-shot, whatever this read gives
    if (name) name[0] = '\0';
    if (comment && commentSize != 0) comment[0] = '\0';

    CentralEntry entry;
    const Result read = ReadCentralEntry(DirectoryFile(archive), position, &entry);
    if (read == QV_E_FILE) return read;  // nothing was read
    if (out) *out = ToDirectoryRecord(entry.record);
    if (!read.ok()) return read;

    bool cut = false;
    std::string ansiName = os::OemToAnsi(entry.name);
    Backslashes(ansiName);
    const bool effective = (archive.flags & AR_LONGNAMES) && entry.record.extraLength != 0;
    if (effective) ansiName = EffectiveName(ansiName, entry.extra);
    if (name) {
        // A name can grow when it becomes UTF-8: it is cut at a character boundary rather
        // than overflow the host's buffer.
        if (!os::CopyAnsiCut(ansiName, name, QV_NAME_BUFFER_SIZE)) cut = true;
        if (effective && !keepNameLength && out)
            out->nameLength = static_cast<uint16_t>(std::strlen(name));
    } else if (effective && !keepNameLength && out) {
        out->nameLength = static_cast<uint16_t>(std::min<size_t>(ansiName.size(), 0xFFFF));
    }

    if (extra && !entry.extra.empty()) {
        const size_t n = std::min<size_t>(entry.extra.size(), extraSize);
        std::memcpy(extra, entry.extra.data(), n);
        if (n < entry.extra.size()) cut = true;
    }

    if (comment && !entry.comment.empty()) {
        // The whole comment when the buffer is larger than it, else size - 1 characters.
        const size_t length = entry.comment.size();
        const size_t n = commentSize > length ? length : (commentSize == 0 ? 0 : commentSize - 1u);
        if (n < length) cut = true;
        if (commentSize != 0 &&
            !os::CopyAnsiCut(os::OemToAnsi(std::string_view(entry.comment).substr(0, n)), comment,
                             commentSize))
            cut = true;
    }

    // Attribute bits mean DOS attributes only on records made on MS-DOS.
    if (out && (entry.record.versionMadeBy >> 8) != 0) out->externalAttributes = 0;
    return cut ? QV_E_TOO_LONG : QV_OK;
}

Result FindFirstRecord(FileHandle archive, DirectoryRecord* out, char* name, uint8_t* extra,
                       uint16_t extraSize, char* comment, uint16_t commentSize) {
    ArchiveRecord* rec = nullptr;
    QV_TRY(FindArchive(archive, &rec));
    QV_TRY(CheckDirectoryAccess(*rec));
    if (!(rec->flags & AR_LOCATED)) QV_TRY(LocateDirectory(archive));
    rec->cursor = rec->dirOffset;
    return ReadDirectoryRecord(*rec, &rec->cursor, out, name, extra, extraSize, comment,
                               commentSize);
}

Result FindNextRecord(FileHandle archive, DirectoryRecord* out, char* name, uint8_t* extra,
                      uint16_t extraSize, char* comment, uint16_t commentSize) {
    ArchiveRecord* rec = nullptr;
    QV_TRY(FindArchive(archive, &rec));
    QV_TRY(CheckDirectoryAccess(*rec));
    if (!(rec->flags & AR_LOCATED)) return QV_E_NOT_STARTED;
    return ReadDirectoryRecord(*rec, &rec->cursor, out, name, extra, extraSize, comment,
                               commentSize);
}

}  // namespace qv

// ---- Exports ----------------------------------------------------------------------------------

namespace {

uint16_t Low16(uint32_t v) {
    return static_cast<uint16_t>(v & 0xFFFF);
}

}  // namespace

QV_API ResultCode QV_CALL Qv4ZipCount(ArchiveHandle handle, uint16_t* count) {
    uint16_t ignored = 0;
    uint16_t* out = count ? count : &ignored;
    *out = 0;
    return qv::Guarded([&]() -> qv::Result {
        qv::EndRecord end;
        QV_TRY(qv::ReadEndRecord(handle, &end, nullptr, 0));
        *out = end.entriesTotal;
        return QV_OK;
    });
}

QV_API ResultCode QV_CALL Qv4ZipComment(ArchiveHandle handle, char* comment, uint32_t size) {
    return qv::Guarded([&]() -> qv::Result {
        qv::EndRecord end;
        return qv::ReadEndRecord(handle, &end, comment, Low16(size));
    });
}

QV_API int32_t QV_CALL Qv4GetCDR(ArchiveHandle handle) {
    const qv::ArchiveRecord* rec = qv::FindArchive(handle);
    return rec ? static_cast<int32_t>(rec->dirOffset) : -1;
}

QV_API int32_t QV_CALL Qv4GetNextCDR(ArchiveHandle handle) {
    const qv::ArchiveRecord* rec = qv::FindArchive(handle);
    return rec ? static_cast<int32_t>(rec->cursor) : -1;
}

QV_API ResultCode QV_CALL Qv4ReadCDR(ArchiveHandle handle, uint32_t* position,
                                     DirectoryRecord* record, char* name, void* extra,
                                     uint32_t extraSize, char* comment, uint32_t commentSize) {
    return qv::Guarded([&]() -> qv::Result {
        qv::ArchiveRecord* rec = nullptr;
        QV_TRY(qv::FindArchive(handle, &rec));
        if (position == nullptr) {  // no position to read from
            rec->flags &= ~qv::AR_KEEPNAMELEN;
            return QV_E_FILE;
        }
        return qv::ReadDirectoryRecord(*rec, position, record, name, static_cast<uint8_t*>(extra),
                                       Low16(extraSize), comment, Low16(commentSize));
    });
}

QV_API ResultCode QV_CALL Qv4ZipFindFirst(ArchiveHandle handle, DirectoryRecord* record, char* name,
                                          void* extra, uint32_t extraSize, char* comment,
                                          uint32_t commentSize) {
    return qv::Guarded([&]() {
        return qv::FindFirstRecord(handle, record, name, static_cast<uint8_t*>(extra),
                                   Low16(extraSize), comment, Low16(commentSize));
    });
}

QV_API ResultCode QV_CALL Qv4ZipFindNext(ArchiveHandle handle, DirectoryRecord* record, char* name,
                                         void* extra, uint32_t extraSize, char* comment,
                                         uint32_t commentSize) {
    return qv::Guarded([&]() {
        return qv::FindNextRecord(handle, record, name, static_cast<uint8_t*>(extra),
                                  Low16(extraSize), comment, Low16(commentSize));
    });
}

// The aligned layout goes through the packed one: in field by field, out field by field.
QV_API ResultCode QV_CALL Qv4ZipFindFirstVB32(ArchiveHandle handle, DirectoryRecordVB* record,
                                              char* name, void* extra, uint32_t extraSize,
                                              char* comment, uint32_t commentSize) {
    DirectoryRecord packed = record ? qv::FromDirectoryRecordVB(*record) : DirectoryRecord{};
    const ResultCode r = Qv4ZipFindFirst(handle, record ? &packed : nullptr, name, extra, extraSize,
                                         comment, commentSize);
    if (record) *record = qv::ToDirectoryRecordVB(packed);
    return r;
}

QV_API ResultCode QV_CALL Qv4ZipFindNextVB32(ArchiveHandle handle, DirectoryRecordVB* record,
                                             char* name, void* extra, uint32_t extraSize,
                                             char* comment, uint32_t commentSize) {
    DirectoryRecord packed = record ? qv::FromDirectoryRecordVB(*record) : DirectoryRecord{};
    const ResultCode r = Qv4ZipFindNext(handle, record ? &packed : nullptr, name, extra, extraSize,
                                        comment, commentSize);
    if (record) *record = qv::ToDirectoryRecordVB(packed);
    return r;
}

QV_API ResultCode QV_CALL Qv4EffectiveFileName(const char* storedName, const void* extra,
                                               uint32_t extraLength, char* output) {
    return qv::Guarded([&]() -> qv::Result {
        if (output == nullptr) return QV_OK;
        const std::string_view field =
            extra ? std::string_view(static_cast<const char*>(extra), Low16(extraLength))
                  : std::string_view();
        const std::string name = qv::EffectiveName(storedName ? storedName : "", field);
        return qv::os::CopyAnsiCut(name, output, QV_NAME_BUFFER_SIZE) ? QV_OK : QV_E_TOO_LONG;
    });
}
