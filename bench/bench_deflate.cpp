// Deflate throughput and size: our engine at chain limits 8, 25, 55 and 505 (levels 1 to 4)
// driven as the member encoder drives it (65520-byte input chunks, a 65520-byte output buffer
// offered less 16 bytes and emptied once it holds 65420 bytes, dynamic codes), zlib's raw
// deflate at levels 1, 6 and 9 fed the same way, and libdeflate at levels 1, 6 and 9 on the
// whole buffer. MB/s counts input bytes.
//
// BM_Deflate times one coder per run and reports its compressed size. BM_DeflateCompare times
// them all in turn for five rounds, in thread CPU time, and reports MB/s (best round), sizes and
// our ratios to the peers (median of the rounds' ratios, so that other work on a shared machine
// disturbs them less):
// qv55_vs_zlib6 and qv8_vs_zlib1 are throughput ratios (higher is faster), the *_size ratios
// are our compressed size over the peer's (lower is smaller).
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "qvarc32.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kChunk = 65520;     // the member encoder's transfer buffers
constexpr uint32_t kOutSlack = 16;     // it offers the output buffer's free space less 16
constexpr uint32_t kOutFlush = 65420;  // and writes the buffer out once it holds this much

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

const Bytes& Corpus(int which) {
    return which == 0 ? qvbench::TextCorpus() : qvbench::BinaryCorpus();
}

struct Coder {
    const char* name;
    enum Kind { kQv, kZlib, kLibdeflate } kind;
    int level;  // chain limit for ours
};

constexpr Coder kCoders[] = {
    {"qv8", Coder::kQv, 8},
    {"qv25", Coder::kQv, 25},
    {"qv55", Coder::kQv, 55},
    {"qv505", Coder::kQv, 505},
    {"zlib1", Coder::kZlib, 1},
    {"zlib6", Coder::kZlib, 6},
    {"zlib9", Coder::kZlib, 9},
    {"libdeflate1", Coder::kLibdeflate, 1},
    {"libdeflate6", Coder::kLibdeflate, 6},
    {"libdeflate9", Coder::kLibdeflate, 9},
};
constexpr int kCoderCount = static_cast<int>(std::size(kCoders));

struct Work {
    Work() : area(kChunk) {
        uint32_t s = 0, l = 0, i = 0;
        QvDeflateBufSize(&s, &l, &i);
        state.resize(s);
        links.resize(l);
        items.resize(i);
    }
    Bytes state, links, items, area, whole;
    size_t sink = 0;  // stands for the body file
};

// Our engine as the member encoder runs it. Returns the compressed size.
size_t RunQv(const Bytes& in, int limit, Work& w) {
    QvDeflateInit(w.state.data(), w.links.data(), w.items.data());
    size_t packed = 0, at = 0;
    uint32_t fill = 0;
    bool last = in.size() < kChunk, done = false;
    while (!done) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(kChunk, in.size() - at));
        uint32_t offset = 0;
        do {
            uint32_t taken = chunk - offset, produced = kChunk - fill - kOutSlack;
            done = QvDeflate(static_cast<uint32_t>(limit), 1, in.data() + at, offset, &taken,
                             w.area.data(), fill, &produced, last, w.state.data(), w.links.data(),
                             w.items.data()) == -1;
            offset += taken;
            fill += produced;
            packed += produced;
            if (done || fill >= kOutFlush) {
                benchmark::DoNotOptimize(w.sink += w.area[0] + fill);
                fill = 0;
            }
        } while (!done && offset < chunk);
        at += chunk;
        last = in.size() - at <= kChunk;
    }
    return packed;
}

// zlib's raw deflate with the same chunks and output buffer.
size_t RunZlib(const Bytes& in, int level, Work& w) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
    size_t packed = 0, at = 0;
    int r = Z_OK;
    while (r != Z_STREAM_END) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(kChunk, in.size() - at));
        z.next_in = const_cast<uint8_t*>(in.data()) + at;
        z.avail_in = chunk;
        at += chunk;
        const int flush = at == in.size() ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = w.area.data();
            z.avail_out = kChunk;
            r = deflate(&z, flush);
            packed += kChunk - z.avail_out;
            benchmark::DoNotOptimize(w.sink += w.area[0]);
        } while (z.avail_out == 0 || (flush == Z_FINISH && r != Z_STREAM_END));
    }
    deflateEnd(&z);
    return packed;
}

size_t RunLibdeflate(const Bytes& in, int level, Work& w) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    if (w.whole.size() < libdeflate_deflate_compress_bound(c, in.size()))
        w.whole.resize(libdeflate_deflate_compress_bound(c, in.size()));
    const size_t packed =
        libdeflate_deflate_compress(c, in.data(), in.size(), w.whole.data(), w.whole.size());
    libdeflate_free_compressor(c);
    if (packed == 0) std::abort();
    return packed;
}

size_t Run(const Coder& c, const Bytes& in, Work& w) {
    switch (c.kind) {
        case Coder::kQv:
            return RunQv(in, c.level, w);
        case Coder::kZlib:
            return RunZlib(in, c.level, w);
        default:
            return RunLibdeflate(in, c.level, w);
    }
}

