// CRC-32 throughput: our export QvCrc32A (and each update path this CPU can run), zlib's crc32
// and libdeflate's libdeflate_crc32 over the text corpus. GB/s counts input bytes.
//
// Three shapes of work: the whole 32 MiB corpus in one call (streams from memory), the corpus in
// 65520-byte calls (as the member decoder and encoder run it), and one 65520-byte piece again and
// again (in cache: the arithmetic alone). BM_Crc32Compare times the three peers in turn on each
// shape (best of several rounds) and reports their GB/s and our ratios to both.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "crc32.h"
#include "qvarc32.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kChunk = 65520;  // the member decoder's transfer buffers

enum Shape { kWhole, kChunked, kInCache };
const char* const kShapeNames[] = {"whole corpus", "65520-byte calls", "one 65520-byte piece"};

// The raw register update of each peer (zlib and libdeflate complement inside).
using Update = uint32_t (*)(uint32_t, const uint8_t*, size_t);

uint32_t Ours(uint32_t reg, const uint8_t* p, size_t n) {
    return QvCrc32A(p, static_cast<uint32_t>(n), reg);
}
uint32_t Zlib(uint32_t reg, const uint8_t* p, size_t n) {
    return ~static_cast<uint32_t>(crc32(~reg, p, static_cast<uInt>(n)));
}
uint32_t Libdeflate(uint32_t reg, const uint8_t* p, size_t n) {
    return ~libdeflate_crc32(~reg, p, n);
}

// Runs one shape; returns the register and adds the bytes covered to *bytes.
uint32_t Run(Update update, Shape shape, const Bytes& corpus, size_t* bytes) {
    uint32_t reg = 0xFFFFFFFFu;
    switch (shape) {
        case kWhole:
            reg = update(reg, corpus.data(), corpus.size());
            *bytes += corpus.size();
            break;
        case kChunked:
            for (size_t at = 0; at < corpus.size(); at += kChunk) {
                reg = update(reg, corpus.data() + at, std::min(kChunk, corpus.size() - at));
            }
            *bytes += corpus.size();
            break;
        case kInCache:
            for (int i = 0; i < 256; ++i) reg = update(reg, corpus.data(), kChunk);
            *bytes += 256 * kChunk;
            break;
    }
    return reg;
}

// Every implementation timed on its own: our export, zlib, libdeflate, then our internal paths.
struct Candidate {
    std::string name;
    Update update;
};

std::vector<Candidate> Candidates() {
    std::vector<Candidate> all = {{"QvCrc32A", Ours}, {"zlib", Zlib}, {"libdeflate", Libdeflate}};
    for (const auto& path : qv::crc32::Crc32Paths()) all.push_back({path.name, path.update});
    return all;
}

void CheckAgreement(const Bytes& corpus) {
    static bool checked = false;
    if (checked) return;
    for (Shape shape : {kWhole, kChunked, kInCache}) {
        size_t ignored = 0;
        const uint32_t expected = Run(Zlib, shape, corpus, &ignored);
        for (const Candidate& c : Candidates()) {
            if (Run(c.update, shape, corpus, &ignored) != expected) std::abort();
        }
    }
    checked = true;
}

void BM_Crc32(benchmark::State& st) {
    const Bytes& corpus = qvbench::TextCorpus();
    CheckAgreement(corpus);
    const auto candidates = Candidates();
    const Candidate& c = candidates.at(static_cast<size_t>(st.range(1)));
    const Shape shape = static_cast<Shape>(st.range(0));
    size_t bytes = 0;
    for (auto _ : st) benchmark::DoNotOptimize(Run(c.update, shape, corpus, &bytes));
    st.SetBytesProcessed(static_cast<int64_t>(bytes));
    st.SetLabel(c.name + ", " + kShapeNames[shape]);
}

void BM_Crc32Compare(benchmark::State& st) {
    const Bytes& corpus = qvbench::TextCorpus();
    CheckAgreement(corpus);
    const Shape shape = static_cast<Shape>(st.range(0));
    const Update peers[3] = {Ours, Zlib, Libdeflate};
    double best[3] = {1e30, 1e30, 1e30};
    size_t perRun = 0;
    for (auto _ : st) {
        for (int round = 0; round < 15; ++round) {
            for (int w = 0; w < 3; ++w) {
                size_t bytes = 0;
                const auto t0 = std::chrono::steady_clock::now();
                benchmark::DoNotOptimize(Run(peers[w], shape, corpus, &bytes));
                const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
                best[w] = std::min(best[w], dt.count());
                perRun = bytes;
            }
        }
    }
    const double gb = static_cast<double>(perRun) / 1e9;
    st.counters["qv_GBps"] = gb / best[0];
    st.counters["zlib_GBps"] = gb / best[1];
    st.counters["libdeflate_GBps"] = gb / best[2];
    st.counters["qv_vs_zlib"] = best[1] / best[0];
    st.counters["qv_vs_libdeflate"] = best[2] / best[0];
    st.SetLabel(std::string(kShapeNames[shape]) + ", path " + qv::crc32::Crc32Paths().back().name);
}

void CandidateArgs(benchmark::internal::Benchmark* b) {
    const auto count = static_cast<int64_t>(Candidates().size());
    for (int64_t shape : {kWhole, kChunked, kInCache}) {
        for (int64_t i = 0; i < count; ++i) b->Args({shape, i});
    }
}

BENCHMARK(BM_Crc32)
    ->Apply(CandidateArgs)
    ->ArgNames({"shape", "impl"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32Compare)
    ->DenseRange(kWhole, kInCache)
    ->ArgNames({"shape"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
