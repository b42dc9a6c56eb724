// file_list.cpp - building the file list of an archiving call by walking the disk.
#include "file_list.h"

#include <deque>
#include <set>
#include <utility>

#include "dos_time.h"
#include "file_primitives.h"
#include "name_matching.h"
#include "option_parser.h"
#include "qvarc32.h"
#include "status_reporting.h"

namespace qv {
namespace {

// A queued directory's path below the searched one may have at most 258 characters (OEM),
// the room its line had in the walk queue of earlier versions.
constexpr size_t kMaxQueuedPath = 259;

// The DOS attributes that select what a directory search returns.
constexpr uint32_t kSearchableAttributes =
    os::kAttrHidden | os::kAttrSystem | os::kAttrVolume | os::kAttrDirectory;

// The key an entry is indexed under: its name as CompareNames sees it (ANSI, upper case),
// with "/" for "\", so that a member name finds the entry of its file.
std::string FoldedName(std::string_view oemName) {
    std::string folded = os::CharUpper(os::OemToAnsi(oemName));
    for (char& c : folded)
        if (c == '\\') c = '/';
    return folded;
}

// Local DOS date and time of a file's (UTC) last-write time; both 0 when it has no DOS form.
void LocalDosTime(os::FileTime lastWrite, uint16_t* dosDate, uint16_t* dosTime) {
    os::FileTime local = 0;
    if (!os::FileTimeToLocalFileTime(lastWrite, &local) ||
        !FileTimeToDos(local, dosDate, dosTime)) {
        *dosDate = 0;
        *dosTime = 0;
    }
}

// The date filter on a file's DOS date.
bool DatePasses(uint16_t date, uint32_t flags, uint16_t after, uint16_t before) {
    const bool useAfter = flags & ZIPOPT_AFTER_DATE;
    const bool useBefore = flags & ZIPOPT_BEFORE_DATE;
    if (useAfter && useBefore) {
        // A window when after-date comes first; otherwise the gap between the two is left out.
        if (after < before) return after <= date && date < before;
        return !(before <= date && date < after);
    }
    if (useAfter) return date >= after;
    if (useBefore) return date < before;
    return true;
}

// The current drive's letter, or 0 on systems without drive letters.
char CurrentDriveLetter() {
    const std::string dir = os::GetCurrentDirectory();
    if (dir.size() >= 2 && dir[1] == ':' &&
        ((dir[0] >= 'A' && dir[0] <= 'Z') || (dir[0] >= 'a' && dir[0] <= 'z')))
        return dir[0];
    return 0;
}

bool IsDriveLetterRoot(std::string_view drive) {
    return drive.size() == 3 && drive[1] == ':' && os::IsSeparator(drive[2]);
}

// A directory part for a stored name: "." components dropped and ".." components taken
// back, so that a member never lands above the folder it is extracted into.
std::string ContainedDirectory(std::string_view directory) {
    std::vector<std::string_view> parts;
    std::vector<char> separators;
    size_t start = 0;
    for (size_t i = 0; i < directory.size(); ++i) {
        if (!os::IsSeparator(directory[i])) continue;
        const std::string_view part = directory.substr(start, i - start);
        start = i + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
                separators.pop_back();
            }
            continue;
        }
        parts.push_back(part);
        separators.push_back(directory[i]);
    }
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        out += parts[i];
        out += separators[i];
    }
    return out;
}

// The identity of a directory (0, 0 when the system does not report one).
std::pair<uint64_t, uint64_t> DirectoryIdentity(const std::string& ansiDirectory) {
    os::FindData found;
    const os::FindHandle h = os::FindFirstFile(ansiDirectory + ".", &found);
    if (h == os::kInvalidFind) return {0, 0};
    os::FindClose(h);
    return {found.volumeSerial, found.fileIndex};
}

// Reports a directory that cannot be read: the host's OK goes on without it, any other
// answer cancels.
Result ReportUnreadable(const std::string& ansiDirectory) {
    StatusBlock& block = Status().block;
    os::CopyAnsiCut(ansiDirectory, block.fileName, sizeof block.fileName);
    block.kind = QV_STATUS_NOTICE;
    block.code = QV_E_FILE;
    return ReportStatus(block) == QV_ANSWER_OK ? Result(QV_OK) : Result(QV_E_CANCELLED);
}

// One specification token being walked.
class TokenWalk {
public:
    TokenWalk(FileList& list, uint32_t flags, uint16_t afterDate, uint16_t beforeDate,
              const std::string& oemSpec, const std::string& oemExclude)
        : list_(list),
          flags_(flags),
          afterDate_(afterDate),
          beforeDate_(beforeDate),
          oemSpec_(oemSpec),
          oemExclude_(oemExclude) {
        searchAttributes_ = 0;
        if (flags & ZIPOPT_HIDDEN) searchAttributes_ |= os::kAttrHidden;
        if (flags & ZIPOPT_SYSTEM) searchAttributes_ |= os::kAttrSystem;
        if (flags & (ZIPOPT_FULL_DIRS | ZIPOPT_RECURSE)) searchAttributes_ |= os::kAttrDirectory;
    }

