// Inflate throughput: our engine driven as the member decoder drives it (65520-byte input
// chunks, a fresh 65520-byte output area per call), zlib's raw inflate fed the same way, and
// libdeflate's whole-buffer decompressor. The input is the corpus compressed once by zlib at
// level 6. MB/s counts decompressed bytes.
//
// BM_InflateCompare times the three in turn on the same data (best of several rounds each, in
// thread CPU time, which other work on the machine disturbs least) and reports their MB/s and
// our ratios to both peers as counters.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <vector>

#include "bench_corpus.h"
#include "qvarc32.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kChunk = 65520;  // the member decoder's transfer buffers

struct Corpus {
    const Bytes* raw;
    Bytes packed;
};

const Corpus& Get(int which) {
    static std::map<int, Corpus> cache;
    auto it = cache.find(which);
    if (it != cache.end()) return it->second;
    const Bytes& raw = which == 0 ? qvbench::TextCorpus() : qvbench::BinaryCorpus();
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes packed(deflateBound(&z, raw.size()));
    z.next_in = const_cast<Bytes::value_type*>(raw.data());
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = packed.data();
    z.avail_out = static_cast<uInt>(packed.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    packed.resize(z.total_out);
    deflateEnd(&z);
    return cache.emplace(which, Corpus{&raw, std::move(packed)}).first->second;
}

// Our engine, as the member decoder runs it. Returns the bytes decoded.
size_t RunQv(const Corpus& c, Bytes& state, Bytes& area) {
    QvInflateUCInit(state.data());
    size_t remaining = c.packed.size(), at = 0, produced = 0;
    int32_t result = 0;
    while (result == 0) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(remaining, kChunk));
        const bool last = remaining <= kChunk;
        uint32_t offset = 0, untaken = chunk;
        do {
            uint32_t taken = untaken, written = kChunk;
            result = QvInflateUC(c.packed.data() + at, offset, &taken, area.data(), 0, &written,
                                 state.data(), last);
            benchmark::DoNotOptimize(area.data());
            produced += written;
            offset += taken;
            untaken -= taken;
        } while (untaken != 0 && result == 0);
        at += chunk;
        remaining -= chunk;
    }
    return produced;
}

// zlib's raw inflate with the same chunks and output areas.
size_t RunZlib(const Corpus& c, z_stream& z, Bytes& area) {
    inflateReset(&z);
    size_t remaining = c.packed.size(), at = 0, produced = 0;
    int r = Z_OK;
    while (r == Z_OK) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(remaining, kChunk));
        z.next_in = const_cast<Bytes::value_type*>(c.packed.data()) + at;
        z.avail_in = chunk;
        do {
            z.next_out = area.data();
            z.avail_out = kChunk;
            r = inflate(&z, Z_NO_FLUSH);
            benchmark::DoNotOptimize(area.data());
            produced += kChunk - z.avail_out;
        } while (r == Z_OK && (z.avail_in != 0 || z.avail_out == 0));
        at += chunk;
        remaining -= chunk;
        if (r == Z_BUF_ERROR && remaining != 0) r = Z_OK;
    }
    if (r != Z_STREAM_END) std::abort();
    return produced;
}

size_t RunLibdeflate(const Corpus& c, libdeflate_decompressor* d, Bytes& out) {
    size_t produced = 0;
    if (libdeflate_deflate_decompress(d, c.packed.data(), c.packed.size(), out.data(), out.size(),
                                      &produced) != LIBDEFLATE_SUCCESS) {
        std::abort();
    }
    return produced;
}

struct Decoders {
    Decoders() : state(QvInflateUCBufSize()), area(kChunk) {
        inflateInit2(&z, -15);
        ld = libdeflate_alloc_decompressor();
    }
    ~Decoders() {
        inflateEnd(&z);
        libdeflate_free_decompressor(ld);
    }
    Bytes state, area;
    z_stream z{};
    libdeflate_decompressor* ld;
};

enum Which { kQv, kZlib, kLibdeflate };

double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

size_t RunOne(Which w, const Corpus& c, Decoders& d, Bytes& whole) {
    switch (w) {
        case kQv:
            return RunQv(c, d.state, d.area);
        case kZlib:
            return RunZlib(c, d.z, d.area);
        default:
            return RunLibdeflate(c, d.ld, whole);
    }
}

void BM_Inflate(benchmark::State& st) {
    const Corpus& c = Get(static_cast<int>(st.range(0)));
    const Which w = static_cast<Which>(st.range(1));
    Decoders d;
    Bytes whole(c.raw->size());
    if (RunOne(w, c, d, whole) != c.raw->size()) std::abort();
    if (w == kQv) {  // the engine's output must match, checked once outside the timing
        Bytes out;
        QvInflateUCInit(d.state.data());
        uint32_t taken = static_cast<uint32_t>(c.packed.size());
        out.resize(c.raw->size() + 1);
        uint32_t written = static_cast<uint32_t>(out.size());
        QvInflateUC(c.packed.data(), 0, &taken, out.data(), 0, &written, d.state.data(), 1);
        out.resize(written);
        if (out != *c.raw) std::abort();
    }
    for (auto _ : st) benchmark::DoNotOptimize(RunOne(w, c, d, whole));
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * c.raw->size()));
    st.SetLabel(std::string(st.range(0) == 0 ? "text" : "binary") + ", " +
                std::to_string(c.raw->size() >> 20) + " MiB, ratio " +
                std::to_string(static_cast<double>(c.raw->size()) / c.packed.size()).substr(0, 4));
}

// The three in turn, best of `rounds` each, reported side by side.
void BM_InflateCompare(benchmark::State& st) {
    const Corpus& c = Get(static_cast<int>(st.range(0)));
    Decoders d;
    Bytes whole(c.raw->size());
    double best[3] = {1e30, 1e30, 1e30};
    for (auto _ : st) {
        for (int round = 0; round < 10; ++round) {
            for (int w = 0; w < 3; ++w) {
                const double t0 = ThreadSeconds();
                benchmark::DoNotOptimize(RunOne(static_cast<Which>(w), c, d, whole));
                best[w] = std::min(best[w], ThreadSeconds() - t0);
            }
        }
    }
    const double mb = c.raw->size() / 1e6;
    st.counters["qv_MBps"] = mb / best[kQv];
    st.counters["zlib_MBps"] = mb / best[kZlib];
    st.counters["libdeflate_MBps"] = mb / best[kLibdeflate];
    st.counters["qv_vs_zlib"] = best[kZlib] / best[kQv];
    st.counters["qv_vs_libdeflate"] = best[kLibdeflate] / best[kQv];
    st.SetLabel(st.range(0) == 0 ? "text" : "binary");
}

BENCHMARK(BM_Inflate)
    ->ArgsProduct({{0, 1}, {kQv, kZlib, kLibdeflate}})
    ->ArgNames({"corpus", "decoder"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateCompare)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"corpus"})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
