// os_win32.cpp - the platform layer on Windows: each call maps onto the Win32 API.
//
// The library is written against these semantics, so almost every function here is one
// system call with its arguments converted. Names are ANSI (the system code page); the
// FILETIME, attribute, share-mode, disposition and error numbers of os.h are the Win32 ones.
#ifdef _WIN32

// os.h first: windows.h turns CreateFile, DeleteFile, MessageBox and friends into macros
// that would rename our own functions.
#include "os.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef CreateFile
#undef DeleteFile
#undef CopyFile
#undef MoveFile
#undef CreateDirectory
#undef RemoveDirectory
#undef GetFileAttributes
#undef SetFileAttributes
#undef FindFirstFile
#undef FindNextFile
#undef GetCurrentDirectory
#undef SetCurrentDirectory
#undef GetFullPathName
#undef GetTempPath
#undef GetTempFileName
#undef CharUpper
#undef AnsiToOem
#undef OemToAnsi
#undef MessageBox

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace qv::os {
namespace {

// Kernel handles carry only 32 significant bits, also in 64-bit processes (Windows keeps
// them so for 32/64-bit interoperation); sign extension restores INVALID_HANDLE_VALUE.
HANDLE ToHandle(FileHandle h) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(h)));
}
FileHandle FromHandle(HANDLE h) {
    return static_cast<FileHandle>(reinterpret_cast<uintptr_t>(h));
}

// The string_views of os.h are not terminated; Win32 wants terminated strings.
std::string Z(std::string_view s) { return std::string(s); }

