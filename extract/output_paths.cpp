#include "output_paths.h"

#include <new>
#include <utility>
#include <vector>

#include "file_primitives.h"
#include "os.h"

namespace qv {
namespace {

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool EndsInPathMark(std::string_view s) {
    const char last = s.back();
    return last == '\\' || last == '/' || last == ':';
}

// The host's path filters, in the order registered. Library-wide: they are set before a call
// to Qv4UnZip and serve that one extraction.
struct PathFilterList {
    std::vector<std::pair<std::string, std::string>> pairs;  // (from, to), OEM
};

PathFilterList& PathFilters() {
    static PathFilterList list;
    return list;
}

// An ANSI text as a filter part: null is empty; a separator is appended when it has none.
std::string FilterPart(const char* ansi) {
    std::string part = ansi ? std::string(ansi) : std::string();
    if (!part.empty() && !EndsInPathMark(part)) part += '\\';
    return os::AnsiToOem(part);
}

// Whether dir begins with prefix, byte for byte except that "\" and "/" are the same.
bool BeginsWithDirectory(std::string_view dir, std::string_view prefix) {
    if (prefix.size() > dir.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        const char a = dir[i], b = prefix[i];
        if (a == b || (os::IsSeparator(a) && os::IsSeparator(b))) continue;
        return false;
    }
    return true;
}

}  // namespace

bool DirectoryExists(std::string_view ansiPath) {
    if (ansiPath.empty()) return false;
    const uint32_t attributes = os::GetFileAttributes(ansiPath);
    return attributes != os::kInvalidAttributes && (attributes & os::kAttrDirectory) != 0;
}

Result CreateOutputDirs(std::string_view oemPath) {
    for (size_t n = 2; n <= oemPath.size(); ++n) {
        if (!os::IsSeparator(oemPath[n - 1]) || oemPath[n - 2] == ':') continue;
        const std::string ansiPrefix = os::OemToAnsi(oemPath.substr(0, n - 1));
        if (DirectoryExists(ansiPrefix)) continue;
        // Someone else may make it between the test and the creation; that is no failure.
        if (!os::CreateDirectory(ansiPrefix) && !DirectoryExists(ansiPrefix)) return QV_E_PATH;
    }
    return QV_OK;
}

Result AddUnZipPathFilter(const char* ansiFrom, const char* ansiTo) {
    std::string from = FilterPart(ansiFrom);
    std::string to = FilterPart(ansiTo);
    if (from.empty() && to.empty()) return QV_E_NOTHING_NAMED;
    try {
        PathFilters().pairs.emplace_back(std::move(from), std::move(to));
    } catch (const std::bad_alloc&) {
        ClearPathFilters();
        return QV_E_MEMORY;
    }
    return QV_OK;
}

bool HavePathFilters() {
    return !PathFilters().pairs.empty();
}

void ClearPathFilters() {
    PathFilters().pairs.clear();
    PathFilters().pairs.shrink_to_fit();
}

void ApplyPathFilters(std::string& oemPath) {
    std::string drive, directory, file;
    SplitPathName(oemPath, &drive, &directory, &file);
    for (const auto& [from, to] : PathFilters().pairs) {
        if (from.empty() && to.empty()) break;
        std::string fromDrive, fromDirectory, toDrive, toDirectory;
        SplitPathName(from, &fromDrive, &fromDirectory, nullptr);
        SplitPathName(to, &toDrive, &toDirectory, nullptr);
        if (!BeginsWithDirectory(directory, fromDirectory)) continue;
        std::string newDrive;
        if (CompareNames(fromDrive, drive) == 0)
            newDrive = toDrive;
        else if (fromDrive.empty())
            newDrive = drive;
        else
            continue;
        oemPath = newDrive + toDirectory + directory.substr(fromDirectory.size()) + file;
        return;
    }
}

MemberOutputName SplitMemberName(std::string_view oemName, bool keepAbsolute) {
    MemberOutputName out;
    std::string_view rest = oemName;
    // A drive: "X:" or a network "\\server\share".
    if (rest.size() >= 2 && os::IsSeparator(rest[0]) && os::IsSeparator(rest[1])) {
        size_t pos = 2;
        while (pos < rest.size() && !os::IsSeparator(rest[pos])) ++pos;  // server
        if (pos < rest.size()) ++pos;
        while (pos < rest.size() && !os::IsSeparator(rest[pos])) ++pos;  // share
        out.drive = rest.substr(0, pos);
        rest = rest.substr(pos);
    } else if (rest.size() >= 2 && rest[1] == ':' && IsDriveLetter(rest[0])) {
        out.drive = rest.substr(0, 2);
        rest = rest.substr(2);
    }
    const bool rooted = !rest.empty() && os::IsSeparator(rest[0]);
    if (!keepAbsolute) {
        if (!out.drive.empty() || rooted) out.dropped = true;
        out.drive.clear();
    } else {
        for (char& c : out.drive)
            if (c == '/') c = '\\';
    }

    std::vector<std::string> parts;
    bool endsAsDirectory = rest.empty() || os::IsSeparator(rest.back());
    size_t pos = 0;
    while (pos <= rest.size()) {
        size_t end = pos;
        while (end < rest.size() && !os::IsSeparator(rest[end])) ++end;
        const std::string_view part = rest.substr(pos, end - pos);
        const bool last = end >= rest.size();
        if (part == "..") out.dropped = true;
        if (part.empty() || part == "." || part == "..") {
            if (last) endsAsDirectory = true;
        } else {
            std::string component(part);
            // A ":" inside a component would name a drive or a stream on Windows.
            for (char& c : component)
                if (c == ':') c = '_';
            parts.push_back(std::move(component));
        }
        pos = end + 1;
    }

    if (keepAbsolute && rooted) out.directory.assign(1, '\\');
    const size_t directoryParts = endsAsDirectory ? parts.size() : parts.size() - 1;
    for (size_t i = 0; i < directoryParts; ++i) out.directory += parts[i] + '\\';
    if (!endsAsDirectory) out.file = parts.back();
    return out;
}

}  // namespace qv

// ---- Exports -----------------------------------------------------------------------------------

QV_API int32_t QV_CALL Qv4DirExist(const char* path) {
    if (path == nullptr) return 0;
    try {
        return qv::DirectoryExists(path) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

QV_API ResultCode QV_CALL Qv4AddUnZipPathFilter(const char* from, const char* to) {
    return qv::Guarded([&]() { return qv::AddUnZipPathFilter(from, to); });
}
