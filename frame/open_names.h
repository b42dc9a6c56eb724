// open_names.h - the list of every file the library itself holds open.
//
// Archives opened here and temporary files are on it, so that the directory walker never
// adds an archive to itself and never archives a temporary file. The list is one string of
// quoted full paths separated by single blanks.
#pragma once

#include <string>
#include <string_view>

#include "result.h"

namespace qv {

// Adds the full path of an (OEM) name: 102 for an empty name.
Result AddOpenName(std::string_view oemName);
// Removes the first entry equal (as names) to the full path of oemName.
void RemoveOpenName(std::string_view oemName);
// True when the full path of oemName is on the list.
bool IsOpenName(std::string_view oemName);
// The list as it stands ("" when empty).
const std::string& OpenNames();

}  // namespace qv
