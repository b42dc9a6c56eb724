// os_posix.cpp - the platform layer on POSIX systems: Win32 behaviour emulated.
//
// Handles are file descriptors. Share modes are enforced among the opens made through this
// layer (a registry keyed by device and inode), so an exclusive open makes a second open of
// the same file fail as it does on Windows. A name that does not exist as spelled is looked
// up again ignoring letter case, as Windows hosts expect ("backup" + ".ZIP" finds backup.zip).
#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "os.h"

namespace qv::os {
namespace {

thread_local uint32_t gLastError = 0;

uint32_t ErrorFromErrno(int e) {
    switch (e) {
        case ENOENT: return kErrorFileNotFound;
        case ENOTDIR: return kErrorPathNotFound;
        case ENAMETOOLONG: return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS: return kErrorAccessDenied;
        case EEXIST: return kErrorFileExists;
        case ENOSPC:
        case EDQUOT: return kErrorDiskFull;
        case EBADF: return kErrorInvalidHandle;
        case ENOMEM: return kErrorNotEnoughMemory;
        default: return kErrorInvalidParameter;
    }
}

bool Fail(uint32_t error) {
    gLastError = error;
    return false;
}
bool FailErrno() { return Fail(ErrorFromErrno(errno)); }

// ---- Names ----------------------------------------------------------------------------------

std::string ToPosix(std::string_view name) {
    std::string out(name);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The name as it exists on disk: each component that does not exist as spelled is matched
// against the directory's entries ignoring letter case. Components that match nothing are
// kept as given, so a new file takes the name it was given.
std::string ResolveCase(std::string_view name) {
    std::string path = ToPosix(name);
    if (path.empty() || Exists(path)) return path;
    std::string resolved;
    size_t pos = 0;
    if (path[0] == '/') {
        resolved = "/";
        pos = 1;
    }
    bool matching = true;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        std::string comp = path.substr(pos, end - pos);
        if (!comp.empty()) {
            std::string candidate = resolved + comp;
            if (matching && !Exists(candidate) && comp != "." && comp != "..") {
                const std::string dirName = resolved.empty() ? "." : resolved;
                const std::string wanted = CharUpper(comp);
                std::string found;
                if (DIR* d = ::opendir(dirName.c_str())) {
                    while (dirent* e = ::readdir(d)) {
                        if (CharUpper(e->d_name) == wanted) {
                            found = e->d_name;
                            break;
                        }
                    }
                    ::closedir(d);
                }
                if (found.empty())
                    matching = false;
                else
                    candidate = resolved + found;
            }
            resolved = candidate;
        }
        if (end < path.size()) resolved += '/';
        pos = end + 1;
    }
    return resolved;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return base;
}

uint32_t AttributesOf(const struct stat& st, const std::string& path) {
    uint32_t attrs = 0;
    if (S_ISDIR(st.st_mode))
        attrs |= kAttrDirectory;
    else
        attrs |= kAttrArchive;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attrs |= kAttrReadOnly;
    const std::string base = BaseName(path);
    if (base.size() > 1 && base[0] == '.' && base != "..") attrs |= kAttrHidden;
    return attrs;
}

// ---- Share modes --------------------------------------------------------------------------------

struct OpenFile {
    dev_t dev;
    ino_t ino;
    uint32_t access;
    uint32_t share;
};

struct Registry {
    std::mutex lock;
    std::map<int, OpenFile> byHandle;
};

// Namespace-scope objects live longer than any function-local static of the library, so
// files closed while the library unloads still find them.
Registry gRegistry;

Registry& Opens() { return gRegistry; }

// Whether a new open with access and share can coexist with every open of (dev, ino).
bool ShareAllows(dev_t dev, ino_t ino, uint32_t access, uint32_t share) {
    for (const auto& [fd, f] : Opens().byHandle) {
        if (f.dev != dev || f.ino != ino) continue;
        if ((access & kGenericRead) && !(f.share & kShareRead)) return false;
        if ((access & kGenericWrite) && !(f.share & kShareWrite)) return false;
        if ((f.access & kGenericRead) && !(share & kShareRead)) return false;
        if ((f.access & kGenericWrite) && !(share & kShareWrite)) return false;
    }
    return true;
}

bool DeleteAllowed(dev_t dev, ino_t ino) {
    for (const auto& [fd, f] : Opens().byHandle)
        if (f.dev == dev && f.ino == ino && !(f.share & kShareDelete)) return false;
    return true;
}

// ---- Times -----------------------------------------------------------------------------------

constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kEpochDelta = 11'644'473'600;  // seconds from 1601-01-01 to 1970-01-01

FileTime FromTimespec(const struct timespec& ts) {
    const int64_t secs = static_cast<int64_t>(ts.tv_sec) + kEpochDelta;
    if (secs < 0) return 0;
    return static_cast<FileTime>(secs) * kTicksPerSecond + static_cast<FileTime>(ts.tv_nsec / 100);
}

struct timespec ToTimespec(FileTime ft) {
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(ft / kTicksPerSecond) - kEpochDelta);
    ts.tv_nsec = static_cast<long>((ft % kTicksPerSecond) * 100);
    return ts;
}

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

unsigned DaysInMonth(int64_t y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return days[m - 1];
}

// ---- Searches --------------------------------------------------------------------------------

struct Search {
    std::string directory;
    std::string pattern;  // upper-cased
    std::vector<std::string> names;
    size_t next = 0;
};

std::map<FindHandle, std::unique_ptr<Search>>& Searches() {
    static std::map<FindHandle, std::unique_ptr<Search>> searches;
    return searches;
}

// Glob match of upper-cased strings: "*" any run, "?" one character.
bool Glob(std::string_view name, std::string_view pat) {
    size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pat.size() && (pat[p] == '?' || pat[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pat.size() && pat[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

// Windows wildcard semantics: "*" and "*.*" match every name; a pattern ending in ".*" also
// matches the name without an extension; a pattern ending in "." matches names without one.
bool WildcardMatch(const std::string& upperName, const std::string& upperPattern) {
    if (upperPattern == "*" || upperPattern == "*.*") return true;
    if (Glob(upperName, upperPattern)) return true;
    const bool hasDot = upperName.find('.') != std::string::npos;
    if (upperPattern.size() >= 2 && upperPattern.ends_with(".*") && !hasDot)
        return Glob(upperName, upperPattern.substr(0, upperPattern.size() - 2));
    if (upperPattern.ends_with(".") && !hasDot)
        return Glob(upperName, upperPattern.substr(0, upperPattern.size() - 1));
    return false;
}

bool FillFindData(const Search& s, const std::string& name, FindData* out) {
    const std::string full = s.directory + "/" + name;
    struct stat st;
    if (::stat(full.c_str(), &st) != 0 && ::lstat(full.c_str(), &st) != 0) return false;
    out->attributes = AttributesOf(st, name);
    if (name == "." || name == "..") out->attributes &= ~kAttrHidden;
    out->creationTime = FromTimespec(st.st_mtim);
    out->lastAccessTime = FromTimespec(st.st_atim);
    out->lastWriteTime = FromTimespec(st.st_mtim);
    out->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    out->name = name;
    out->shortName.clear();
    out->volumeSerial = static_cast<uint64_t>(st.st_dev);
    out->fileIndex = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool Advance(Search& s, FindData* out) {
    while (s.next < s.names.size()) {
        const std::string& name = s.names[s.next++];
        if (WildcardMatch(CharUpper(name), s.pattern) && FillFindData(s, name, out)) return true;
    }
    return Fail(kErrorNoMoreFiles);
}

// ---- Message boxes, date order, volumes ---------------------------------------------------------

MessageBoxFn& MessageBoxHandler() {
    static MessageBoxFn handler;
    return handler;
}

int gDateOrderOverride = -1;

class PosixVolumes final : public VolumeService {
public:
    uint32_t DriveType(std::string_view root) override {
        struct stat st;
        const std::string path = RootPath(root);
        if (::stat(path.c_str(), &st) != 0) return kDriveNoRootDir;
        // A block device is removable when the kernel says so (its own or its disk's flag).
        char sys[128];
        std::snprintf(sys, sizeof sys, "/sys/dev/block/%u:%u", major(st.st_dev), minor(st.st_dev));
        for (const char* rel : {"/removable", "/../removable"}) {
            std::ifstream f(std::string(sys) + rel);
            int flag = 0;
            if (f >> flag) return flag == 1 ? kDriveRemovable : kDriveFixed;
        }
        return kDriveFixed;
    }
    bool FreeSpace(std::string_view root, uint64_t* bytes) override {
        struct statvfs vfs;
        if (::statvfs(RootPath(root).c_str(), &vfs) != 0) return FailErrno();
        *bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
        return true;
    }
    // POSIX file systems have no label we can set portably; the label of a medium is kept in
    // a small file at its root.
    bool GetLabel(std::string_view root, std::string* label) override {
        std::ifstream f(RootPath(root) + "/.qvlabel");
        if (!f) {
            label->clear();
            return true;
        }
        std::getline(f, *label);
        return true;
    }
    bool SetLabel(std::string_view root, std::string_view label) override {
        std::ofstream f(RootPath(root) + "/.qvlabel", std::ios::trunc);
        f << label << '\n';
        return static_cast<bool>(f) || Fail(kErrorAccessDenied);
    }

private:
    static std::string RootPath(std::string_view root) {
        std::string path = ResolveCase(root);
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        return path.empty() ? "." : path;
    }
};

VolumeService*& VolumeOverride() {
    static VolumeService* service = nullptr;
    return service;
}

}  // namespace

uint32_t LastError() { return gLastError; }
void SetLastError(uint32_t error) { gLastError = error; }

// ---- Files -------------------------------------------------------------------------------------

FileHandle CreateFile(std::string_view name, uint32_t access, uint32_t shareMode,
                      uint32_t disposition, uint32_t flagsAndAttributes) {
    if (name.empty()) {
        Fail(kErrorFileNotFound);
        return kInvalidHandle;
    }
    const std::string path = ResolveCase(name);
    struct stat st;
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        Fail(kErrorAccessDenied);
        return kInvalidHandle;
    }
    switch (disposition) {
        case kCreateNew:
            if (exists) {
                Fail(kErrorFileExists);
                return kInvalidHandle;
            }
            break;
        case kOpenExisting:
        case kTruncateExisting:
            if (!exists) {
                Fail(kErrorFileNotFound);
                return kInvalidHandle;
            }
            break;
        case kCreateAlways:
        case kOpenAlways: break;
        default: Fail(kErrorInvalidParameter); return kInvalidHandle;
    }
    const bool truncate = exists && (disposition == kCreateAlways || disposition == kTruncateExisting);
    const bool writes = (access & kGenericWrite) != 0 || truncate;
    std::lock_guard guard(Opens().lock);
    if (exists) {
        // Windows refuses to write a read-only file, even to an administrator.
        if (writes && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            Fail(kErrorAccessDenied);
            return kInvalidHandle;
        }
        if (!ShareAllows(st.st_dev, st.st_ino, access, shareMode)) {
            Fail(kErrorSharingViolation);
            return kInvalidHandle;
        }
    }
    int flags = O_CLOEXEC;
    if ((access & kGenericRead) && (access & kGenericWrite))
        flags |= O_RDWR;
    else if (access & kGenericWrite)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    if (truncate && !(access & kGenericWrite)) flags = (flags & ~O_ACCMODE) | O_RDWR;
    if (!exists) flags |= O_CREAT | O_EXCL;
    const mode_t mode = (flagsAndAttributes & kAttrReadOnly) ? 0444 : 0666;
    const int fd = ::open(path.c_str(), flags, mode);
    if (fd < 0) {
        FailErrno();
        return kInvalidHandle;
    }
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || (truncate && ::ftruncate(fd, 0) != 0)) {
        FailErrno();
        ::close(fd);
        return kInvalidHandle;
    }
    Opens().byHandle[fd] = OpenFile{opened.st_dev, opened.st_ino, access, shareMode};
    gLastError = exists && (disposition == kCreateAlways || disposition == kOpenAlways)
                     ? kErrorAlreadyExists
                     : 0;
    return static_cast<FileHandle>(fd);
}

bool ReadFile(FileHandle h, void* buffer, uint32_t count, uint32_t* done) {
    uint32_t total = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (total < count) {
        const ssize_t n = ::read(static_cast<int>(h), p + total, count - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (done) *done = total;
            return FailErrno();
        }
        if (n == 0) break;
        total += static_cast<uint32_t>(n);
    }
    if (done) *done = total;
    return true;
}

bool WriteFile(FileHandle h, const void* buffer, uint32_t count, uint32_t* done) {
    uint32_t total = 0;
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (total < count) {
        const ssize_t n = ::write(static_cast<int>(h), p + total, count - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (done) *done = total;
            return FailErrno();
        }
        total += static_cast<uint32_t>(n);
    }
    if (done) *done = total;
    return true;
}

uint32_t SetFilePointer(FileHandle h, int32_t distance, uint32_t origin) {
    const int whence = origin == kFileBegin ? SEEK_SET : origin == kFileCurrent ? SEEK_CUR : SEEK_END;
    if (origin > kFileEnd) {
        Fail(kErrorInvalidParameter);
        return kInvalidPosition;
    }
    off_t base = 0;
    if (whence != SEEK_SET) {
        base = ::lseek(static_cast<int>(h), 0, whence);
        if (base < 0) {
            FailErrno();
            return kInvalidPosition;
        }
    }
    const int64_t target = static_cast<int64_t>(base) + distance;
    // Positions are 32-bit, as in the archive format.
    if (target < 0 || target >= static_cast<int64_t>(kInvalidPosition)) {
        Fail(kErrorInvalidParameter);
        return kInvalidPosition;
    }
    if (::lseek(static_cast<int>(h), static_cast<off_t>(target), SEEK_SET) < 0) {
        FailErrno();
        return kInvalidPosition;
    }
    return static_cast<uint32_t>(target);
}

uint32_t GetFileSize(FileHandle h) {
    struct stat st;
    if (::fstat(static_cast<int>(h), &st) != 0) {
        FailErrno();
        return kInvalidPosition;
    }
    if (st.st_size >= static_cast<off_t>(kInvalidPosition)) {
        Fail(kErrorInvalidParameter);
        return kInvalidPosition;
    }
    return static_cast<uint32_t>(st.st_size);
}

bool SetEndOfFile(FileHandle h) {
    const off_t pos = ::lseek(static_cast<int>(h), 0, SEEK_CUR);
    if (pos < 0 || ::ftruncate(static_cast<int>(h), pos) != 0) return FailErrno();
    return true;
}

bool CloseHandle(FileHandle h) {
    if (h == kInvalidHandle) return Fail(kErrorInvalidHandle);
    {
        std::lock_guard guard(Opens().lock);
        Opens().byHandle.erase(static_cast<int>(h));
    }
    if (::close(static_cast<int>(h)) != 0) return FailErrno();
    return true;
}

bool DeleteFile(std::string_view name) {
    const std::string path = ResolveCase(name);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return FailErrno();
    if (S_ISDIR(st.st_mode)) return Fail(kErrorAccessDenied);
    if (!S_ISLNK(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return Fail(kErrorAccessDenied);
    {
        std::lock_guard guard(Opens().lock);
        if (!DeleteAllowed(st.st_dev, st.st_ino)) return Fail(kErrorSharingViolation);
    }
    if (::unlink(path.c_str()) != 0) return FailErrno();
    return true;
}

bool CopyFile(std::string_view source, std::string_view destination, bool failIfExists) {
    const std::string from = ResolveCase(source);
    const std::string to = ResolveCase(destination);
    struct stat st;
    if (::stat(from.c_str(), &st) != 0) return FailErrno();
    if (S_ISDIR(st.st_mode)) return Fail(kErrorAccessDenied);
    const FileHandle in = CreateFile(from, kGenericRead, kShareRead, kOpenExisting, 0);
    if (in == kInvalidHandle) return false;
    const FileHandle out = CreateFile(to, kGenericWrite, kShareNone,
                                      failIfExists ? kCreateNew : kCreateAlways, 0);
    if (out == kInvalidHandle) {
        const uint32_t err = gLastError;
        CloseHandle(in);
        return Fail(err);
    }
    std::vector<uint8_t> buf(1 << 20);
    bool ok = true;
    for (;;) {
        uint32_t got = 0;
        if (!ReadFile(in, buf.data(), static_cast<uint32_t>(buf.size()), &got)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        uint32_t put = 0;
        if (!WriteFile(out, buf.data(), got, &put) || put != got) {
            ok = false;
            break;
        }
    }
    const uint32_t err = gLastError;
    // The copy keeps the source's times and read-only state, as Windows does.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(static_cast<int>(out), times);
    ::fchmod(static_cast<int>(out), st.st_mode & 07777);
    CloseHandle(in);
    CloseHandle(out);
    if (!ok) {
        ::unlink(to.c_str());
        return Fail(err);
    }
    return true;
}

bool MoveFile(std::string_view source, std::string_view destination) {
    const std::string from = ResolveCase(source);
    const std::string to = ResolveCase(destination);
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) return FailErrno();
    if (Exists(to) && to != from) return Fail(kErrorAlreadyExists);
    {
        std::lock_guard guard(Opens().lock);
        if (!DeleteAllowed(st.st_dev, st.st_ino)) return Fail(kErrorSharingViolation);
    }
    if (::rename(from.c_str(), to.c_str()) != 0) return FailErrno();
    return true;
}

bool CreateDirectory(std::string_view name) {
    const std::string path = ResolveCase(name);
    if (Exists(path)) return Fail(kErrorAlreadyExists);
    if (::mkdir(path.c_str(), 0777) != 0) return FailErrno();
    return true;
}

bool RemoveDirectory(std::string_view name) {
    if (::rmdir(ResolveCase(name).c_str()) != 0) return FailErrno();
    return true;
}

uint32_t GetFileAttributes(std::string_view name) {
    if (name.empty()) {
        Fail(kErrorFileNotFound);
        return kInvalidAttributes;
    }
    std::string path = ResolveCase(name);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        FailErrno();
        return kInvalidAttributes;
    }
    return AttributesOf(st, path);
}

bool SetFileAttributes(std::string_view name, uint32_t attributes) {
    const std::string path = ResolveCase(name);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return FailErrno();
    if (S_ISDIR(st.st_mode)) return true;  // only the read-only bit maps, and not for folders
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    if (mode != (st.st_mode & 07777) && ::chmod(path.c_str(), mode) != 0) return FailErrno();
    return true;
}

// ---- Times -------------------------------------------------------------------------------------

bool GetFileTime(FileHandle h, FileTime* creation, FileTime* lastAccess, FileTime* lastWrite) {
    struct stat st;
    if (::fstat(static_cast<int>(h), &st) != 0) return FailErrno();
    // POSIX keeps no creation time; the modification time stands in for it.
    if (creation) *creation = FromTimespec(st.st_mtim);
    if (lastAccess) *lastAccess = FromTimespec(st.st_atim);
    if (lastWrite) *lastWrite = FromTimespec(st.st_mtim);
    return true;
}

bool SetFileTime(FileHandle h, const FileTime* /*creation*/, const FileTime* lastAccess,
                 const FileTime* lastWrite) {
    struct timespec times[2];
    times[0] = lastAccess ? ToTimespec(*lastAccess) : timespec{0, UTIME_OMIT};
    times[1] = lastWrite ? ToTimespec(*lastWrite) : timespec{0, UTIME_OMIT};
    if (::futimens(static_cast<int>(h), times) != 0) return FailErrno();
    return true;
}

void GetSystemTime(SystemTime* out) {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    FileTimeToSystemTime(FromTimespec(ts), out);
}

void GetLocalTime(SystemTime* out) {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    FileTime local = 0;
    FileTimeToLocalFileTime(FromTimespec(ts), &local);
    FileTimeToSystemTime(local, out);
}

bool FileTimeToLocalFileTime(FileTime utc, FileTime* local) {
    const time_t secs = static_cast<time_t>(static_cast<int64_t>(utc / kTicksPerSecond) - kEpochDelta);
    struct tm tm;
    if (!::localtime_r(&secs, &tm)) return Fail(kErrorInvalidParameter);
    const int64_t shifted = static_cast<int64_t>(utc) + static_cast<int64_t>(tm.tm_gmtoff) * kTicksPerSecond;
    if (shifted < 0) return Fail(kErrorInvalidParameter);
    *local = static_cast<FileTime>(shifted);
    return true;
}

bool LocalFileTimeToFileTime(FileTime local, FileTime* utc) {
    SystemTime s;
    if (!FileTimeToSystemTime(local, &s)) return false;
    struct tm tm {};
    tm.tm_year = s.year - 1900;
    tm.tm_mon = s.month - 1;
    tm.tm_mday = s.day;
    tm.tm_hour = s.hour;
    tm.tm_min = s.minute;
    tm.tm_sec = s.second;
    tm.tm_isdst = -1;
    const time_t secs = ::mktime(&tm);
    if (secs == static_cast<time_t>(-1) && !(tm.tm_year == 69 && tm.tm_mon == 11 && tm.tm_mday == 31))
        return Fail(kErrorInvalidParameter);
    const int64_t ticks = (static_cast<int64_t>(secs) + kEpochDelta) * kTicksPerSecond +
                          static_cast<int64_t>(local % kTicksPerSecond);
    if (ticks < 0) return Fail(kErrorInvalidParameter);
    *utc = static_cast<FileTime>(ticks);
    return true;
}

bool FileTimeToSystemTime(FileTime time, SystemTime* out) {
    if (time >= 0x8000000000000000ull) return Fail(kErrorInvalidParameter);
    const int64_t secs = static_cast<int64_t>(time / kTicksPerSecond) - kEpochDelta;
    int64_t days = secs / 86400;
    int64_t rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, &y, &m, &d);
    out->year = static_cast<uint16_t>(y);
    out->month = static_cast<uint16_t>(m);
    out->day = static_cast<uint16_t>(d);
    out->dayOfWeek = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    out->hour = static_cast<uint16_t>(rem / 3600);
    out->minute = static_cast<uint16_t>(rem / 60 % 60);
    out->second = static_cast<uint16_t>(rem % 60);
    out->milliseconds = static_cast<uint16_t>(time % kTicksPerSecond / 10000);
    return true;
}

bool SystemTimeToFileTime(const SystemTime& t, FileTime* out) {
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59 ||
        t.milliseconds > 999)
        return Fail(kErrorInvalidParameter);
    const int64_t days = DaysFromCivil(t.year, t.month, t.day);
    const int64_t secs = days * 86400 + t.hour * 3600 + t.minute * 60 + t.second + kEpochDelta;
    *out = static_cast<FileTime>(secs) * kTicksPerSecond + static_cast<FileTime>(t.milliseconds) * 10000;
    return true;
}

bool FileTimeToDosDateTime(FileTime local, uint16_t* dosDate, uint16_t* dosTime) {
    SystemTime s;
    if (!FileTimeToSystemTime(local, &s)) return false;
    if (s.year < 1980 || s.year > 2107) return Fail(kErrorInvalidParameter);
    if (dosDate) *dosDate = static_cast<uint16_t>(((s.year - 1980) << 9) | (s.month << 5) | s.day);
    if (dosTime) *dosTime = static_cast<uint16_t>((s.hour << 11) | (s.minute << 5) | (s.second / 2));
    return true;
}

bool DosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* local) {
    SystemTime s{};
    s.year = static_cast<uint16_t>(1980 + (dosDate >> 9));
    s.month = static_cast<uint16_t>((dosDate >> 5) & 0x0F);
    s.day = static_cast<uint16_t>(dosDate & 0x1F);
    s.hour = static_cast<uint16_t>(dosTime >> 11);
    s.minute = static_cast<uint16_t>((dosTime >> 5) & 0x3F);
    s.second = static_cast<uint16_t>((dosTime & 0x1F) * 2);
    return SystemTimeToFileTime(s, local);
}

int CompareFileTime(FileTime a, FileTime b) { return a < b ? -1 : a > b ? 1 : 0; }

// ---- Directory search ----------------------------------------------------------------------------

FindHandle FindFirstFile(std::string_view pattern, FindData* out) {
    std::string path = ToPosix(pattern);
    const size_t slash = path.find_last_of('/');
    auto search = std::make_unique<Search>();
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    if (slash == 0) dir = "/";
    search->directory = ResolveCase(dir);
    search->pattern = CharUpper(slash == std::string::npos ? path : path.substr(slash + 1));
    if (search->pattern.empty()) {
        Fail(kErrorFileNotFound);
        return kInvalidFind;
    }
    DIR* d = ::opendir(search->directory.c_str());
    if (!d) {
        Fail(errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound : ErrorFromErrno(errno));
        return kInvalidFind;
    }
    while (dirent* e = ::readdir(d)) search->names.emplace_back(e->d_name);
    ::closedir(d);
    // A stable order, so that the same tree always gives the same archive.
    std::sort(search->names.begin(), search->names.end(), [](const std::string& a, const std::string& b) {
        const std::string ua = CharUpper(a), ub = CharUpper(b);
        return ua != ub ? ua < ub : a < b;
    });
    if (!Advance(*search, out)) {
        Fail(kErrorFileNotFound);
        return kInvalidFind;
    }
    static FindHandle nextId = 1;
    const FindHandle id = nextId++;
    Searches()[id] = std::move(search);
    return id;
}

bool FindNextFile(FindHandle h, FindData* out) {
    auto it = Searches().find(h);
    if (it == Searches().end()) return Fail(kErrorInvalidHandle);
    return Advance(*it->second, out);
}

void FindClose(FindHandle h) { Searches().erase(h); }

// ---- Paths ---------------------------------------------------------------------------------------

std::string GetCurrentDirectory() {
    std::vector<char> buf(4096);
    if (!::getcwd(buf.data(), buf.size())) {
        FailErrno();
        return {};
    }
    return buf.data();
}

bool SetCurrentDirectory(std::string_view path) {
    if (::chdir(ResolveCase(path).c_str()) != 0) return FailErrno();
    return true;
}

std::string GetFullPathName(std::string_view name) {
    if (name.empty()) {
        Fail(kErrorInvalidParameter);
        return {};
    }
    std::string path = ToPosix(name);
    if (path[0] != '/') {
        const std::string cwd = GetCurrentDirectory();
        if (cwd.empty()) return {};
        path = cwd + "/" + path;
    }
    const bool trailing = path.back() == '/';
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        const std::string comp = path.substr(pos, end - pos);
        if (comp == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!comp.empty() && comp != ".") {
            parts.push_back(comp);
        }
        pos = end + 1;
    }
    std::string out;
    for (const auto& p : parts) out += "/" + p;
    if (out.empty()) out = "/";
    if (trailing && out != "/") out += '/';
    return out;
}

