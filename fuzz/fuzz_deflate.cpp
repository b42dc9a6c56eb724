// Fuzzes the deflate engine. The first bytes choose the chain limit, the codes, how the rest is
// offered (input pieces, output areas, where the blocks start) and how often the rest is
// repeated (so that small inputs still wrap the window); the rest is the data. Every piece,
// area and block is a heap block of exactly its size, so any read or write past what a call is
// given shows under AddressSanitizer.
//
// Checked: every call keeps the protocol (0 only when the area is full or all input was taken
// with more to come; -1 only once all input was taken after the finish flag), the stream is
// the same bytes as from the whole input into one large area, and zlib inflates it back to
// the data.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "qvarc32.h"

#ifdef QV_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

struct Settings {
    uint32_t chainLimit;
    uint32_t dynamic;
    uint32_t inPiece;  // input bytes per call (the last may be shorter)
    uint32_t outArea;  // output space per call
    bool separateFinish;
    uint32_t misalign;  // blocks start this far into their allocations
};

struct Blocks {
    explicit Blocks(uint32_t misalign) : misalign_(misalign) {
        uint32_t sizes[3];
        QvDeflateBufSize(&sizes[0], &sizes[1], &sizes[2]);
        for (int i = 0; i < 3; ++i) {
            memory_[i].reset(new uint8_t[sizes[i] + misalign]);
            std::memset(memory_[i].get(), 0xA5, sizes[i] + misalign);
        }
        QvDeflateInit(at(0), at(1), at(2));
    }
    void* at(int i) { return memory_[i].get() + misalign_; }

private:
    uint32_t misalign_;
    std::unique_ptr<uint8_t[]> memory_[3];
};

// Compresses `data` as the settings say; false when the engine broke the protocol.
bool Compress(const std::vector<uint8_t>& data, const Settings& s, std::vector<uint8_t>& out) {
    Blocks blocks(s.misalign);
    size_t at = 0;
    for (size_t calls = 0;; ++calls) {
        if (calls > 4 * (data.size() + 1) + 100000) return false;  // never finishing
        const uint32_t offered =
            static_cast<uint32_t>(std::min<size_t>(s.inPiece, data.size() - at));
        const bool finish = at + offered == data.size() && (!s.separateFinish || offered == 0);
        std::unique_ptr<uint8_t[]> piece(new uint8_t[offered + 1]);
        if (offered) std::memcpy(piece.get(), data.data() + at, offered);
        std::unique_ptr<uint8_t[]> area(new uint8_t[s.outArea]);
        uint32_t inCount = offered, outCount = s.outArea;
        const int32_t r =
            QvDeflate(s.chainLimit, s.dynamic, piece.get(), 0, &inCount, area.get(), 0, &outCount,
                      finish ? 1 : 0, blocks.at(0), blocks.at(1), blocks.at(2));
        if (inCount > offered || outCount > s.outArea) return false;
        if (r == 0 && outCount != s.outArea && !(inCount == offered && !finish)) return false;
        if (r == -1 && !(finish && inCount == offered)) return false;
        if (r != 0 && r != -1) return false;
        out.insert(out.end(), area.get(), area.get() + outCount);
        at += inCount;
        if (r == -1) return true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < 8) return 0;
    Settings s;
    s.chainLimit = input[0] | (input[1] << 8);  // clamped by the engine
    s.dynamic = input[2] & 1;
    s.separateFinish = (input[2] & 2) != 0;
    s.misalign = (input[2] >> 2) & 7;
    s.inPiece = 1 + ((input[3] | (input[4] << 8)) % 65535);
    s.outArea = 1 + (input[5] | ((input[6] & 0x0F) << 8));
    const unsigned repeats = 1 + (input[6] >> 4);
    const unsigned copies = 1 + input[7] % 16;
    // Searches walking long chains are slow; keep the big limits for small data.
    const std::vector<uint8_t> unit(input + 8, input + size);
    std::vector<uint8_t> data;
    for (unsigned i = 0; i < repeats * copies && data.size() < 300000; ++i) {
        data.insert(data.end(), unit.begin(), unit.end());
        if (!data.empty() && i % 2 == 1) data[data.size() / 2] ^= static_cast<uint8_t>(i);
    }
    if ((s.chainLimit & 0xFFFF) > 600 && data.size() > 40000) s.chainLimit = 600;

    std::vector<uint8_t> chunked, whole;
    if (!Compress(data, s, chunked)) std::abort();
    Settings once = s;
    once.inPiece = 65535;
    once.outArea = static_cast<uint32_t>(data.size() + data.size() / 4 + 64);
    once.separateFinish = false;
    if (!Compress(data, once, whole)) std::abort();
    if (chunked != whole) std::abort();

#ifdef QV_HAVE_ZLIB
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) std::abort();
    std::vector<uint8_t> back(data.size() + 1);
    z.next_in = chunked.data();
    z.avail_in = static_cast<uInt>(chunked.size());
    z.next_out = back.data();
    z.avail_out = static_cast<uInt>(back.size());
    const int r = inflate(&z, Z_FINISH);
    const bool ok = r == Z_STREAM_END && z.total_out == data.size() && z.avail_in == 0 &&
                    std::equal(data.begin(), data.end(), back.begin());
    inflateEnd(&z);
    if (!ok) std::abort();
#endif
    return 0;
}
