// os.h - the narrow operating-system layer.
//
// Everything above platform/ talks to the system through this Win32-shaped interface and
// never calls POSIX or Win32 directly. os_posix.cpp emulates the Win32 behaviour the library
// relies on (share modes, case-insensitive names, DOS attributes, FILETIMEs, temporary names,
// code pages, message boxes); os_win32.cpp maps each call onto the real API.
//
// Names passed here are ANSI: UTF-8 on POSIX, the system code page on Windows. Both "\" and
// "/" are path separators.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qv::os {

// ---- Handles ---------------------------------------------------------------------------
// A file handle is a 32-bit value, as ArchiveHandle is; kInvalidHandle means none.
using FileHandle = uint32_t;
inline constexpr FileHandle kInvalidHandle = 0xFFFFFFFFu;

// Access rights.
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;
inline constexpr uint32_t kGenericReadWrite = kGenericRead | kGenericWrite;
// Share modes.
inline constexpr uint32_t kShareNone = 0;
inline constexpr uint32_t kShareRead = 1;
inline constexpr uint32_t kShareWrite = 2;
inline constexpr uint32_t kShareDelete = 4;
// Create dispositions.
inline constexpr uint32_t kCreateNew = 1;
inline constexpr uint32_t kCreateAlways = 2;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kOpenAlways = 4;
inline constexpr uint32_t kTruncateExisting = 5;
// File attributes (DOS attribute bits) and flags.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrVolume = 0x08;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;
inline constexpr uint32_t kFlagRandomAccess = 0x10000000u;
inline constexpr uint32_t kFlagSequentialScan = 0x08000000u;
// Seek origins.
inline constexpr uint32_t kFileBegin = 0;
inline constexpr uint32_t kFileCurrent = 1;
inline constexpr uint32_t kFileEnd = 2;
inline constexpr uint32_t kInvalidPosition = 0xFFFFFFFFu;

// Error values reported by LastError (the Win32 numbers).
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorNoMoreFiles = 18;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorAlreadyExists = 183;

uint32_t LastError();
void SetLastError(uint32_t error);

// Opens or creates a file. Share modes are enforced against every other open of the same
// file made through this layer. Returns kInvalidHandle on failure (LastError tells why).
FileHandle CreateFile(std::string_view name, uint32_t access, uint32_t shareMode,
                      uint32_t disposition, uint32_t flagsAndAttributes);
// Reads up to count bytes; *done receives the number read (0 at end of file).
bool ReadFile(FileHandle h, void* buffer, uint32_t count, uint32_t* done);
bool WriteFile(FileHandle h, const void* buffer, uint32_t count, uint32_t* done);
// Moves the file pointer; returns the new position or kInvalidPosition.
uint32_t SetFilePointer(FileHandle h, int32_t distance, uint32_t origin);
// Size of an open file, or kInvalidPosition.
uint32_t GetFileSize(FileHandle h);
bool SetEndOfFile(FileHandle h);
bool CloseHandle(FileHandle h);

bool DeleteFile(std::string_view name);
bool CopyFile(std::string_view source, std::string_view destination, bool failIfExists);
bool MoveFile(std::string_view source, std::string_view destination);
bool CreateDirectory(std::string_view name);
bool RemoveDirectory(std::string_view name);

uint32_t GetFileAttributes(std::string_view name);
bool SetFileAttributes(std::string_view name, uint32_t attributes);

// ---- Times -------------------------------------------------------------------------------
// FILETIME: 100-nanosecond intervals since 1 January 1601 (UTC unless called local).
using FileTime = uint64_t;

struct SystemTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

// Reads and sets the creation, last-access and last-write times; null pointers are skipped.
bool GetFileTime(FileHandle h, FileTime* creation, FileTime* lastAccess, FileTime* lastWrite);
bool SetFileTime(FileHandle h, const FileTime* creation, const FileTime* lastAccess,
                 const FileTime* lastWrite);
void GetSystemTime(SystemTime* out);
void GetLocalTime(SystemTime* out);
bool FileTimeToLocalFileTime(FileTime utc, FileTime* local);
bool LocalFileTimeToFileTime(FileTime local, FileTime* utc);
bool FileTimeToSystemTime(FileTime time, SystemTime* out);
bool SystemTimeToFileTime(const SystemTime& time, FileTime* out);
// DOS date and time of a (local) FILETIME; fails for years outside 1980 to 2107.
bool FileTimeToDosDateTime(FileTime local, uint16_t* dosDate, uint16_t* dosTime);
bool DosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FileTime* local);
int CompareFileTime(FileTime a, FileTime b);

