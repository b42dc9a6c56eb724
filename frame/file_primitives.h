// file_primitives.h - the file and path layer every archive operation works through.
//
// The name rule: names kept inside the library are OEM (as ZIP stores them); they are
// converted to ANSI at the file system and for the host. Handles are platform handles.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "os.h"
#include "result.h"

namespace qv {

using os::FileHandle;
using os::kInvalidHandle;

// Buffers for names and paths hold 260 characters, the Win32 path limit.
inline constexpr size_t kMaxPath = 260;

// Opens or creates the OEM-named file with exactly the given parameters; kInvalidHandle on
// failure.
FileHandle CreateOemFile(std::string_view oemName, uint32_t access, uint32_t shareMode,
                         uint32_t disposition, uint32_t flagsAndAttributes);
// Deletes the OEM-named file; the system's success flag.
bool DeleteOemFile(std::string_view oemName);
// Compares two OEM names as the file system would: ANSI, upper case, byte by byte.
// 0 when equal, 1 when a is greater at the first difference, -1 when smaller.
int CompareNames(std::string_view a, std::string_view b);
// Reads up to count bytes at the current position; the number read, 0 on a system failure.
uint32_t ReadBytes(FileHandle h, void* buffer, uint32_t count);
// Writes count bytes: 0 when all were written, 1 otherwise (callers report -10).
int WriteBytes(FileHandle h, const void* buffer, uint32_t count);
// Creates a unique empty temporary file "QVT....TMP", enters it on the open-name list and
// returns its (OEM) name; empty when no name could be made.
std::string MakeTempName();
// True when name has an extension: a "." met scanning back from the end before a "\", "/",
// ":" or the first character.
bool HasExtension(std::string_view name);

struct PathParts {
    std::string drive;      // "C:" or "\\server\share"
    std::string directory;  // up to and including the last separator
    std::string baseName;   // up to the last "."
    std::string extension;  // from the last "." (empty when none)
};
PathParts SplitPath(std::string_view path);
// Drive, directory and file name (base name and extension joined).
void SplitPathName(std::string_view path, std::string* drive, std::string* directory,
                   std::string* fileName);
// Concatenates the parts that are given, adding no separators.
std::string JoinParts(const char* a, const char* b = nullptr, const char* c = nullptr,
                      const char* d = nullptr);
// The volume label of a root path; empty when it cannot be read.
std::string VolumeLabel(std::string_view rootPath);
// Copies count bytes from the source's position to the destination's, honouring the cancel
// request and running the message pump after each chunk.
Result CopyBytes(FileHandle source, FileHandle destination, int32_t count);
// The attribute bits to keep for the given option bits.
uint32_t AttributeMask(uint8_t optionBits);

}  // namespace qv
