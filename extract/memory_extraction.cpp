#include "memory_extraction.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "archive_handles.h"
#include "directory_enumeration.h"
#include "directory_locator.h"
#include "name_matching.h"
#include "option_parser.h"
#include "password_check.h"
#include "private_extra.h"
#include "status_reporting.h"
#include "zip_records.h"

namespace qv {
namespace {

// The part of the decoded stream the host asked for, copied to its area as it passes.
class WindowSink : public PieceSink {
public:
    WindowSink(uint8_t* destination, uint32_t offset, uint32_t count)
        : destination_(destination), offset_(offset), count_(count) {}
    Result Take(const uint8_t* data, uint32_t n) override {
        if (offset_ < position_ + n && delivered_ < count_) {
            // The window begins in this piece, or began in an earlier one.
            const uint32_t skip =
                offset_ > position_ ? static_cast<uint32_t>(offset_ - position_) : 0;
            const uint32_t copy = std::min(n - skip, count_ - delivered_);
            std::memcpy(destination_ + delivered_, data + skip, copy);
            delivered_ += copy;
        }
        position_ += n;
        return QV_OK;
    }
    bool Satisfied() const override { return delivered_ >= count_; }

private:
    uint8_t* destination_;
    uint64_t offset_;
    uint32_t count_;
    uint64_t position_ = 0;  // where the next piece begins in the uncompressed stream
    uint32_t delivered_ = 0;
};

bool MemoryDecodable(MethodCode method) {
    return method != kCodeShrunk && HasDecoder(method);
}

}  // namespace

Result DecodeMemberToMemory(FileHandle archive, uint8_t* destination, uint32_t offset,
                            int32_t count, int32_t compressedSize, uint32_t uncompressedSize,
                            MethodCode method, uint32_t flags, bool encrypted) {
    if (compressedSize < 1) return QV_OK;
    if (!MemoryDecodable(method)) return QV_E_METHOD;
    // The host sized its area by the count, or by the member's size less the offset: never
    // deliver past either, whatever a damaged member decodes to.
    uint32_t wanted = count < 0 ? 0x7FFFFFFFu : static_cast<uint32_t>(count);
    wanted = std::min(wanted, uncompressedSize > offset ? uncompressedSize - offset : 0u);
    if (wanted == 0 || destination == nullptr) return QV_OK;
    WindowSink sink(destination, offset, wanted);
    return DecodeMemberPieces(archive, compressedSize, uncompressedSize, method, flags, encrypted,
                              sink);
}

Result UnZipToMemory(ArchiveHandle handle, uint8_t* destination, uint32_t offset, int32_t count,
                     const char* name, const char* optionsText) {
    UnzipOptionSet options;
    QV_TRY(ParseOptionsUnzip(optionsText, &options));
    ArchiveRecord* archive = nullptr;
    QV_TRY(FindArchive(handle, &archive));
    if (options.flags & UNZIPOPT_DOT_L) archive->flags |= AR_LONGNAMES;
    if (archive->flags & AR_LONGNAMES) options.flags |= UNZIPOPT_DOT_L;

    std::string wantedDirectory, wantedFile;
    SplitPathName(os::AnsiToOem(name ? name : ""), nullptr, &wantedDirectory, &wantedFile);
    if (wantedFile.empty()) wantedFile.assign(1, '*');

    QV_TRY(CheckDirectoryAccess(*archive));
    if (!(archive->flags & AR_LOCATED)) QV_TRY(LocateDirectory(archive->handle));
    archive->cursor = archive->dirOffset;
    const bool converted = (archive->flags & (AR_TAR | AR_GZIP)) != 0;
    for (;;) {
        CentralEntry entry;
        archive->flags &= ~AR_KEEPNAMELEN;
        QV_TRY(ReadCentralEntry(DirectoryFile(*archive), &archive->cursor, &entry));
        std::string memberName = entry.name;
        if (archive->flags & AR_LONGNAMES) {
            if (const auto longName = FindLongName(entry.extra)) memberName = *longName;
        }
        std::replace(memberName.begin(), memberName.end(), '/', '\\');
        std::string directory, file;
        SplitPathName(memberName, nullptr, &directory, &file);
        if (!MatchSpec(directory, file, wantedDirectory, wantedFile, /*recurse=*/false)) continue;

        // The first match is the member: later ones are not looked at.
        const FileHandle source = archive->handle;
        const CentralRecord& central = entry.record;
        if (converted) {
            // TAR and GZIP members have no local header: the listing points at the data.
            if (!SeekTo(source, central.localHeaderOffset)) return QV_E_EOF;
        } else {
            LocalHeader local;
            if (!SeekTo(source, central.localHeaderOffset)) return QV_E_EOF;
            QV_TRY(ReadLocalHeader(source, &local));
            const uint64_t data = uint64_t{central.localHeaderOffset} + format::kLocalHeaderSize +
                                  local.nameLength + local.extraLength;
            if (data > 0xFFFFFFFFu || !SeekTo(source, static_cast<uint32_t>(data))) return QV_E_EOF;
        }
        StatusBlock& block = Status().block;
        os::CopyAnsiCut(os::OemToAnsi(memberName), block.fileName, sizeof block.fileName);
        DirectoryRecord record = ToDirectoryRecord(central);
        if (!converted) {
            const Result check = CheckPassword(source, &record, options.password.c_str());
            if (!check.ok()) {
                block.kind = QV_STATUS_NOTICE;
                block.code = QV_E_PASSWORD;
                ReportStatus(block);
                return check;
            }
        }
        MethodCode method = kCodeStored;
        if (archive->flags & AR_GZIP) {
            method = kCodeDeflateNormal;
        } else if (!(archive->flags & AR_TAR)) {
            if (!IsExtractableMethod(record.method)) {
                block.kind = QV_STATUS_NOTICE;
                block.code = QV_E_METHOD;
                ReportStatus(block);
                return QV_E_METHOD;
            }
            method = MethodCodeOf(record.method, record.flags);
        }
        if (options.flags & UNZIPOPT_TEST) return QV_OK;
        const int32_t packed = (archive->flags & AR_TAR)
                                   ? static_cast<int32_t>(record.uncompressedSize)
                                   : static_cast<int32_t>(record.compressedSize);
        return DecodeMemberToMemory(source, destination, offset, count, packed,
                                    record.uncompressedSize, method, record.flags,
                                    (record.flags & kFlagEncrypted) != 0);
    }
}

}  // namespace qv

// ---- Exports -----------------------------------------------------------------------------------

QV_API ResultCode QV_CALL Qv4UnZipPtr(ArchiveHandle handle, void* destination, uint32_t offset,
                                      int32_t count, const char* name, const char* options) {
    return qv::Guarded([&]() {
        return qv::UnZipToMemory(handle, static_cast<uint8_t*>(destination), offset, count, name,
                                 options);
    });
}
