// deflate.h - the library's streaming deflate compressor, as the member encoder uses it.
//
// The engine itself is exported (QvDeflateBufSize, QvDeflateInit, QvDeflate in qvarc32.h) and
// works only in three blocks its caller provides. AllocDeflateBuffers makes those blocks for
// the library's own callers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "qvarc32.h"

namespace qv {

// Sizes of the three caller-provided blocks, as QvDeflateBufSize reports them.
inline constexpr uint32_t kDeflateStateSize = 57613;  // window, hash heads, coder state
inline constexpr uint32_t kDeflateLinkSize = 65536;   // 32768 chain links of 16 bits
inline constexpr uint32_t kDeflateItemSize = 25600;   // 512 flag words, then up to 8192 items

// The three blocks of one deflate stream, in the order state, links, items. The owners are
// the allocations (freed with this object); the addresses are what QvDeflate is given.
struct DeflateBuffers {
    std::unique_ptr<uint8_t[]> stateBlock;
    std::unique_ptr<uint8_t[]> linkBlock;
    std::unique_ptr<uint8_t[]> itemBlock;
    void* state = nullptr;
    void* links = nullptr;
    void* items = nullptr;
};

// Allocates one block of `size` bytes (contents undefined); null when memory is short.
using DeflateBlockAllocator = std::unique_ptr<uint8_t[]> (*)(size_t size);

// Prepares the blocks for compression level `level`: level 0 (stored) allocates nothing and
// leaves the addresses null; levels 1 to 4 allocate the three blocks and initialise the state
// with QvDeflateInit. Any other level is QV_E_METHOD. When an allocation fails the result is
// QV_E_MEMORY and no further block is allocated; blocks already made stay in `buffers`.
// `allocate` exists so tests can make memory run short; callers leave it out.
[[nodiscard]] ResultCode AllocDeflateBuffers(uint16_t level, DeflateBuffers& buffers,
                                             DeflateBlockAllocator allocate = nullptr);

// The chain limit the member encoder passes to QvDeflate for levels 1 to 4.
inline constexpr uint16_t DeflateChainLimit(uint16_t level) {
    constexpr uint16_t kLimits[5] = {0, 8, 25, 55, 505};
    return level <= 4 ? kLimits[level] : 0;
}

}  // namespace qv
