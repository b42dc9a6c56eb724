#include "file_primitives.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "open_names.h"
#include "status_reporting.h"

namespace qv {

FileHandle CreateOemFile(std::string_view oemName, uint32_t access, uint32_t shareMode,
                         uint32_t disposition, uint32_t flagsAndAttributes) {
    return os::CreateFile(os::OemToAnsi(oemName), access, shareMode, disposition, flagsAndAttributes);
}

bool DeleteOemFile(std::string_view oemName) { return os::DeleteFile(os::OemToAnsi(oemName)); }

int CompareNames(std::string_view a, std::string_view b) {
    const std::string ua = os::CharUpper(os::OemToAnsi(a));
    const std::string ub = os::CharUpper(os::OemToAnsi(b));
    const size_t n = std::min(ua.size(), ub.size());
    for (size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<uint8_t>(ua[i]), cb = static_cast<uint8_t>(ub[i]);
        if (ca != cb) return ca > cb ? 1 : -1;
    }
    return ua.size() == ub.size() ? 0 : ua.size() > ub.size() ? 1 : -1;
}

uint32_t ReadBytes(FileHandle h, void* buffer, uint32_t count) {
    uint32_t done = 0;
    if (!os::ReadFile(h, buffer, count, &done)) return 0;
    return done;
}

int WriteBytes(FileHandle h, const void* buffer, uint32_t count) {
    uint32_t done = 0;
    return os::WriteFile(h, buffer, count, &done) && done == count ? 0 : 1;
}

std::string MakeTempName() {
    const std::string dir = os::GetTempPath();
    if (dir.empty()) return {};
    const std::string ansi = os::GetTempFileName(dir, "QVT");
    if (ansi.empty()) return {};
    std::string oem = os::AnsiToOem(ansi);
    if (AddOpenName(oem)) {
        os::DeleteFile(ansi);
        return {};
    }
    return oem;
}

bool HasExtension(std::string_view name) {
    for (size_t i = name.size(); i-- > 0;) {
        const char c = name[i];
        if (c == '\\' || c == '/' || c == ':') return false;
        if (c == '.') return i != 0;
    }
    return false;
}

namespace {

void SplitFileName(std::string_view rest, PathParts& parts) {
    const size_t dot = rest.find_last_of('.');
    if (dot == std::string_view::npos) {
        parts.baseName = rest;
    } else {
        parts.baseName = rest.substr(0, dot);
        parts.extension = rest.substr(dot);
    }
}

}  // namespace

PathParts SplitPath(std::string_view path) {
    PathParts parts;
    if (path.size() >= 2 && os::IsSeparator(path[0]) && os::IsSeparator(path[1])) {
        // Network path: "\\server\share" is the drive part.
        size_t pos = 2;
        while (pos < path.size() && !os::IsSeparator(path[pos])) ++pos;  // server
        if (pos < path.size()) ++pos;                                     // its separator
        while (pos < path.size() && !os::IsSeparator(path[pos])) ++pos;  // share
        parts.drive = path.substr(0, pos);
        std::string_view rest = path.substr(pos);
        size_t lastSep = std::string_view::npos;
        for (size_t i = 0; i < rest.size(); ++i)
            if (os::IsSeparator(rest[i])) lastSep = i;
        if (lastSep != std::string_view::npos) {
            parts.directory = rest.substr(0, lastSep + 1);
            rest = rest.substr(lastSep + 1);
        }
        SplitFileName(rest, parts);
        return parts;
    }
    std::string_view rest = path;
    if (rest.size() >= 2 && rest[1] == ':' &&
        ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
        parts.drive = rest.substr(0, 2);
        rest = rest.substr(2);
    }
    size_t lastSep = std::string_view::npos;
    for (size_t i = 0; i < rest.size(); ++i)
        if (os::IsSeparator(rest[i])) lastSep = i;
    if (lastSep != std::string_view::npos) {
        parts.directory = rest.substr(0, lastSep + 1);
        rest = rest.substr(lastSep + 1);
    }
    SplitFileName(rest, parts);
    return parts;
}

void SplitPathName(std::string_view path, std::string* drive, std::string* directory,
                   std::string* fileName) {
    PathParts parts = SplitPath(path);
    if (drive) *drive = parts.drive;
    if (directory) *directory = parts.directory;
    if (fileName) *fileName = parts.baseName + parts.extension;
}

std::string JoinParts(const char* a, const char* b, const char* c, const char* d) {
    std::string out;
    for (const char* part : {a, b, c, d})
        if (part) out += part;
    return out;
}

std::string VolumeLabel(std::string_view rootPath) {
    std::string label;
    if (!os::Volumes().GetLabel(os::OemToAnsi(rootPath), &label)) return {};
    return os::AnsiToOem(label);
}

Result CopyBytes(FileHandle source, FileHandle destination, int32_t count) {
    if (source == kInvalidHandle || destination == kInvalidHandle) return QV_E_FILE;
    if (count < 1) return QV_OK;
    // Take the largest transfer buffer the system gives, up to 512 KiB.
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t size = 524288;
    for (; size >= 1; size /= 2) {
        buffer.reset(new (std::nothrow) uint8_t[size]);
        if (buffer) break;
    }
    if (!buffer) return QV_E_MEMORY;
    Result result;
    uint32_t remaining = static_cast<uint32_t>(count);
    while (remaining > 0 && result.ok()) {
        if (CancelPending()) break;
        const uint32_t chunk = std::min(remaining, size);
        if (ReadBytes(source, buffer.get(), chunk) != chunk) {
            result = QV_E_EOF;
        } else if (WriteBytes(destination, buffer.get(), chunk) != 0) {
            result = QV_E_WRITE;
        } else {
            remaining -= chunk;
        }
        PumpMessages();
    }
    if (ConsumeCancel()) return QV_E_CANCELLED;
    return result;
}

uint32_t AttributeMask(uint8_t optionBits) {
    uint32_t mask = 0xFFFFFFFFu;
    if (optionBits & 0x08) mask &= ~os::kAttrReadOnly;
    if (optionBits & 0x02) mask &= ~os::kAttrHidden;
    if (optionBits & 0x04) mask &= ~os::kAttrSystem;
    if (optionBits & 0x10) mask &= ~os::kAttrNormal;
    return mask;
}

}  // namespace qv
