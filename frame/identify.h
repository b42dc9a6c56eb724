// identify.h - which kind of archive a file holds.
#pragma once

#include <cstdint>
#include <string_view>

#include "result.h"

namespace qv {

// Classifies the ANSI-named file as one of the QV_TYPE_* kinds; *type is 0 on failure.
Result IdentifyFile(std::string_view ansiName, uint16_t* type);

}  // namespace qv
