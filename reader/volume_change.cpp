#include "volume_change.h"

#include <cstdio>
#include <cstring>

#include "file_primitives.h"
#include "os.h"
#include "status_reporting.h"

namespace qv {
namespace {

std::string ThreeDigits(unsigned n) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03u", n % 1000);
    return buf;
}

bool IsNetworkPath(std::string_view path) {
    return path.size() >= 2 && os::IsSeparator(path[0]) && os::IsSeparator(path[1]);
}

bool Removable(std::string_view oemName) {
    return os::Volumes().DriveType(os::OemToAnsi(VolumeRootOf(oemName))) == os::kDriveRemovable;
}

// Puts the disk question to the host: 1 insert disk (volume), or 3 the last disk.
int16_t AskForDisk(std::string_view oemName, int16_t question, uint16_t volume) {
    StatusBlock& block = Status().block;
    os::CopyAnsiCut(os::OemToAnsi(oemName), block.archiveName, sizeof block.archiveName);
    os::CopyAnsiCut(os::OemToAnsi(oemName), block.fileName, sizeof block.fileName);
    block.kind = QV_STATUS_QUESTION;
    block.code = question;
    block.disk = static_cast<int16_t>(volume);
    return ReportStatus(block);
}

std::string UpperLabel(std::string_view oemName) {
    return os::AnsiToOem(os::CharUpper(os::OemToAnsi(VolumeLabel(VolumeRootOf(oemName)))));
}

}  // namespace

std::string SpannedVolumeLabel(unsigned volume) { return kVolumeLabelPrefix + ThreeDigits(volume); }

std::string VolumeRootOf(std::string_view oemArchiveName) {
    const PathParts parts = SplitPath(oemArchiveName);
    if (!parts.drive.empty()) return parts.drive + "\\";
    if (!parts.directory.empty()) return parts.directory;
    return ".\\";
}

Result RequestVolume(uint16_t* volume, std::string_view oemArchiveName, FileHandle* handle) {
    if (*handle != kInvalidHandle) os::CloseHandle(*handle);
    *handle = kInvalidHandle;
    const bool numbered = *volume >= 1 && *volume <= 999;
    const std::string expected = numbered ? SpannedVolumeLabel(*volume) : kVolumeLabelPrefix;
    for (;;) {
        const int16_t answer =
            AskForDisk(oemArchiveName, numbered ? QV_ASK_INSERT_DISK : QV_ASK_LAST_DISK, *volume);
        if (answer != QV_ANSWER_OK) return QV_E_CANCELLED;
        const std::string label = UpperLabel(oemArchiveName);
        const bool match = numbered ? label == expected
                                    : label.size() > 8 && label.compare(0, 8, kVolumeLabelPrefix) == 0;
        if (!match) continue;  // the wrong disk: ask again
        // Open the volume that is there; never create an empty archive on the user's disk.
        *handle = CreateOemFile(oemArchiveName, os::kGenericRead, os::kShareNone, os::kOpenExisting,
                                os::kFlagRandomAccess);
        if (*handle == kInvalidHandle) return QV_E_FILE;
        return QV_OK;
    }
}

Result ChangeVolume(ArchiveRecord& record, bool writing) {
    if (record.handle != kInvalidHandle) os::CloseHandle(record.handle);
    record.handle = kInvalidHandle;
    const bool labelled = (record.flags & (AR_SPANNED | AR_DIRVOLUME)) != 0;
    std::string expected;
    if ((record.flags & AR_SPLIT12) && record.name.size() >= 3)
        record.name.replace(record.name.size() - 3, 3, ThreeDigits(record.diskNumber));
    else
        expected = SpannedVolumeLabel(record.diskNumber);

    auto setCapacity = [&]() {
        record.volumeCapacity = record.volumeParam != 0 ? record.volumeParam : FreeSpace(record.name);
    };
    // A volume to read must exist: opening it must not make an empty one in its place.
    auto openVolume = [&]() {
        record.handle = CreateOemFile(record.name, record.access, record.shareMode,
                                      writing ? os::kOpenAlways : os::kOpenExisting,
                                      os::kFlagRandomAccess);
        return record.handle != kInvalidHandle;
    };

    if (!Removable(record.name)) {
        if (writing) setCapacity();
        return openVolume() ? Result(QV_OK) : Result(QV_E_FILE);
    }
    Result lastError;
    for (;;) {
        if (AskForDisk(record.name, QV_ASK_INSERT_DISK, record.diskNumber) != QV_ANSWER_OK)
            return lastError.ok() ? Result(QV_E_CANCELLED) : lastError;
        if (writing) {
            setCapacity();
            if (labelled && !SetLabel(VolumeRootOf(record.name), expected).ok()) {
                lastError = QV_E_FILE;
                continue;
            }
        } else if (labelled && UpperLabel(record.name) != expected) {
            lastError = QV_E_FILE;
            continue;
        }
        if (openVolume()) return QV_OK;
        lastError = QV_E_FILE;
    }
}

uint32_t FreeSpace(std::string_view oemPath) {
    if (IsNetworkPath(oemPath)) return 524288000u;
    uint64_t bytes = 0;
    if (!os::Volumes().FreeSpace(os::OemToAnsi(VolumeRootOf(oemPath)), &bytes)) return 0;
    // The count is 32 bits: a larger drive counts as full 4 GiB less one byte.
    return bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
}

Result SetLabel(std::string_view oemPath, std::string_view label) {
    return os::Volumes().SetLabel(os::OemToAnsi(VolumeRootOf(oemPath)), os::OemToAnsi(label))
               ? Result(QV_OK)
               : Result(QV_E_FILE);
}

}  // namespace qv