    Result Walk(std::string_view token);

private:
    Result SetUp(std::string_view token);
    Result SearchDirectory(const std::string& subdirectory);
    Result TakeEntry(const std::string& subdirectory, const os::FindData& found);
    std::string StoredName(const std::string& oemSubdirectory, const std::string& oemName) const;

    FileList& list_;
    const uint32_t flags_;
    const uint16_t afterDate_, beforeDate_;
    const std::string& oemSpec_;
    const std::string& oemExclude_;
    uint32_t searchAttributes_;

    // The token: drive (with the root separator, when there is one), directory and
    // pattern, ANSI as the file system wants them.
    std::string drive_, directory_, pattern_, searchPattern_;
    std::deque<std::string> queue_;  // subdirectories still to search, breadth first
    std::set<std::pair<uint64_t, uint64_t>> searched_;
};

Result TokenWalk::SetUp(std::string_view token) {
    std::string name;
    SplitPathName(token, &drive_, &directory_, &name);
    if (flags_ & ZIPOPT_LONG_NAMES) {
        // The long form of each directory component, as the directory search spells it.
        std::string longForm;
        size_t start = 0;
        for (size_t i = 0; i < directory_.size(); ++i) {
            if (!os::IsSeparator(directory_[i])) continue;
            const std::string part = directory_.substr(start, i - start);
            start = i + 1;
            if (part.empty() || part == "." || part == "..") {
                longForm += part + directory_[i];
                continue;
            }
            os::FindData found;
            const os::FindHandle h = os::FindFirstFile(drive_ + longForm + part, &found);
            if (h == os::kInvalidFind) return QV_E_PATH;
            os::FindClose(h);
            longForm += found.name + directory_[i];
        }
        directory_ = longForm;
    }
    // A rooted directory gives its separator to the drive, so stored names never begin
    // with one.
    if (!directory_.empty() && os::IsSeparator(directory_[0])) {
        drive_ += directory_[0];
        directory_.erase(0, 1);
    }
    pattern_ = name.empty() ? "*" : name;
    searchPattern_ = (flags_ & ZIPOPT_RECURSE) ? "*" : pattern_;
    return QV_OK;
}

Result TokenWalk::Walk(std::string_view token) {
    QV_TRY(SetUp(token));
    if (flags_ & ZIPOPT_RECURSE) {
        const auto identity = DirectoryIdentity(drive_ + directory_);
        if (identity.second != 0) searched_.insert(identity);
    }
    std::string subdirectory;
    for (;;) {
        QV_TRY(SearchDirectory(subdirectory));
        if (queue_.empty()) return QV_OK;
        subdirectory = std::move(queue_.front());
        queue_.pop_front();
        if (os::AnsiToOem(subdirectory).size() >= kMaxQueuedPath) return QV_W_SKIPPED;
    }
}

Result TokenWalk::SearchDirectory(const std::string& subdirectory) {
    const std::string where = drive_ + directory_ + subdirectory;
    os::FindData found;
    const os::FindHandle h = os::FindFirstFile(where + searchPattern_, &found);
    if (h == os::kInvalidFind) {
        const uint32_t error = os::LastError();
        // Nothing found is no error for a token.
        if (error == os::kErrorFileNotFound || error == os::kErrorPathNotFound ||
            error == os::kErrorNoMoreFiles)
            return QV_OK;
        return ReportUnreadable(where);
    }
    struct Closer {
        os::FindHandle h;
        ~Closer() { os::FindClose(h); }
    } closer{h};
    const std::string oemSearchPattern = os::AnsiToOem(searchPattern_);
    do {
        if (AcceptEntry(found, searchAttributes_, oemSearchPattern))
            QV_TRY(TakeEntry(subdirectory, found));
    } while (os::FindNextFile(h, &found));
    return QV_OK;
}