// Our streams must inflate back to the corpus; checked once, outside the timing.
void CheckQv(const Bytes& in, int limit, Work& w) {
    QvDeflateInit(w.state.data(), w.links.data(), w.items.data());
    Bytes packed(in.size() + in.size() / 8 + 1024);
    uint32_t taken = 0, produced = 0;
    size_t at = 0, out = 0;
    int32_t r = 0;
    while (r == 0) {
        taken = static_cast<uint32_t>(std::min<size_t>(kChunk, in.size() - at));
        produced = static_cast<uint32_t>(packed.size() - out);
        r = QvDeflate(static_cast<uint32_t>(limit), 1, in.data(), static_cast<uint32_t>(at), &taken,
                      packed.data(), static_cast<uint32_t>(out), &produced, at + taken == in.size(),
                      w.state.data(), w.links.data(), w.items.data());
        at += taken;
        out += produced;
    }
    Bytes back(in.size());
    uLongf backSize = back.size();
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = packed.data();
    z.avail_in = static_cast<uInt>(out);
    z.next_out = back.data();
    z.avail_out = static_cast<uInt>(backSize);
    if (inflate(&z, Z_FINISH) != Z_STREAM_END || z.total_out != in.size() || back != in)
        std::abort();
    inflateEnd(&z);
}

void BM_Deflate(benchmark::State& st) {
    const Bytes& in = Corpus(static_cast<int>(st.range(0)));
    const Coder& c = kCoders[st.range(1)];
    Work w;
    if (c.kind == Coder::kQv) CheckQv(in, c.level, w);
    size_t packed = 0;
    for (auto _ : st) benchmark::DoNotOptimize(packed = Run(c, in, w));
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * in.size()));
    st.counters["size"] = static_cast<double>(packed);
    st.counters["ratio"] = static_cast<double>(in.size()) / static_cast<double>(packed);
    st.SetLabel(std::string(st.range(0) == 0 ? "text " : "binary ") + c.name);
}

void BM_DeflateCompare(benchmark::State& st) {
    const Bytes& in = Corpus(static_cast<int>(st.range(0)));
    Work w;
    constexpr int kRounds = 5;
    double best[kCoderCount];
    double times[kRounds][kCoderCount];
    size_t size[kCoderCount] = {};
    std::fill(std::begin(best), std::end(best), 1e30);
    for (auto _ : st) {
        for (int round = 0; round < kRounds; ++round) {
            for (int i = 0; i < kCoderCount; ++i) {
                const double t0 = ThreadSeconds();
                size[i] = Run(kCoders[i], in, w);
                times[round][i] = ThreadSeconds() - t0;
                best[i] = std::min(best[i], times[round][i]);
            }
        }
    }
    const double mb = static_cast<double>(in.size()) / 1e6;
    auto index = [](const char* name) {
        for (int i = 0; i < kCoderCount; ++i)
            if (std::string(kCoders[i].name) == name) return i;
        std::abort();
    };
    for (int i = 0; i < kCoderCount; ++i) {
        st.counters[std::string(kCoders[i].name) + "_MBps"] = mb / best[i];
        st.counters[std::string(kCoders[i].name) + "_size"] = static_cast<double>(size[i]);
    }
    // Throughput ratios: the median over rounds of the ratio within each round, whose coders
    // ran one after the other, so that a shared machine's changing speed cancels out.
    auto speed = [&](const char* ours, const char* peer) {
        double ratios[kRounds];
        for (int r = 0; r < kRounds; ++r) ratios[r] = times[r][index(peer)] / times[r][index(ours)];
        std::sort(std::begin(ratios), std::end(ratios));
        return ratios[kRounds / 2];
    };
    auto sizeRatio = [&](const char* ours, const char* peer) {
        return static_cast<double>(size[index(ours)]) / static_cast<double>(size[index(peer)]);
    };
    st.counters["qv55_vs_zlib6"] = speed("qv55", "zlib6");
    st.counters["qv8_vs_zlib1"] = speed("qv8", "zlib1");
    st.counters["qv505_vs_zlib9"] = speed("qv505", "zlib9");
    st.counters["qv55_vs_libdeflate6"] = speed("qv55", "libdeflate6");
    st.counters["qv8_vs_libdeflate1"] = speed("qv8", "libdeflate1");
    st.counters["qv55_size_vs_zlib6"] = sizeRatio("qv55", "zlib6");
    st.counters["qv8_size_vs_zlib1"] = sizeRatio("qv8", "zlib1");
    st.counters["qv505_size_vs_zlib9"] = sizeRatio("qv505", "zlib9");
    st.counters["qv55_size_vs_libdeflate6"] = sizeRatio("qv55", "libdeflate6");
    st.SetLabel(st.range(0) == 0 ? "text" : "binary");
}

BENCHMARK(BM_Deflate)
    ->ArgsProduct({{0, 1}, benchmark::CreateDenseRange(0, kCoderCount - 1, 1)})
    ->ArgNames({"corpus", "coder"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeflateCompare)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"corpus"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
