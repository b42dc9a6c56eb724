// file_list.h - the files an archiving call will add, found by walking the disk.
//
// Before the writer adds anything, the host's file specification is turned into a file
// list: each token is split into a directory and a name pattern, the directory (with
// ZIPOPT_RECURSE every directory below it, breadth first) is searched, each entry found is
// filtered by attributes, archive bit, dates, the specification's patterns, the exclusion
// specification and the open-name list, and each survivor is entered under the name it
// will have in the archive. The writer then looks member names up in the list, marks the
// entries it has used and walks the list in the order the entries were added.
//
// The list lives in memory: at most 65535 entries, each looked up through a hash index on
// its stored name (compared as names: letter case ignored, "/" and "\" alike).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "os.h"
#include "result.h"

namespace qv {

inline constexpr uint32_t kMaxFileEntries = 65535;
// The entry index FindFileEntry reports for a name that is not in the list.
inline constexpr uint32_t kNoFileEntry = 0xFFFFFFFFu;
// Marks the writer puts into FileEntry::size.
inline constexpr int32_t kEntryWritten = -1;  // the file was written into the new archive
inline constexpr int32_t kEntryKept = -2;     // an existing member of that name was kept

struct FileEntry {
    // The member name: OEM, with the separators of the specification ("\" or "/").
    std::string storedName;
    // The file to read, as the file system spells it (ANSI). It is not converted to OEM,
    // because a name with characters outside the OEM code page would not survive the round
    // trip; open it with os::CreateFile, not CreateOemFile.
    std::string sourcePath;
    // Size in bytes; 0 for directories and for files of 2 GiB or more. The writer overwrites
    // it with kEntryWritten or kEntryKept; it is negative only when marked.
    int32_t size = 0;
    uint32_t attributes = 0;  // masked by the option flags (AttributeMask)
    uint16_t dosDate = 0;     // last write, local time; 0 when it has no DOS form
    uint16_t dosTime = 0;
};

class FileList {
public:
    uint32_t size() const { return static_cast<uint32_t>(entries_.size()); }
    bool empty() const { return entries_.empty(); }
    // Total length of all stored names, for the directory room of multi-volume sets.
    uint64_t storedNameTotal() const { return storedNameTotal_; }
    FileEntry& operator[](uint32_t index) { return entries_[index]; }
    const FileEntry& operator[](uint32_t index) const { return entries_[index]; }
    // Entries in the order they were added.
    std::vector<FileEntry>::iterator begin() { return entries_.begin(); }
    std::vector<FileEntry>::iterator end() { return entries_.end(); }
    std::vector<FileEntry>::const_iterator begin() const { return entries_.begin(); }
    std::vector<FileEntry>::const_iterator end() const { return entries_.end(); }

private:
    friend Result AddFileEntry(FileList&, std::string_view, std::string_view, uint32_t,
                               os::FileTime, uint32_t, uint64_t);
    friend bool FindFileEntry(const FileList&, std::string_view, uint32_t*, std::string*);

    std::vector<FileEntry> entries_;
    std::unordered_map<std::string, uint32_t> index_;  // folded stored name -> entry
    uint64_t storedNameTotal_ = 0;
};

// Fills list from fileSpec, leaving out what excludeSpec names (both ANSI, as hosts give
// them). flags are ZIPOPT_* bits: ZIPOPT_HIDDEN and ZIPOPT_SYSTEM take hidden and system
// files, ZIPOPT_RECURSE descends (each directory is searched once, also through links),
// ZIPOPT_FULL_DIRS stores names with their directory and ZIPOPT_RELATIVE_DIRS with their
// path below the searched directory (either also enters directories themselves),
// ZIPOPT_DRIVE puts the drive in front, ZIPOPT_ARCHIVE_BIT_ONLY takes only files with the
// archive attribute, ZIPOPT_AFTER_DATE and ZIPOPT_BEFORE_DATE filter by the DOS dates
// afterDate and beforeDate, ZIPOPT_SHORT_NAMES takes 8.3 names and ZIPOPT_LONG_NAMES turns
// each token's directory into its long form. Stored names never begin with a separator and
// never climb out with "." or ".." components.
//
// Result 0; -7 when no file at all was entered or the specification names nothing; 103 when
// a directory component is missing (ZIPOPT_LONG_NAMES); -8 when a directory to descend into
// has a relative path of 259 characters or more; -21 beyond 65535 entries. A directory that
// cannot be read is reported to the host as a notice (code 105, the directory as file name)
// and skipped when the host answers OK; any other answer ends the walk with -4.
Result BuildFileList(FileList& list, std::string_view fileSpec, std::string_view excludeSpec,
                     uint32_t flags, uint16_t afterDate, uint16_t beforeDate);

// True when an entry returned by a directory search is taken: its hidden, system, volume and
// directory attributes must all be among searchAttributes (an entry with none of them is
// always taken), it is not "." or "..", and its name matches oemPattern (NameMatches).
bool AcceptEntry(const os::FindData& found, uint32_t searchAttributes, std::string_view oemPattern);

// Adds a file under storedName (OEM) unless an entry of that name is present (then 0 and
// nothing changes). attributes are masked with AttributeMask of flags; the last-write time
// (UTC) is stored as a local DOS date and time; size is the file's size as the directory
// search reported it. -21 when the list already holds 65535 entries.
Result AddFileEntry(FileList& list, std::string_view sourcePath, std::string_view storedName,
                    uint32_t attributes, os::FileTime lastWriteTime, uint32_t flags, uint64_t size);

// Looks a stored name up: true with *index (and *sourcePath when given) when present;
// false with *index set to kNoFileEntry otherwise.
bool FindFileEntry(const FileList& list, std::string_view storedName, uint32_t* index,
                   std::string* sourcePath = nullptr);

}  // namespace qv
