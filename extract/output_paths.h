// output_paths.h - where extracted members go: output names, their directories and the
// host's path filters.
//
// Paths here are OEM (the library's inside form) unless a name says otherwise; they become
// ANSI only at the file system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "result.h"

namespace qv {

// The longest output path the extractor writes: a 260-byte text with its terminating zero.
inline constexpr size_t kMaxOutputPath = 259;

// True when the ANSI path names an existing directory (a plain file is not one).
bool DirectoryExists(std::string_view ansiPath);

// Creates every directory of an output path that does not exist yet, from the outside in.
// The last component (after the last separator) is the file and is never created; a path
// ending in a separator creates all of its directories. A separator right behind a drive's
// ":" is passed over, so the drive root is never created. 0, or 103 when a missing directory
// cannot be made.
Result CreateOutputDirs(std::string_view oemPath);

// ---- Path filters ----------------------------------------------------------------------------
// Pairs (from, to) of drive-and-directory prefixes that rewrite the leading directory of output
// paths. They serve one extraction: the driver empties the list when it ends.

// Registers a pair; null counts as empty and a "\" is appended to a non-empty part that does
// not end in a separator or ":". Both parts are ANSI. -19 when both are empty, 108 when memory
// runs out (the list is then emptied).
Result AddUnZipPathFilter(const char* ansiFrom, const char* ansiTo);
// True when at least one pair is registered.
bool HavePathFilters();
// Rewrites oemPath by the first pair whose "from" it begins with: the drive must be equal as
// a name (letter case ignored) and the directory must begin with from's directory exactly
// ("\" and "/" count as the same); a "from" without a drive matches any drive and keeps it.
void ApplyPathFilters(std::string& oemPath);
// Empties the list.
void ClearPathFilters();

// ---- Member names as output paths -------------------------------------------------------------
// A stored member name made safe to join below a destination.
struct MemberOutputName {
    std::string drive;      // the name's drive ("C:" or "\\server\share"), kept only on request
    std::string directory;  // "a\b\" (or "\a\b\" when an absolute path is kept); may be empty
    std::string file;       // the last component; empty for a name ending in a separator
    bool dropped = false;   // ".." components, a drive or a root were taken out of the name
};

// Splits an (OEM) member name into drive, directory and file. Empty and "." components are
// passed over and ".." components are dropped, so the directory never climbs above where it
// is joined. keepAbsolute (the drive option) keeps the drive and a leading root separator;
// otherwise both are dropped and the name becomes relative. A name whose last component was
// dropped ends in a separator (it names a directory). Separators come out as "\".
MemberOutputName SplitMemberName(std::string_view oemName, bool keepAbsolute);

}  // namespace qv