Result TokenWalk::TakeEntry(const std::string& subdirectory, const os::FindData& found) {
    const std::string& name =
        (flags_ & ZIPOPT_SHORT_NAMES) && !found.shortName.empty() ? found.shortName : found.name;
    if (found.attributes & os::kAttrDirectory) {
        if (flags_ & ZIPOPT_RECURSE) {
            // Each directory is searched once, however many links lead to it.
            const std::pair<uint64_t, uint64_t> identity{found.volumeSerial, found.fileIndex};
            if (identity.second == 0 || searched_.insert(identity).second)
                queue_.push_back(subdirectory + name + "\\");
            if (!(flags_ & (ZIPOPT_FULL_DIRS | ZIPOPT_RELATIVE_DIRS))) return QV_OK;
        } else if (!(flags_ & ZIPOPT_FULL_DIRS)) {
            return QV_OK;
        }
    }
    if ((flags_ & ZIPOPT_ARCHIVE_BIT_ONLY) && !(found.attributes & os::kAttrArchive)) return QV_OK;
    uint16_t dosDate, dosTime;
    LocalDosTime(found.lastWriteTime, &dosDate, &dosTime);
    if (!DatePasses(dosDate, flags_, afterDate_, beforeDate_)) return QV_OK;

    const std::string oemDirectory = os::AnsiToOem(drive_ + directory_ + subdirectory);
    const std::string oemName = os::AnsiToOem(name);
    if (!IncludeFile(oemDirectory + oemName, oemDirectory, oemName, oemSpec_, oemExclude_,
                     flags_ & ZIPOPT_RECURSE, true))
        return QV_OK;
    const std::string stored = StoredName(os::AnsiToOem(subdirectory), oemName);
    return AddFileEntry(list_, drive_ + directory_ + subdirectory + name, stored, found.attributes,
                        found.lastWriteTime, flags_, found.size);
}

std::string TokenWalk::StoredName(const std::string& oemSubdirectory,
                                  const std::string& oemName) const {
    std::string driveText;
    if (flags_ & ZIPOPT_DRIVE) {
        if (drive_.size() == 1 && os::IsSeparator(drive_[0])) {
            // A rooted path on the current drive; systems without drive letters have none.
            if (const char letter = CurrentDriveLetter())
                driveText = std::string(1, letter) + ":\\";
        } else {
            driveText = os::AnsiToOem(drive_);
        }
    }
    if (flags_ & ZIPOPT_FULL_DIRS)
        return driveText + ContainedDirectory(os::AnsiToOem(directory_) + oemSubdirectory) +
               oemName;
    if (flags_ & ZIPOPT_RELATIVE_DIRS)
        return driveText + ContainedDirectory(oemSubdirectory) + oemName;
    // The name alone, after a drive letter without its root ("C:NAME").
    if (IsDriveLetterRoot(driveText)) driveText.pop_back();
    return driveText + oemName;
}

}  // namespace

Result BuildFileList(FileList& list, std::string_view fileSpec, std::string_view excludeSpec,
                     uint32_t flags, uint16_t afterDate, uint16_t beforeDate) {
    const std::vector<std::string> tokens = SpecificationTokens(fileSpec);
    if (tokens.empty()) return QV_E_NOTHING;
    const std::string oemSpec = os::AnsiToOem(fileSpec);
    const std::string oemExclude = os::AnsiToOem(excludeSpec);
    const uint32_t before = list.size();
    for (const std::string& token : tokens) {
        TokenWalk walk(list, flags, afterDate, beforeDate, oemSpec, oemExclude);
        QV_TRY(walk.Walk(token));
    }
    return list.size() == before ? Result(QV_E_NOTHING) : Result(QV_OK);
}

bool AcceptEntry(const os::FindData& found, uint32_t searchAttributes,
                 std::string_view oemPattern) {
    // Read-only, archive, normal and the attributes Windows added later (compressed,
    // not indexed, ...) do not decide whether a search returns an entry.
    const uint32_t significant = found.attributes & kSearchableAttributes;
    if ((significant & ~searchAttributes) != 0) return false;
    if (found.name == "." || found.name == "..") return false;
    return NameMatches(os::AnsiToOem(found.name), oemPattern);
}

Result AddFileEntry(FileList& list, std::string_view sourcePath, std::string_view storedName,
                    uint32_t attributes, os::FileTime lastWriteTime, uint32_t flags,
                    uint64_t size) {
    std::string key = FoldedName(storedName);
    if (list.index_.count(key)) return QV_OK;
    if (list.entries_.size() >= kMaxFileEntries) return QV_E_TOO_MANY;
    FileEntry entry;
    entry.storedName = storedName;
    entry.sourcePath = sourcePath;
    const bool directory = attributes & os::kAttrDirectory;
    entry.size = directory || size >= 0x80000000u ? 0 : static_cast<int32_t>(size);
    entry.attributes = attributes & AttributeMask(static_cast<uint8_t>(flags & 0xFF));
    LocalDosTime(lastWriteTime, &entry.dosDate, &entry.dosTime);
    list.entries_.push_back(std::move(entry));
    try {
        list.index_.emplace(std::move(key), list.size() - 1);
    } catch (...) {
        list.entries_.pop_back();  // an entry is listed only when it can be found
        throw;
    }
    list.storedNameTotal_ += storedName.size();
    return QV_OK;
}

bool FindFileEntry(const FileList& list, std::string_view storedName, uint32_t* index,
                   std::string* sourcePath) {
    const auto it = list.index_.find(FoldedName(storedName));
    if (it == list.index_.end()) {
        *index = kNoFileEntry;
        return false;
    }
    *index = it->second;
    if (sourcePath) *sourcePath = list.entries_[it->second].sourcePath;
    return true;
}

}  // namespace qv
