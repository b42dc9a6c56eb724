// name_matching.h - wildcard patterns and file specifications.
//
// A file specification is a list of tokens separated by blanks (codes 1 to 32); a token that
// starts with a double quote runs to the next double quote, so names with blanks are quoted.
// Each token is a path: an optional drive and directory, then a name pattern with "*" and
// "?" (an empty pattern stands for "*"). These matchers decide which files the directory
// walker enters into a file list and which members an extraction or a delete touches. All
// names and patterns here are OEM; letter case is ignored by upper-casing both sides.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Matches text against pattern, letter case significant (callers upper-case first). "?"
// matches any one character, "*" any run, "/" and "\" in the pattern either separator.
// The star rule skips the run of "*" and "?" (each "?" taking one character) and then tries
// the rest of the pattern at every place where the next pattern character occurs; when the
// run ends in "?" only the first such place is tried. When the text ends first, the pattern
// must end in exactly one "*".
bool WildMatch(std::string_view text, std::string_view pattern);

// Matches a name against a pattern ignoring letter case, with the DOS rules for dots: a
// pattern ending in "*." matches only names without an extension; one ending in "*.*"
// matches as if it ended in "*", so also names without any ".".
bool NameMatches(std::string_view name, std::string_view pattern);

// True when a file (its directory, drive included, and its name) matches one specification
// token split the same way: the name must match the pattern, and the directories must be
// the same name ("/" and "\" alike, letter case ignored) unless the pattern has a wildcard,
// in which case files of every directory match. An exact name therefore matches only in its
// own directory, with or without recursion; recursive carries the caller's setting.
bool MatchSpec(std::string_view fileDirectory, std::string_view fileName,
               std::string_view specDirectory, std::string_view specPattern, bool recursive);

// True when some token of fileSpec matches the file (MatchSpec), no token of excludeSpec
// does, and (with checkOpenNames) the file is not one the library holds open: the archive
// being written and the library's temporary files are never taken. An exclusion token
// without a directory is matched against the name alone, in any directory.
bool IncludeFile(std::string_view fullPath, std::string_view directory, std::string_view name,
                 std::string_view fileSpec, std::string_view excludeSpec, bool recursive,
                 bool checkOpenNames);

// The tokens of a specification, quotes removed; empty tokens ("") are dropped.
std::vector<std::string> SpecificationTokens(std::string_view spec);

// Splits a token into its directory (drive included, up to the last separator) and its name
// pattern ("*" when the token names none).
void SplitSpecToken(std::string_view token, std::string* directory, std::string* pattern);

}  // namespace qv
