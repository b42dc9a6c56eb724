// The benchmark corpora: text and binary data gathered from files every Debian machine has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvbench {

// About `size` bytes of C headers from /usr/include (text).
const std::vector<uint8_t>& TextCorpus(size_t size = 32u << 20);
// About `size` bytes of shared objects from /usr/lib (binary).
const std::vector<uint8_t>& BinaryCorpus(size_t size = 32u << 20);

}  // namespace qvbench
