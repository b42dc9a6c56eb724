#include "extraction_driver.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "archive_handles.h"
#include "directory_enumeration.h"
#include "directory_locator.h"
#include "dos_time.h"
#include "file_primitives.h"
#include "file_version.h"
#include "member_decoder.h"
#include "name_matching.h"
#include "open_names.h"
#include "option_parser.h"
#include "output_paths.h"
#include "owned_file.h"
#include "password_check.h"
#include "private_extra.h"
#include "status_reporting.h"
#include "volume_change.h"
#include "zip_records.h"

namespace qv {
namespace {

// Volume numbers have three digits.
constexpr uint16_t kLastVolume = 999;

constexpr uint16_t kGatheredArchives = AR_SPANNED | AR_SPLIT12 | AR_DIRVOLUME;

void SetStatusName(char (&field)[260], std::string_view ansi) {
    os::CopyAnsiCut(ansi, field, sizeof field);
}

// A notice about the current member; the host's OK goes on, anything else cancels.
Result Notify(int16_t code) {
    StatusBlock& block = Status().block;
    block.kind = QV_STATUS_NOTICE;
    block.code = code;
    return ReportStatus(block) == QV_ANSWER_OK ? Result(QV_OK) : Result(QV_E_CANCELLED);
}

// The file into which a member of a multi-volume set is gathered from its volumes. Its name
// is made once per extraction; the file goes with the extraction.
class GatherFile {
public:
    GatherFile() = default;
    GatherFile(const GatherFile&) = delete;
    GatherFile& operator=(const GatherFile&) = delete;
    ~GatherFile() {
        file_.Close();
        if (name_.empty()) return;
        RemoveOpenName(name_);
        DeleteOemFile(name_);
    }
    void MakeName() { name_ = MakeTempName(); }
    // An empty file, open for reading and writing.
    Result Open() {
        if (name_.empty()) return QV_E_FILE;
        file_.Reset(
            CreateOemFile(name_, os::kGenericReadWrite, os::kShareNone, os::kOpenAlways, 0));
        if (!file_.valid()) return QV_E_FILE;
        if (!SeekTo(file_.get(), 0) || !os::SetEndOfFile(file_.get())) return QV_E_FILE;
        return QV_OK;
    }
    FileHandle get() const { return file_.get(); }
    void Close() { file_.Close(); }

private:
    std::string name_;
    OwnedFile file_;
};

// Path filters serve one extraction, however it ends.
struct PathFilterReset {
    ~PathFilterReset() { ClearPathFilters(); }
};

class Extraction {
public:
    Extraction(ArchiveHandle* handle, ArchiveRecord* archive)
        : handle_(handle), archive_(archive) {}

    Result Run(const char* destination, const char* specs, const char* exclusions,
               const char* options);

private:
    Result Member(const CentralEntry& entry);
    // Copies a multi-volume member (local header, name, extra field, data) into the gather
    // file, changing volumes as it crosses them, and leaves that file at its start.
    Result GatherMember(const CentralRecord& record);
    Result GatherBytes(uint64_t count);
    Result ExtractFile(const CentralEntry& entry, DirectoryRecord& record, uint8_t attributes,
                       FileHandle source, const MemberOutputName& clean, const std::string& output);
    Result Decide(const CentralEntry& entry, const DirectoryRecord& record,
                  const std::string& output, bool* proceed);
    Result WrongPassword() {
        QV_TRY(Notify(QV_E_PASSWORD));
        ++skipped_;
        return QV_OK;
    }
    // Password check for the member at source (TAR and GZIP members have none): 0 accepted,
    // 1 refused (reported and skipped), or an error.
    Result Password(FileHandle source, DirectoryRecord& record, bool* accepted);
    // The checks every output path passes before anything is made for it: it must fit, and
    // dropped name components are reported. *usable false: the member is skipped.
    Result CheckOutputPath(const MemberOutputName& clean, const std::string& output, bool* usable);
    // Makes the destination folder, once, before the first thing is put into it.
    Result MakeDestination() {
        if (destinationMade_ || destination_.empty()) return QV_OK;
        QV_TRY(CreateOutputDirs(destination_));
        destinationMade_ = true;
        return QV_OK;
    }
    bool Has(uint32_t option) const { return (options_.flags & option) != 0; }
    bool Listed(uint16_t kind) const { return (archive_->flags & kind) != 0; }