// ---- Directory search ------------------------------------------------------------------------
struct FindData {
    uint32_t attributes = 0;
    FileTime creationTime = 0;
    FileTime lastAccessTime = 0;
    FileTime lastWriteTime = 0;
    uint64_t size = 0;
    std::string name;       // the entry's name (no directory)
    std::string shortName;  // 8.3 alias; empty when the name is already a valid short name
    // What the entry refers to (links followed): the volume's serial number and the file's
    // index on it, as GetFileInformationByHandle gives them; both 0 when not reported (the
    // Windows back end reports them for folders only).
    // Walkers use them to search each directory once.
    uint64_t volumeSerial = 0;
    uint64_t fileIndex = 0;
};
using FindHandle = intptr_t;
inline constexpr FindHandle kInvalidFind = -1;

// Searches a directory with Windows wildcard semantics ("*", "?", "*.*" matching every name,
// letter case ignored). The directory part of pattern has no wildcards. "." and ".." are
// reported, as Windows reports them.
FindHandle FindFirstFile(std::string_view pattern, FindData* out);
bool FindNextFile(FindHandle h, FindData* out);
void FindClose(FindHandle h);

// ---- Paths ---------------------------------------------------------------------------------
std::string GetCurrentDirectory();
bool SetCurrentDirectory(std::string_view path);
// Absolute, normalised form of name ("." and ".." resolved); empty on failure.
std::string GetFullPathName(std::string_view name);
// The temporary directory, ending in a separator.
std::string GetTempPath();
// Creates a new, empty, uniquely named file "<prefix><hex>.TMP" in directory and returns its
// full name; empty on failure.
std::string GetTempFileName(std::string_view directory, std::string_view prefix);
// True for "\" and "/".
constexpr bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// ---- Code pages --------------------------------------------------------------------------
// ANSI is UTF-8 on POSIX; OEM is CP437. Characters the OEM page lacks become "_".
std::string AnsiToOem(std::string_view ansi);
std::string OemToAnsi(std::string_view oem);
// Upper-cases an ANSI string (letters of the OEM repertoire included).
std::string CharUpper(std::string_view ansi);
// Copies an ANSI string into a zero-terminated buffer of capacity bytes, cutting at a
// character boundary; returns false when it had to cut.
bool CopyAnsiCut(std::string_view ansi, char* buffer, size_t capacity);

// ---- User interface stand-ins --------------------------------------------------------------
inline constexpr uint32_t kMbOk = 0x00;
inline constexpr uint32_t kMbOkCancel = 0x01;
inline constexpr uint32_t kMbYesNoCancel = 0x03;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconExclamation = 0x30;
inline constexpr uint32_t kMbDefButton2 = 0x100;
inline constexpr int kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7;

// Shows a message box. Without a window system the text goes to standard error and the
// answer is that of a user who cannot answer: OK for notices, No when No is offered, Cancel
// for other questions. Never blocks.
int MessageBox(std::string_view text, std::string_view caption, uint32_t type);
// Replaces the message box (tests); an empty function restores the default.
using MessageBoxFn = std::function<int(std::string_view text, std::string_view caption, uint32_t type)>;
void SetMessageBoxHandler(MessageBoxFn handler);
// Lets the system deliver pending messages to the calling thread's windows.
void PeekMessages();

// ---- Profile settings --------------------------------------------------------------------------
// The system's short-date order: 0 month-day-year, 1 day-month-year, 2 year-month-day.
int DateOrder();
// Overrides DateOrder (tests); a negative value restores the system's.
void SetDateOrderOverride(int order);

// ---- Volumes ------------------------------------------------------------------------------------
inline constexpr uint32_t kDriveUnknown = 0, kDriveNoRootDir = 1, kDriveRemovable = 2,
                          kDriveFixed = 3, kDriveRemote = 4, kDriveCdrom = 5, kDriveRamdisk = 6;

// Removable drives, free space and labels, replaceable so tests can simulate removable disks.
class VolumeService {
public:
    virtual ~VolumeService() = default;
    virtual uint32_t DriveType(std::string_view root) = 0;
    virtual bool FreeSpace(std::string_view root, uint64_t* bytes) = 0;
    virtual bool GetLabel(std::string_view root, std::string* label) = 0;
    virtual bool SetLabel(std::string_view root, std::string_view label) = 0;
};
VolumeService& Volumes();
// Installs a service (tests); null restores the system's.
void SetVolumeService(VolumeService* service);

}  // namespace qv::os
