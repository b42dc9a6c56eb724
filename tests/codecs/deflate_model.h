// deflate_model.h - a slow, plain model of how the deflate engine parses its input into items,
// written rule by rule for tests: the engine's fast parser must produce exactly these items.
#pragma once

#include <cstdint>
#include <vector>

#include "deflate_items.h"

namespace qvtest {

// The items the engine emits for `input` at `chainLimit` (as passed to QvDeflate, before the
// engine clamps it), in order, across all blocks.
std::vector<DeflateItem> ModelParse(const std::vector<uint8_t>& input, unsigned chainLimit);

}  // namespace qvtest