    ArchiveHandle* handle_;
    ArchiveRecord* archive_;
    UnzipOptionSet options_;
    bool testing_ = false;
    uint32_t attributeMask_ = 0;
    std::string destination_;  // OEM, ending in a separator when not empty
    bool destinationMade_ = false;
    std::string specs_, exclusions_;
    uint32_t selected_ = 0, skipped_ = 0;
    GatherFile gather_;
};

Result Extraction::Run(const char* destination, const char* specs, const char* exclusions,
                       const char* options) {
    StatusBlock& block = Status().block;
    SetStatusName(block.archiveName, os::OemToAnsi(archive_->name));
    QV_TRY(ParseOptionsUnzip(options, &options_));
    if (Has(UNZIPOPT_DOT_L)) archive_->flags |= AR_LONGNAMES;
    if (archive_->flags & AR_LONGNAMES) options_.flags |= UNZIPOPT_DOT_L;
    attributeMask_ = AttributeMask(static_cast<uint8_t>(options_.flags & kAttributeMaskBits));
    testing_ = Has(UNZIPOPT_TEST);
    if (testing_) {
        block.operation = QV_OP_TESTING;
    } else {
        block.operation = QV_OP_UNZIPPING;
        std::string dest = destination ? destination : "";
        if (!dest.empty() && dest.back() != ':' && !os::IsSeparator(dest.back())) dest += '\\';
        destination_ = os::AnsiToOem(dest);
    }
    specs_ = os::AnsiToOem(specs ? specs : "");
    exclusions_ = os::AnsiToOem(exclusions ? exclusions : "");
    if (Listed(kGatheredArchives)) gather_.MakeName();

    QV_TRY(CheckDirectoryAccess(*archive_));
    if (!(archive_->flags & AR_LOCATED)) QV_TRY(LocateDirectory(archive_->handle));
    archive_->cursor = archive_->dirOffset;
    Result result;
    for (;;) {
        if (CancelPending()) break;
        CentralEntry entry;
        archive_->flags &= ~AR_KEEPNAMELEN;  // the directory is read as stored
        const Result read = ReadCentralEntry(DirectoryFile(*archive_), &archive_->cursor, &entry);
        if (read == QV_E_NOTHING) break;
        if (!read.ok()) {
            result = read;
            break;
        }
        result = Member(entry);
        if (!result.ok()) break;
    }
    if (ConsumeCancel() && result.ok()) result = QV_E_CANCELLED;
    QV_TRY(result);
    if (skipped_ != 0) return QV_W_SKIPPED;
    return selected_ != 0 ? Result(QV_OK) : Result(QV_E_NOTHING);
}

Result Extraction::Password(FileHandle source, DirectoryRecord& record, bool* accepted) {
    *accepted = true;
    if (Listed(AR_TAR | AR_GZIP)) return QV_OK;
    const Result r = CheckPassword(source, &record, options_.password.c_str());
    if (r == QV_E_PASSWORD_MISMATCH) {
        *accepted = false;
        return WrongPassword();
    }
    return r;
}

Result Extraction::CheckOutputPath(const MemberOutputName& clean, const std::string& output,
                                   bool* usable) {
    *usable = false;
    if (output.size() > kMaxOutputPath) {
        // Never cut a path to make it fit: the member is refused.
        QV_TRY(Notify(QV_E_TOO_LONG));
        ++skipped_;
        return QV_OK;
    }
    // Components of the stored name that would have climbed out of the destination, or made
    // it absolute, were dropped: the host hears of it, and the member goes where it is safe.
    if (clean.dropped && Has(UNZIPOPT_DIRS)) QV_TRY(Notify(QV_E_PATH));
    *usable = true;
    return QV_OK;
}

Result Extraction::GatherBytes(uint64_t count) {
    while (count > 0) {
        const uint32_t size = os::GetFileSize(archive_->handle);
        const uint32_t at = os::SetFilePointer(archive_->handle, 0, os::kFileCurrent);
        if (size == os::kInvalidPosition || at == os::kInvalidPosition) return QV_E_EOF;
        const uint64_t piece = std::min<uint64_t>(count, size > at ? size - at : 0);
        for (uint64_t done = 0; done < piece;) {
            const auto step = static_cast<int32_t>(std::min<uint64_t>(piece - done, 0x40000000));
            QV_TRY(CopyBytes(archive_->handle, gather_.get(), step));
            done += static_cast<uint64_t>(step);
        }
        count -= piece;
        if (count == 0) break;
        // The rest is on the next volume.
        if (archive_->diskNumber >= kLastVolume) return QV_E_EOF;
        ++archive_->diskNumber;
        QV_TRY(ChangeVolume(*archive_, false));
        *handle_ = archive_->handle;
    }
    return QV_OK;
}

Result Extraction::GatherMember(const CentralRecord& record) {
    const uint16_t wanted =
        Listed(AR_SPLIT12) ? record.diskStart : static_cast<uint16_t>(record.diskStart + 1);
    if (archive_->diskNumber != wanted) {
        archive_->diskNumber = wanted;
        QV_TRY(ChangeVolume(*archive_, false));
        *handle_ = archive_->handle;
    }
    if (!SeekTo(archive_->handle, record.localHeaderOffset)) return QV_E_FILE;
    QV_TRY(gather_.Open());
    // The local header first: its own name and extra lengths tell how far the member runs
    // (a local extra field is often longer than the central one).
    QV_TRY(GatherBytes(format::kLocalHeaderSize));
    uint8_t fixed[format::kLocalHeaderSize];
    if (!SeekTo(gather_.get(), 0) || ReadBytes(gather_.get(), fixed, sizeof fixed) != sizeof fixed)
        return QV_E_EOF;
    const LocalHeader local = DecodeLocalHeader(fixed);
    QV_TRY(GatherBytes(uint64_t{local.nameLength} + local.extraLength + record.compressedSize));
    if (!SeekTo(gather_.get(), 0)) return QV_E_EOF;
    return QV_OK;
}

Result Extraction::Member(const CentralEntry& entry) {
    StatusBlock& block = Status().block;
    const CentralRecord& central = entry.record;
    // The member's name as the host sees it: its long name when asked for, "\" separators.
    std::string name = entry.name;
    if (archive_->flags & AR_LONGNAMES) {
        if (const auto longName = FindLongName(entry.extra)) name = *longName;
    }
    std::replace(name.begin(), name.end(), '/', '\\');
    std::string drive, directory, file;
    SplitPathName(name, &drive, &directory, &file);
    if (!IncludeFile(name, directory, file, specs_, exclusions_, /*recurse=*/false,
                     /*checkOpenNames=*/true))
        return QV_OK;

    const MemberOutputName clean = SplitMemberName(name, Has(UNZIPOPT_DOT_D));
    std::string output;
    if (!testing_) {
        output = (Has(UNZIPOPT_DOT_D) ? clean.drive : std::string()) + destination_ +
                 (Has(UNZIPOPT_DIRS) ? clean.directory : std::string()) + clean.file;
        if (Has(UNZIPOPT_DOT_D) && HavePathFilters()) ApplyPathFilters(output);
    }
    SetStatusName(block.fileName, os::OemToAnsi(testing_ ? name : output));

    // Position the archive (or the gathered copy of a multi-volume member) at the member.
    FileHandle source = archive_->handle;
    if (Listed(kGatheredArchives)) {
        QV_TRY(GatherMember(central));
        source = gather_.get();
    } else if (!Listed(AR_TAR | AR_GZIP) && !SeekTo(source, central.localHeaderOffset)) {
        return QV_E_EOF;
    }
    LocalHeader local;
    if (!Listed(AR_TAR | AR_GZIP)) QV_TRY(ReadLocalHeader(source, &local));

    if (Listed(AR_GZIP)) {
        block.method = kCodeDeflateNormal;
        block.totalSize = central.uncompressedSize;
        block.packedSize = central.compressedSize;
    } else if (Listed(AR_TAR)) {
        block.method = kCodeStored;
        block.totalSize = block.packedSize = central.uncompressedSize;
    } else {
        block.method = MethodCodeOf(local.method, local.flags);
        // A streamed member's local header leaves its sizes to the descriptor behind the data.
        const bool described = (local.flags & 0x0008) != 0;
        block.totalSize = described ? central.uncompressedSize : local.uncompressedSize;
        block.packedSize = described ? central.compressedSize : local.compressedSize;
    }
    std::memcpy(Status().extra, &central.date, 2);
    std::memcpy(Status().extra + 2, &central.time, 2);

    if (Listed(AR_TAR | AR_GZIP)) {
        if (!SeekTo(source, central.localHeaderOffset)) return QV_E_EOF;
    } else if (os::SetFilePointer(source, int32_t{local.nameLength} + local.extraLength,
                                  os::kFileCurrent) == os::kInvalidPosition) {
        return QV_E_EOF;
    }

    DirectoryRecord record = ToDirectoryRecord(central);
    // Attribute bits are DOS attributes only on records made on MS-DOS; a name ending in a
    // separator is a directory whoever made it.
    uint8_t attributes =
        (central.versionMadeBy >> 8) == 0 ? static_cast<uint8_t>(central.externalAttributes) : 0;
    if (!name.empty() && os::IsSeparator(name.back())) attributes |= os::kAttrDirectory;

    bool accepted = false;
    if (attributes & os::kAttrDirectory) {
        if (!testing_ && !Has(UNZIPOPT_DIRS)) return QV_OK;
        QV_TRY(Password(source, record, &accepted));
        if (!accepted) return QV_OK;
        if (!testing_) {
            bool usable = false;
            QV_TRY(CheckOutputPath(clean, output, &usable));
            if (!usable) return QV_OK;
            QV_TRY(MakeDestination());
            QV_TRY(CreateOutputDirs(output));
        }
        ++selected_;
        return QV_OK;
    }
    if (attributes & os::kAttrVolume) {
        if (!testing_ && !Has(UNZIPOPT_VOLUME_LABEL)) {
            ++skipped_;
            return QV_OK;
        }
        QV_TRY(Password(source, record, &accepted));
        if (!accepted) return QV_OK;
        if (!testing_ && !SetLabel(destination_, name).ok())
            ++skipped_;
        else
            ++selected_;
        return QV_OK;
    }
    QV_TRY(Password(source, record, &accepted));
    if (!accepted) return QV_OK;
    ++selected_;
    return ExtractFile(entry, record, attributes, source, clean, output);
}

Result Extraction::Decide(const CentralEntry& entry, const DirectoryRecord& record,
                          const std::string& output, bool* proceed) {
    *proceed = false;
    const std::string ansiOutput = os::OemToAnsi(output);
    const uint32_t existing = os::GetFileAttributes(ansiOutput);
    const bool exists = existing != os::kInvalidAttributes && !(existing & os::kAttrDirectory);
    if (!exists) {
        *proceed = !Has(UNZIPOPT_FRESHEN);
        return QV_OK;
    }
    size_t versionAt = 0;
    const auto* extra = reinterpret_cast<const uint8_t*>(entry.extra.data());
    if (Has(UNZIPOPT_NO_OVERWRITE)) {
        *proceed = false;
    } else if (Has(UNZIPOPT_OVERWRITE)) {
        *proceed = true;
    } else if (Has(UNZIPOPT_DOT_V | UNZIPOPT_DOT_VE) &&
               FindVersionExtra(extra, entry.extra.size(), &versionAt)) {
        uint8_t have[kFileVersionBytes];
        if (!ReadFileVersion(output, have).ok()) {
            *proceed = true;
        } else {
            const int order = std::memcmp(have, extra + versionAt, kFileVersionBytes);
            *proceed = (Has(UNZIPOPT_DOT_VE) && order <= 0) || (Has(UNZIPOPT_DOT_V) && order < 0);
        }
    } else if (!Has(UNZIPOPT_FRESHEN | UNZIPOPT_NEWER)) {
        StatusBlock& block = Status().block;
        block.kind = QV_STATUS_QUESTION;
        block.code = QV_ASK_OVERWRITE;
        const int16_t answer = ReportStatus(block);
        if (answer == QV_ANSWER_YES)
            *proceed = true;
        else if (answer != QV_ANSWER_NO)
            return QV_E_CANCELLED;
    } else {
        // Freshen and newer: only a member later than the file replaces it.
        os::FileTime local = 0, memberTime = 0, fileTime = 0;
        OwnedFile file(os::CreateFile(ansiOutput, os::kGenericRead,
                                      os::kShareRead | os::kShareWrite | os::kShareDelete,
                                      os::kOpenExisting, 0));
        *proceed = DosToFileTime(record.date, record.time, &local) &&
                   os::LocalFileTimeToFileTime(local, &memberTime) && file.valid() &&
                   os::GetFileTime(file.get(), nullptr, nullptr, &fileTime) &&
                   os::CompareFileTime(memberTime, fileTime) > 0;
    }
    if (!*proceed) return QV_OK;

    bool keep = false;  // the file stays; creating the output will fail and be reported
    if (existing & os::kAttrReadOnly) {
        if (Has(UNZIPOPT_R_MINUS)) {
            *proceed = false;
            return QV_OK;
        }
        if (Has(UNZIPOPT_R_PLUS) && !os::SetFileAttributes(ansiOutput, os::kAttrArchive)) {
            if (Has(UNZIPOPT_DOT_O)) {
                *proceed = false;
                ++skipped_;
                return QV_OK;
            }
            keep = true;
        }
        if (!Has(UNZIPOPT_R_PLUS)) keep = true;
    }
    if (!keep) {
        RemoveOpenName(output);
        if (!DeleteOemFile(output)) {
            if (!Has(UNZIPOPT_DOT_O)) return QV_E_FILE;
            *proceed = false;
            ++skipped_;
        }
    }
    return QV_OK;
}

Result Extraction::ExtractFile(const CentralEntry& entry, DirectoryRecord& record,
                               uint8_t attributes, FileHandle source, const MemberOutputName& clean,
                               const std::string& output) {
    const bool tar = Listed(AR_TAR);
    const MethodCode method = Listed(AR_GZIP) ? MethodCode{kCodeDeflateNormal}
                                              : MethodCodeOf(record.method, record.flags);
    if (!tar && !Listed(AR_GZIP) && (!IsExtractableMethod(record.method) || !HasDecoder(method))) {
        // Reported before anything is touched: an existing file stays as it is.
        return Notify(QV_E_METHOD);
    }

    OwnedFile out;
    std::string ansiOutput;
    if (!testing_) {
        bool usable = false;
        QV_TRY(CheckOutputPath(clean, output, &usable));
        if (!usable) return QV_OK;
        QV_TRY(MakeDestination());
        if (Has(UNZIPOPT_DIRS) && !clean.directory.empty()) QV_TRY(CreateOutputDirs(output));
        bool proceed = false;
        QV_TRY(Decide(entry, record, output, &proceed));
        if (!proceed) return QV_OK;
        out.Reset(CreateOemFile(output, os::kGenericReadWrite, os::kShareNone, os::kCreateAlways,
                                os::kAttrArchive | os::kFlagRandomAccess));
        if (!out.valid()) {
            if (!Has(UNZIPOPT_DOT_O)) QV_TRY(Notify(QV_E_FILE));
            ++skipped_;
            return QV_OK;
        }
        ansiOutput = os::OemToAnsi(output);
    }

    uint32_t crc = 0;
    if (tar) {
        // TAR data is stored as it is; testing reads it through to see that it is all there.
        QV_TRY(DecodeMemberToFile(source, out.get(), static_cast<int32_t>(record.uncompressedSize),
                                  record.uncompressedSize, kCodeStored, 0, &crc, false));
    } else {
        QV_TRY(DecodeMemberToFile(source, out.get(), static_cast<int32_t>(record.compressedSize),
                                  record.uncompressedSize, method, record.flags, &crc,
                                  (record.flags & kFlagEncrypted) != 0));
    }
    gather_.Close();

    if (!testing_) {
        // A time the DOS fields cannot name (a damaged record) leaves the file's own time.
        os::FileTime local = 0, utc = 0;
        if (DosToFileTime(record.date, record.time, &local) &&
            os::LocalFileTimeToFileTime(local, &utc) &&
            !os::SetFileTime(out.get(), nullptr, nullptr, &utc))
            return QV_E_FILE;
        if (!out.Close()) return QV_E_FILE;
        uint32_t value = (attributes & attributeMask_) | os::kAttrArchive;
        if (!os::SetFileAttributes(ansiOutput, value)) {
            value &= ~os::kAttrNormal;
            if (!(attributes & attributeMask_ & os::kAttrNormal) ||
                !os::SetFileAttributes(ansiOutput, value))
                return QV_E_FILE;
        }
    }
    if (!tar && crc != record.crc32) {
        QV_TRY(Notify(QV_E_DATA));
        ++skipped_;
    }
    return QV_OK;
}

}  // namespace

Result UnZip(ArchiveHandle* handle, const char* destination, const char* specs,
             const char* exclusions, const char* options) {
    PathFilterReset filterReset;
    if (handle == nullptr) return QV_E_HANDLE;
    ArchiveRecord* archive = nullptr;
    QV_TRY(FindArchive(*handle, &archive));
    Extraction extraction(handle, archive);
    return extraction.Run(destination, specs, exclusions, options);
}

}  // namespace qv

// ---- Exports -----------------------------------------------------------------------------------

QV_API ResultCode QV_CALL Qv4UnZip(ArchiveHandle* handle, const char* destination,
                                   const char* specs, const char* exclusions, const char* options) {
    return qv::Guarded(
        [&]() { return qv::UnZip(handle, destination, specs, exclusions, options); });
}

QV_API ResultCode QV_CALL Qv4QUnZip(const char* archiveName, const char* destination,
                                    const char* specs, const char* options) {
    ArchiveHandle handle = QV_NO_HANDLE;
    const ResultCode opened = Qv4ZipOpen(archiveName, QV_OPEN_READ, &handle);
    if (opened != QV_OK) return opened;
    const ResultCode result = Qv4UnZip(&handle, destination, specs, nullptr, options);
    Qv4ZipClose(&handle);
    return result;
}
