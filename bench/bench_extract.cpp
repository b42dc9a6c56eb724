// Extraction of a large archive: Qv4QUnZip ("-d -o") against Info-ZIP's "unzip -o -q", each
// into a fresh folder, on the same archive of text and binary files (448 MB) made once
// by "zip -6". Wall-clock time, best of several rounds each; the counters give both times and
// our share of unzip's time (the target is at most 0.6).
//
// The heap is watched as well: the largest amount of memory live at once during one of our
// extractions, which must not grow with the members' sizes.
//
// The archive and its source files are kept in $TMPDIR/qvarc-bench-extract between runs.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include "bench_corpus.h"
#include "qvarc32.h"

// ---- Heap watch --------------------------------------------------------------------------------
namespace {
std::atomic<size_t> gLive{0}, gPeak{0};
std::atomic<bool> gWatch{false};
}  // namespace

// The counting allocator stays out of line, so that no caller's inlined view mixes it up
// with the C allocator it is built on.
__attribute__((noinline)) void* operator new(size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (!p) throw std::bad_alloc();
    const size_t live = gLive.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    if (gWatch.load(std::memory_order_relaxed)) {
        size_t peak = gPeak.load();
        while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
        }
    }
    return p;
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}
__attribute__((noinline)) void operator delete(void* p) noexcept {
    if (!p) return;
    gLive.fetch_sub(malloc_usable_size(p));
    std::free(p);
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, size_t) noexcept {
    operator delete(p);
}

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path WorkDir() {
    const char* tmp = std::getenv("TMPDIR");
    return fs::path(tmp && *tmp ? tmp : "/tmp") / "qvarc-bench-extract";
}

void WriteSlice(const fs::path& path, const std::vector<uint8_t>& corpus, size_t start,
                size_t size) {
    std::ofstream out(path, std::ios::binary);
    for (size_t done = 0; done < size;) {
        const size_t at = (start + done) % corpus.size();
        const size_t n = std::min(size - done, corpus.size() - at);
        out.write(reinterpret_cast<const char*>(corpus.data() + at),
                  static_cast<std::streamsize>(n));
        done += n;
    }
}

// The archive: 40 text and 40 binary files of 4 MB, each a different slice of its corpus,
// and one 64 MB file of each kind, compressed by Info-ZIP zip at level 6.
std::string Archive() {
    const fs::path dir = WorkDir();
    const fs::path archive = dir / "large.zip";
    if (fs::exists(archive)) return archive.string();
    const fs::path source = dir / "source";
    fs::create_directories(source / "text");
    fs::create_directories(source / "binary");
    const auto& text = qvbench::TextCorpus();
    const auto& binary = qvbench::BinaryCorpus();
    constexpr size_t kFile = 4u << 20;
    for (int i = 0; i < 40; ++i) {
        WriteSlice(source / "text" / ("part" + std::to_string(i) + ".txt"), text,
                   static_cast<size_t>(i) * 777777, kFile);
        WriteSlice(source / "binary" / ("part" + std::to_string(i) + ".bin"), binary,
                   static_cast<size_t>(i) * 999999, kFile);
    }
    WriteSlice(source / "text" / "large.txt", text, 12345, 64u << 20);
    WriteSlice(source / "binary" / "large.bin", binary, 54321, 64u << 20);
    const std::string command = "cd '" + source.string() + "' && zip -q -r -6 '" +
                                (dir / "large.tmp").string() + "' . && mv '" +
                                (dir / "large.tmp").string() + "' '" + archive.string() + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the archive (is zip installed?)\n");
        std::abort();
    }
    return archive.string();
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void BM_ExtractLargeArchive(benchmark::State& state) {
    const std::string archive = Archive();
    const fs::path out = WorkDir() / "out";
    const uint64_t archiveBytes = fs::file_size(archive);
    double bestQv = 1e300, bestUnzip = 1e300;
    size_t peak = 0;
    for (auto _ : state) {
        for (int round = 0; round < 3; ++round) {
            fs::remove_all(out);
            const size_t before = gLive.load();
            gPeak = before;
            gWatch = true;
            auto t0 = Clock::now();
            const ResultCode r = Qv4QUnZip(archive.c_str(), out.string().c_str(), "*", "-d -o");
            auto t1 = Clock::now();
            gWatch = false;
            if (r != QV_OK) state.SkipWithError("Qv4QUnZip failed");
            bestQv = std::min(bestQv, Seconds(t1 - t0));
            peak = std::max(peak, gPeak.load() - before);

            fs::remove_all(out);
            const std::string unzip = "unzip -o -q '" + archive + "' -d '" + out.string() + "'";
            t0 = Clock::now();
            if (std::system(unzip.c_str()) != 0) state.SkipWithError("unzip failed");
            t1 = Clock::now();
            bestUnzip = std::min(bestUnzip, Seconds(t1 - t0));
        }
    }
    fs::remove_all(out);
    state.counters["archive_MB"] = static_cast<double>(archiveBytes) / 1e6;
    state.counters["qv_s"] = bestQv;
    state.counters["unzip_s"] = bestUnzip;
    state.counters["qv/unzip"] = bestQv / bestUnzip;
    state.counters["qv_peak_heap_KB"] = static_cast<double>(peak) / 1024.0;
}
BENCHMARK(BM_ExtractLargeArchive)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