FILETIME ToFiletime(FileTime t) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}
FileTime FromFiletime(const FILETIME& ft) {
    return (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

SYSTEMTIME ToSystemtime(const SystemTime& t) {
    SYSTEMTIME s;
    s.wYear = t.year;
    s.wMonth = t.month;
    s.wDayOfWeek = t.dayOfWeek;
    s.wDay = t.day;
    s.wHour = t.hour;
    s.wMinute = t.minute;
    s.wSecond = t.second;
    s.wMilliseconds = t.milliseconds;
    return s;
}
void FromSystemtime(const SYSTEMTIME& s, SystemTime* t) {
    t->year = s.wYear;
    t->month = s.wMonth;
    t->dayOfWeek = s.wDayOfWeek;
    t->day = s.wDay;
    t->hour = s.wHour;
    t->minute = s.wMinute;
    t->second = s.wSecond;
    t->milliseconds = s.wMilliseconds;
}

bool Fail(uint32_t error) {
    ::SetLastError(error);
    return false;
}

// Windows refuses calendar fields that name no real moment, and DOS values outside 1980 to
// 2107. Not every implementation of the API checks (Wine takes 29 February of any year and
// packs 1979 into a DOS date), so the checks are made here too, the same on every system.
bool ValidSystemTime(const SystemTime& t) {
    static const uint16_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1) return false;
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    const uint16_t days = t.month == 2 && leap ? 29 : kDays[t.month - 1];
    return t.day <= days && t.hour < 24 && t.minute < 60 && t.second < 60 && t.milliseconds < 1000;
}

// Calls a "fill this buffer" function, growing the buffer to the length it asks for.
template <typename Fill>
std::string GrowingString(Fill fill) {
    std::vector<char> buf(MAX_PATH + 1);
    for (int round = 0; round < 4; ++round) {
        const DWORD n = fill(buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return std::string(buf.data(), n);
        buf.resize(n + 1);
    }
    return {};
}

void FillFindData(const WIN32_FIND_DATAA& w, FindData* out) {
    out->attributes = w.dwFileAttributes;
    out->creationTime = FromFiletime(w.ftCreationTime);
    out->lastAccessTime = FromFiletime(w.ftLastAccessTime);
    out->lastWriteTime = FromFiletime(w.ftLastWriteTime);
    out->size = (static_cast<uint64_t>(w.nFileSizeHigh) << 32) | w.nFileSizeLow;
    out->name = w.cFileName;
    // Windows leaves the alternate name empty when the name is a valid 8.3 name already.
    out->shortName = w.cAlternateFileName;
}

// ---- Code pages ---------------------------------------------------------------------------
// CharToOemA, OemToCharA and CharUpperA go from one code page to the other through UTF-16.
// The same two steps are made here with explicit lengths, so names need no terminator and
// multi-byte ANSI pages (UTF-8 among them) keep their lengths right.

std::wstring Widen(UINT codePage, std::string_view s) {
    if (s.empty()) return {};
    const int n = ::MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    if (n > 0) ::MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string Narrow(UINT codePage, const std::wstring& w) {
    if (w.empty()) return {};
    // A character the page lacks becomes "_", never "?": a wildcard would change what a name
    // means. The UTF pages map everything and take no default character.
    const bool utf = codePage == CP_UTF8 || codePage == CP_UTF7;
    const char* fallback = utf ? nullptr : "_";
    const int n = ::WideCharToMultiByte(codePage, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                        fallback, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    if (n > 0)
        ::WideCharToMultiByte(codePage, 0, w.data(), static_cast<int>(w.size()), s.data(), n, fallback,
                              nullptr);
    return s;
}

// ---- Message boxes, date order, volumes ---------------------------------------------------

MessageBoxFn& MessageBoxHandler() {
    static MessageBoxFn handler;
    return handler;
}

int gDateOrderOverride = -1;

// The answer of a user who cannot answer, for when no box can be shown.
int UnansweredBox(uint32_t type) {
    const uint32_t buttons = type & 0x0F;
    if (buttons == kMbYesNoCancel) return kIdNo;
    if (buttons == kMbOkCancel && (type & 0xF0) == kMbIconQuestion) return kIdCancel;
    return kIdOk;
}

// The root of the volume that holds path ("A:\" for "A:\SET\DISK.ZIP" or for ".\" while
// A:\ is current), which is what the volume calls want; the path itself when that fails.
std::string VolumeRootOf(std::string_view path) {
    const std::string full = GrowingString([&](char* buf, DWORD size) {
        return ::GetFullPathNameA(Z(path).c_str(), size, buf, nullptr);
    });
    char root[MAX_PATH + 1];
    if (!full.empty() && ::GetVolumePathNameA(full.c_str(), root, sizeof root)) return root;
    return Z(path);
}

class Win32Volumes final : public VolumeService {
public:
    uint32_t DriveType(std::string_view root) override {
        return ::GetDriveTypeA(VolumeRootOf(root).c_str());
    }
    bool FreeSpace(std::string_view root, uint64_t* bytes) override {
        DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
        if (!::GetDiskFreeSpaceA(VolumeRootOf(root).c_str(), &sectorsPerCluster, &bytesPerSector,
                                 &freeClusters, &clusters))
            return false;
        *bytes = static_cast<uint64_t>(freeClusters) * sectorsPerCluster * bytesPerSector;
        return true;
    }
    bool GetLabel(std::string_view root, std::string* label) override {
        char name[MAX_PATH + 1] = {};
        if (!::GetVolumeInformationA(VolumeRootOf(root).c_str(), name, sizeof name, nullptr, nullptr,
                                     nullptr, nullptr, 0))
            return false;
        *label = name;
        return true;
    }
    bool SetLabel(std::string_view root, std::string_view label) override {
        return ::SetVolumeLabelA(VolumeRootOf(root).c_str(), Z(label).c_str()) != 0;
    }
};

VolumeService*& VolumeOverride() {
    static VolumeService* service = nullptr;
    return service;
}

}  // namespace

uint32_t LastError() { return ::GetLastError(); }
void SetLastError(uint32_t error) { ::SetLastError(error); }

// ---- Files -------------------------------------------------------------------------------------

FileHandle CreateFile(std::string_view name, uint32_t access, uint32_t shareMode,
                      uint32_t disposition, uint32_t flagsAndAttributes) {
    const std::string z = Z(name);
    // Windows refuses to write a read-only file, even to an administrator; Wine run by root
    // lets the open through, so the attribute is looked at here as well.
    const bool writes = (access & kGenericWrite) != 0 || disposition == kCreateAlways ||
                        disposition == kTruncateExisting;
    if (writes) {
        const DWORD before = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesA(z.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
            !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            Fail(kErrorAccessDenied);
            return kInvalidHandle;
        }
        ::SetLastError(before);  // the look must not change what a successful open reports
    }
    return FromHandle(::CreateFileA(z.c_str(), access, shareMode, nullptr, disposition,
                                    flagsAndAttributes, nullptr));
}

bool ReadFile(FileHandle h, void* buffer, uint32_t count, uint32_t* done) {
    DWORD n = 0;
    const BOOL ok = ::ReadFile(ToHandle(h), buffer, count, &n, nullptr);
    if (done) *done = n;
    return ok != 0;
}

bool WriteFile(FileHandle h, const void* buffer, uint32_t count, uint32_t* done) {
    DWORD n = 0;
    const BOOL ok = ::WriteFile(ToHandle(h), buffer, count, &n, nullptr);
    if (done) *done = n;
    return ok != 0;
}

uint32_t SetFilePointer(FileHandle h, int32_t distance, uint32_t origin) {
    // Without the high half Windows fails any move whose result does not fit 32 bits, so
    // INVALID_SET_FILE_POINTER is always a failure here.
    return ::SetFilePointer(ToHandle(h), distance, nullptr, origin);
}

uint32_t GetFileSize(FileHandle h) {
    DWORD high = 0;
    ::SetLastError(NO_ERROR);
    const DWORD low = ::GetFileSize(ToHandle(h), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return kInvalidPosition;
    // Sizes are 32-bit, as in the archive format.
    if (high != 0 || low == kInvalidPosition) {
        Fail(kErrorInvalidParameter);
        return kInvalidPosition;
    }
    return low;
}

bool SetEndOfFile(FileHandle h) { return ::SetEndOfFile(ToHandle(h)) != 0; }

bool CloseHandle(FileHandle h) {
    // INVALID_HANDLE_VALUE doubles as the current-process pseudo handle, which CloseHandle
    // would accept.
    if (h == kInvalidHandle) return Fail(kErrorInvalidHandle);
    return ::CloseHandle(ToHandle(h)) != 0;
}

bool DeleteFile(std::string_view name) { return ::DeleteFileA(Z(name).c_str()) != 0; }

bool CopyFile(std::string_view source, std::string_view destination, bool failIfExists) {
    return ::CopyFileA(Z(source).c_str(), Z(destination).c_str(), failIfExists) != 0;
}

bool MoveFile(std::string_view source, std::string_view destination) {
    return ::MoveFileA(Z(source).c_str(), Z(destination).c_str()) != 0;
}

bool CreateDirectory(std::string_view name) { return ::CreateDirectoryA(Z(name).c_str(), nullptr) != 0; }

bool RemoveDirectory(std::string_view name) { return ::RemoveDirectoryA(Z(name).c_str()) != 0; }

uint32_t GetFileAttributes(std::string_view name) { return ::GetFileAttributesA(Z(name).c_str()); }

bool SetFileAttributes(std::string_view name, uint32_t attributes) {
    return ::SetFileAttributesA(Z(name).c_str(), attributes) != 0;
}

// ---- Times -------------------------------------------------------------------------------------

bool GetFileTime(FileHandle h, FileTime* creation, FileTime* lastAccess, FileTime* lastWrite) {
    FILETIME c, a, w;
    if (!::GetFileTime(ToHandle(h), &c, &a, &w)) return false;
    if (creation) *creation = FromFiletime(c);
    if (lastAccess) *lastAccess = FromFiletime(a);
    if (lastWrite) *lastWrite = FromFiletime(w);
    return true;
}

bool SetFileTime(FileHandle h, const FileTime* creation, const FileTime* lastAccess,
                 const FileTime* lastWrite) {
    FILETIME c, a, w;
    if (creation) c = ToFiletime(*creation);
    if (lastAccess) a = ToFiletime(*lastAccess);
    if (lastWrite) w = ToFiletime(*lastWrite);
    return ::SetFileTime(ToHandle(h), creation ? &c : nullptr, lastAccess ? &a : nullptr,
                         lastWrite ? &w : nullptr) != 0;
}

void GetSystemTime(SystemTime* out) {
    SYSTEMTIME s;
    ::GetSystemTime(&s);
    FromSystemtime(s, out);
}

void GetLocalTime(SystemTime* out) {
    SYSTEMTIME s;
    ::GetLocalTime(&s);
    FromSystemtime(s, out);
}

bool FileTimeToLocalFileTime(FileTime utc, FileTime* local) {
    const FILETIME in = ToFiletime(utc);
    FILETIME out;
    if (!::FileTimeToLocalFileTime(&in, &out)) return false;
    *local = FromFiletime(out);
    return true;
}

bool LocalFileTimeToFileTime(FileTime local, FileTime* utc) {
    const FILETIME in = ToFiletime(local);
    FILETIME out;
    if (!::LocalFileTimeToFileTime(&in, &out)) return false;
    *utc = FromFiletime(out);
    return true;
}

bool FileTimeToSystemTime(FileTime time, SystemTime* out) {
    const FILETIME in = ToFiletime(time);
    SYSTEMTIME s;
    if (!::FileTimeToSystemTime(&in, &s)) return false;
    FromSystemtime(s, out);
    return true;
}

bool SystemTimeToFileTime(const SystemTime& time, FileTime* out) {
    if (!ValidSystemTime(time)) return Fail(kErrorInvalidParameter);
    const SYSTEMTIME s = ToSystemtime(time);
    FILETIME ft;
    if (!::SystemTimeToFileTime(&s, &ft)) return false;
    *out = FromFiletime(ft);
    return true;
}

bool FileTimeToDosDateTime(FileTime local, uint16_t* dosDate, uint16_t* dosTime) {
    const FILETIME in = ToFiletime(local);
    SYSTEMTIME s;
    if (!::FileTimeToSystemTime(&in, &s)) return false;
    // The DOS date counts 7 bits of years from 1980.
    if (s.wYear < 1980 || s.wYear > 2107) return Fail(kErrorInvalidParameter);
    WORD date = 0, time = 0;
    if (!::FileTimeToDosDateTime(&in, &date, &time)) return false;
    if (dosDate) *dosDate = date;
    if (dosTime) *dosTime = time;
    return true;
}

bool DosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* local) {
    // Date: bits 15-9 year - 1980, 8-5 month, 4-0 day; time: 15-11 hour, 10-5 minute,
    // 4-0 seconds / 2.
    SystemTime fields{};
    fields.year = static_cast<uint16_t>(1980 + (dosDate >> 9));
    fields.month = static_cast<uint16_t>((dosDate >> 5) & 0x0F);
    fields.day = static_cast<uint16_t>(dosDate & 0x1F);
    fields.hour = static_cast<uint16_t>(dosTime >> 11);
    fields.minute = static_cast<uint16_t>((dosTime >> 5) & 0x3F);
    fields.second = static_cast<uint16_t>((dosTime & 0x1F) * 2);
    if (!ValidSystemTime(fields)) return Fail(kErrorInvalidParameter);
    FILETIME ft;
    if (!::DosDateTimeToFileTime(dosDate, dosTime, &ft)) return false;
    *local = FromFiletime(ft);
    return true;
}

int CompareFileTime(FileTime a, FileTime b) {
    const FILETIME fa = ToFiletime(a), fb = ToFiletime(b);
    return ::CompareFileTime(&fa, &fb);
}

// ---- Directory search ----------------------------------------------------------------------------

namespace {

// A search, and the folder its pattern names (up to the last separator), so that the folders it
// finds can be opened for their identity. A pattern without wildcards names the one entry it
// finds (whatever name the system reports for "dir\." or a short name): that entry is opened
// by the pattern itself.
struct Search {
    HANDLE handle;
    std::string folder;
    std::string exact;  // the pattern, when it has no wildcards
};

// The identity of what `path` refers to, links followed; left at 0 when it cannot be opened.
void FillIdentity(const std::string& path, FindData* out) {
    const HANDLE h =
        ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileInformationByHandle(h, &info)) {
        out->volumeSerial = info.dwVolumeSerialNumber;
        out->fileIndex = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    ::CloseHandle(h);
}

// Fills `out` from what the search found; folders also get their identity (walkers search each
// folder once by it; files do not need it, and opening each would slow every listing).
void FillFound(const Search& search, const WIN32_FIND_DATAA& w, FindData* out) {
    FillFindData(w, out);
    out->volumeSerial = 0;
    out->fileIndex = 0;
    if (w.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        FillIdentity(search.exact.empty() ? search.folder + w.cFileName : search.exact, out);
}

}  // namespace

FindHandle FindFirstFile(std::string_view pattern, FindData* out) {
    WIN32_FIND_DATAA w;
    const HANDLE h = ::FindFirstFileA(Z(pattern).c_str(), &w);
    if (h == INVALID_HANDLE_VALUE) return kInvalidFind;
    const size_t cut = pattern.find_last_of("\\/:");
    const size_t folderSize = cut == std::string_view::npos ? 0 : cut + 1;
    const bool exact = pattern.find_first_of("*?") == std::string_view::npos;
    auto* search = new (std::nothrow)
        Search{h, std::string(pattern.substr(0, folderSize)), exact ? std::string(pattern) : ""};
    if (search == nullptr) {
        ::FindClose(h);
        return kInvalidFind;
    }
    FillFound(*search, w, out);
    return reinterpret_cast<FindHandle>(search);
}

bool FindNextFile(FindHandle h, FindData* out) {
    if (h == kInvalidFind) return false;
    const auto* search = reinterpret_cast<const Search*>(h);
    WIN32_FIND_DATAA w;
    if (!::FindNextFileA(search->handle, &w)) return false;
    FillFound(*search, w, out);
    return true;
}

void FindClose(FindHandle h) {
    if (h == kInvalidFind) return;
    auto* search = reinterpret_cast<Search*>(h);
    ::FindClose(search->handle);
    delete search;
}

// ---- Paths ---------------------------------------------------------------------------------------

std::string GetCurrentDirectory() {
    return GrowingString([](char* buf, DWORD size) { return ::GetCurrentDirectoryA(size, buf); });
}

bool SetCurrentDirectory(std::string_view path) { return ::SetCurrentDirectoryA(Z(path).c_str()) != 0; }

std::string GetFullPathName(std::string_view name) {
    if (name.empty()) {
        Fail(kErrorInvalidParameter);
        return {};
    }
    const std::string z = Z(name);
    return GrowingString([&](char* buf, DWORD size) { return ::GetFullPathNameA(z.c_str(), size, buf, nullptr); });
}

std::string GetTempPath() {
    return GrowingString([](char* buf, DWORD size) { return ::GetTempPathA(size, buf); });
}

std::string GetTempFileName(std::string_view directory, std::string_view prefix) {
    const std::string dir = directory.empty() ? std::string(".") : Z(directory);
    char name[MAX_PATH + 1];
    // A unique number of 0 makes Windows pick one and create the file, empty.
    if (::GetTempFileNameA(dir.c_str(), Z(prefix).c_str(), 0, name) == 0) return {};
    return name;
}

// ---- Code pages ----------------------------------------------------------------------------------

std::string AnsiToOem(std::string_view ansi) { return Narrow(CP_OEMCP, Widen(CP_ACP, ansi)); }

std::string OemToAnsi(std::string_view oem) { return Narrow(CP_ACP, Widen(CP_OEMCP, oem)); }

std::string CharUpper(std::string_view ansi) {
    std::wstring w = Widen(CP_ACP, ansi);
    if (!w.empty()) ::CharUpperBuffW(w.data(), static_cast<DWORD>(w.size()));
    return Narrow(CP_ACP, w);
}

bool CopyAnsiCut(std::string_view ansi, char* buffer, size_t capacity) {
    if (capacity == 0) return ansi.empty();
    if (ansi.size() < capacity) {
        std::memcpy(buffer, ansi.data(), ansi.size());
        buffer[ansi.size()] = '\0';
        return true;
    }
    // Cut at the start of a character: after whole double-byte pairs on DBCS pages, before
    // continuation bytes on UTF-8.
    size_t n = 0;
    const bool utf8 = ::GetACP() == CP_UTF8;
    while (n < capacity - 1) {
        size_t step = 1;
        if (!utf8 && ::IsDBCSLeadByte(static_cast<BYTE>(ansi[n]))) step = 2;
        if (n + step > capacity - 1) break;
        n += step;
    }
    if (utf8)
        while (n > 0 && (static_cast<uint8_t>(ansi[n]) & 0xC0) == 0x80) --n;
    std::memcpy(buffer, ansi.data(), n);
    buffer[n] = '\0';
    return false;
}

// ---- User interface --------------------------------------------------------------------------------

int MessageBox(std::string_view text, std::string_view caption, uint32_t type) {
    if (MessageBoxHandler()) return MessageBoxHandler()(text, caption, type);
    const int answer = ::MessageBoxA(nullptr, Z(text).c_str(), Z(caption).c_str(), type);
    if (answer > 0) return answer;
    // No box could be shown (no desktop, as for a service): say so where someone may read
    // it, and answer as a user who cannot answer would.
    std::fprintf(stderr, "[%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    return UnansweredBox(type);
}

void SetMessageBoxHandler(MessageBoxFn handler) { MessageBoxHandler() = std::move(handler); }

void PeekMessages() {
    // Looking at the queue lets Windows deliver messages sent to the thread's windows and
    // tells it the program still responds; posted messages stay for the host's own loop.
    MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

// ---- Profile settings --------------------------------------------------------------------------------

int DateOrder() {
    if (gDateOrderOverride >= 0) return gDateOrderOverride;
    // 0 month-day-year, 1 day-month-year, 2 year-month-day.
    const UINT order = ::GetProfileIntA("intl", "iDate", 0);
    return order <= 2 ? static_cast<int>(order) : 0;
}

void SetDateOrderOverride(int order) { gDateOrderOverride = order; }

// ---- Volumes --------------------------------------------------------------------------------------

VolumeService& Volumes() {
    static Win32Volumes system;
    return VolumeOverride() ? *VolumeOverride() : system;
}

void SetVolumeService(VolumeService* service) { VolumeOverride() = service; }

}  // namespace qv::os

#endif  // _WIN32
