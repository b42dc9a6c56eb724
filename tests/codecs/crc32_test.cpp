// CRC-32: the export's register contract, and every update path this CPU can run held against
// zlib's crc32 over many sizes, start alignments, start registers and splits of one stream.
#include "crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "qvarc32.h"
#include "test_support.h"

#ifdef QV_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

using qvtest::Bytes;

// The ZIP CRC-32 of a whole buffer through the export: start at all ones, complement at the end.
uint32_t ZipCrc(const void* data, uint32_t size) {
    return ~QvCrc32A(data, size, 0xFFFFFFFFu);
}

TEST(Crc32, CheckValuesAndRawRegister) {
    const char digits[] = "123456789";
    EXPECT_EQ(ZipCrc(digits, 9), 0xCBF43926u);
    EXPECT_EQ(ZipCrc(digits, 0), 0u);  // the empty stream
    // No complement on entry or exit: a zero length hands back whatever register it was given,
    // and one byte from a zero register is the table entry of that byte.
    for (uint32_t reg : {0u, 1u, 0xDEADBEEFu, 0xFFFFFFFFu})
        EXPECT_EQ(QvCrc32A(digits, 0, reg), reg);
    const uint8_t byte = 0x80;
    EXPECT_EQ(QvCrc32A(&byte, 1, 0), 0xEDB88320u);
    EXPECT_EQ(QvCrc32A(nullptr, 10, 0x1234u), 0x1234u);
}

TEST(Crc32, TableIsTheReflectedPolynomialTable) {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int i = 0; i < 8; ++i) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        ASSERT_EQ(qv::crc32::kCrcTable[n], c) << n;
    }
}

#ifdef QV_HAVE_ZLIB

// zlib's crc32 complements on entry and exit; the raw register is its complement.
uint32_t ZlibRaw(uint32_t reg, const uint8_t* p, size_t n) {
    return ~static_cast<uint32_t>(crc32(~reg & 0xFFFFFFFFu, p, static_cast<uInt>(n)));
}

TEST(Crc32, EveryPathMatchesZlibOverSizesAndAlignments) {
    const auto paths = qv::crc32::Crc32Paths();
    ASSERT_FALSE(paths.empty());
    EXPECT_STREQ(paths.front().name, "slice16");
    const Bytes data = qvtest::RandomBytes((1u << 20) + 300, 7);

    // Every size up to a little past the widest fold's minimum and round, then sizes around the
    // folds' block multiples; each at several start alignments and start registers.
    std::vector<size_t> sizes;
    for (size_t n = 0; n <= 1100; ++n) sizes.push_back(n);
    for (size_t base : {2048u, 4096u, 65520u, 65536u, 1u << 20}) {
        for (size_t d : {0u, 1u, 15u, 16u, 17u, 63u, 64u, 65u, 255u, 256u, 257u}) {
            sizes.push_back(base + d);
            sizes.push_back(base - d);
        }
    }
    const uint32_t registers[] = {0xFFFFFFFFu, 0u, 0x9A3C57E1u};
    for (const auto& path : paths) {
        SCOPED_TRACE(path.name);
        for (size_t size : sizes) {
            for (size_t align : {0u, 1u, 3u, 8u, 13u, 63u}) {
                if (align + size > data.size()) continue;
                const uint32_t reg = registers[(size + align) % 3];
                ASSERT_EQ(path.update(reg, data.data() + align, size),
                          ZlibRaw(reg, data.data() + align, size))
                    << "size " << size << " align " << align;
            }
        }
    }
}

TEST(Crc32, DataWithLongRunsMatchesZlib) {
    // Runs of zeros and ones stress the folds differently from random bytes.
    for (uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}}) {
        Bytes data(200000, fill);
        data[100] ^= 1;
        data[150001] ^= 0x80;
        for (const auto& path : qv::crc32::Crc32Paths()) {
            for (uint32_t reg : {0u, 0xFFFFFFFFu}) {
                EXPECT_EQ(path.update(reg, data.data(), data.size()),
                          ZlibRaw(reg, data.data(), data.size()))
                    << path.name;
            }
        }
    }
}

TEST(Crc32, PiecesGiveTheSameRegisterAsOneCall) {
    const Bytes data = qvtest::TextBytes(300000, 11);
    const uint32_t whole = ZlibRaw(0xFFFFFFFFu, data.data(), data.size());
    std::mt19937 gen(5);
    // Random splits, from pieces of a byte or two up to pieces of tens of kilobytes.
    for (uint32_t maxPiece : {3u, 70u, 600u, 5000u, 70000u}) {
        uint32_t reg = 0xFFFFFFFFu;
        size_t at = 0;
        while (at < data.size()) {
            const size_t piece = std::min<size_t>(data.size() - at, gen() % maxPiece + 1);
            reg = QvCrc32A(data.data() + at, static_cast<uint32_t>(piece), reg);
            at += piece;
        }
        EXPECT_EQ(reg, whole) << "pieces up to " << maxPiece;
    }
}

#endif  // QV_HAVE_ZLIB

TEST(Crc32, ReadsNothingPastTheBuffer) {
    // A buffer that ends exactly where its allocation ends (sanitizer builds catch an overread);
    // every length ending there, so each fold's tail handling meets the end.
    for (size_t size : {1u, 15u, 17u, 64u, 100u, 511u, 777u, 4099u}) {
        std::vector<uint8_t> exact(size);
        for (size_t i = 0; i < size; ++i) exact[i] = static_cast<uint8_t>(i * 7 + 1);
        uint32_t expected = 0xFFFFFFFFu;
        for (uint8_t b : exact) expected = qv::crc32::UpdateByte(expected, b);
        for (const auto& path : qv::crc32::Crc32Paths()) {
            EXPECT_EQ(path.update(0xFFFFFFFFu, exact.data(), size), expected)
                << path.name << " size " << size;
        }
    }
}

}  // namespace
