// cpu_paths.h - the ways of doing one job that this CPU can run, found once at start-up.
//
// A kernel with wide-vector builds (the CRC folds, the deflate scrub) lists its paths from the
// portable one up to the fastest the CPU has; the library runs the last, and tests hold every
// path against the portable one.
#pragma once

#include <cstddef>
#include <span>

namespace qv {

template <class Path, size_t kMost>
class CpuPaths {
public:
    void Add(const Path& path) {
        if (count_ < kMost) paths_[count_++] = path;
    }
    std::span<const Path> All() const { return {paths_, count_}; }
    // The fastest path found: the last added (the portable one when nothing else was).
    const Path& Chosen() const { return paths_[count_ - 1]; }

private:
    Path paths_[kMost];
    size_t count_ = 0;
};

}  // namespace qv
