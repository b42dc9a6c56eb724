// line_endings.h - copying a text file into a new file with its line endings converted.
#pragma once

#include <string_view>

#include "result.h"

namespace qv {

// Writes the OEM-named source to the destination with every LF turned into CR LF; endMark
// appends one Ctrl-Z. The destination is replaced, and deleted again after any failure.
Result LfToCrLf(std::string_view source, std::string_view destination, bool endMark);

// Writes the source to the destination with CR LF and a lone CR turned into LF, stopping at
// the first Ctrl-Z (the DOS end-of-text mark). Same failure rules as LfToCrLf.
Result CrLfToLf(std::string_view source, std::string_view destination);

}  // namespace qv