std::string GetTempPath() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    return path;
}

std::string GetTempFileName(std::string_view directory, std::string_view prefix) {
    std::string dir = ResolveCase(directory);
    if (dir.empty()) dir = ".";
    if (dir.back() != '/') dir += '/';
    const std::string pre(prefix.substr(0, std::min<size_t>(3, prefix.size())));
    static uint32_t counter = 0;
    uint32_t seed = static_cast<uint32_t>(::getpid()) * 2654435761u ^
                    static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (uint32_t attempt = 0; attempt < 65535; ++attempt) {
        const uint32_t unique = ((seed + ++counter * 40503u) & 0xFFFF) | 1;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%X.TMP", unique);
        const std::string candidate = dir + pre + buf;
        const int fd = ::open(candidate.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        if (errno != EEXIST) {
            FailErrno();
            return {};
        }
    }
    Fail(kErrorFileExists);
    return {};
}

// ---- User interface stand-ins ----------------------------------------------------------------------

int MessageBox(std::string_view text, std::string_view caption, uint32_t type) {
    if (MessageBoxHandler()) return MessageBoxHandler()(text, caption, type);
    std::fprintf(stderr, "[%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    const uint32_t buttons = type & 0x0F;
    if (buttons == kMbYesNoCancel) return kIdNo;
    if (buttons == kMbOkCancel && (type & 0xF0) == kMbIconQuestion) return kIdCancel;
    return kIdOk;
}

void SetMessageBoxHandler(MessageBoxFn handler) { MessageBoxHandler() = std::move(handler); }

void PeekMessages() {}

int DateOrder() {
    if (gDateOrderOverride >= 0) return gDateOrderOverride;
    locale_t loc = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    const char* fmt = loc ? ::nl_langinfo_l(D_FMT, loc) : "%m/%d/%y";
    std::string f = fmt ? fmt : "%m/%d/%y";
    if (loc) ::freelocale(loc);
    // Expand the composite forms, then see which field comes first.
    for (auto [from, to] : {std::pair{"%D", "%m/%d/%y"}, std::pair{"%F", "%Y-%m-%d"}}) {
        size_t at;
        while ((at = f.find(from)) != std::string::npos) f.replace(at, 2, to);
    }
    auto place = [&](std::initializer_list<const char*> keys) {
        size_t best = std::string::npos;
        for (const char* k : keys) best = std::min(best, f.find(k));
        return best;
    };
    const size_t day = place({"%d", "%e"}), month = place({"%m", "%b", "%B"}), year = place({"%y", "%Y"});
    if (year < month && year < day) return 2;
    if (day < month) return 1;
    return 0;
}

void SetDateOrderOverride(int order) { gDateOrderOverride = order; }

VolumeService& Volumes() {
    static PosixVolumes system;
    return VolumeOverride() ? *VolumeOverride() : system;
}

void SetVolumeService(VolumeService* service) { VolumeOverride() = service; }

}  // namespace qv::os

#endif  // !_WIN32
