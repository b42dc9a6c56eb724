// The on-disk records field by field, the private extra field and the level table.
#include "zip_records.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "private_extra.h"
#include "zip_bytes.h"

namespace {

// Fields of the packed host records are read by value: a reference to one may be misaligned.
template <typename T>
T Val(T value) {
    return value;
}

using readertest::Bytes;
using readertest::Get32;

uint16_t At16(const uint8_t* b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t At32(const uint8_t* b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

// Distinct values in every field show each one lands at its own offset, little-endian.
TEST(ZipRecords, CentralRecordFieldsAtTheirOffsets) {
    qv::CentralRecord r;
    r.versionMadeBy = 0x0314;
    r.versionNeeded = 0x0A0B;
    r.flags = 0x0C0D;
    r.method = 0x0E0F;
    r.time = 0x1011;
    r.date = 0x1213;
    r.crc = 0x14151617;
    r.compressedSize = 0x18191A1B;
    r.uncompressedSize = 0x1C1D1E1F;
    r.nameLength = 0x2021;
    r.extraLength = 0x2223;
    r.commentLength = 0x2425;
    r.diskStart = 0x2627;
    r.internalAttributes = 0x2829;
    r.externalAttributes = 0x2A2B2C2D;
    r.localHeaderOffset = 0x2E2F3031;
    uint8_t b[46];
    qv::EncodeCentralRecord(r, b);
    EXPECT_EQ(0, std::memcmp(b, "PK\x01\x02", 4));
    EXPECT_EQ(At16(b, 4), 0x0314);
    EXPECT_EQ(At16(b, 6), 0x0A0B);
    EXPECT_EQ(At16(b, 8), 0x0C0D);
    EXPECT_EQ(At16(b, 10), 0x0E0F);
    EXPECT_EQ(At16(b, 12), 0x1011);
    EXPECT_EQ(At16(b, 14), 0x1213);
    EXPECT_EQ(At32(b, 16), 0x14151617u);
    EXPECT_EQ(At32(b, 20), 0x18191A1Bu);
    EXPECT_EQ(At32(b, 24), 0x1C1D1E1Fu);
    EXPECT_EQ(At16(b, 28), 0x2021);
    EXPECT_EQ(At16(b, 30), 0x2223);
    EXPECT_EQ(At16(b, 32), 0x2425);
    EXPECT_EQ(At16(b, 34), 0x2627);
    EXPECT_EQ(At16(b, 36), 0x2829);
    EXPECT_EQ(At32(b, 38), 0x2A2B2C2Du);
    EXPECT_EQ(At32(b, 42), 0x2E2F3031u);
    EXPECT_EQ(b[38], 0x2D);  // low byte first

    // Decoding gives every field back; the packed host record carries the same values.
    const qv::CentralRecord back = qv::DecodeCentralRecord(b);
    uint8_t again[46];
    qv::EncodeCentralRecord(back, again);
    EXPECT_EQ(0, std::memcmp(b, again, 46));
    const DirectoryRecord d = qv::ToDirectoryRecord(back);
    if constexpr (std::endian::native == std::endian::little) {
        EXPECT_EQ(0, std::memcmp(&d, b, 46)) << "DirectoryRecord is the stored layout";
    }
    uint8_t fromHost[46];
    qv::EncodeCentralRecord(qv::FromDirectoryRecord(d), fromHost);
    EXPECT_EQ(0, std::memcmp(fromHost, b, 46));
}

TEST(ZipRecords, LocalAndEndRecords) {
    qv::LocalHeader h;
    h.versionNeeded = 20;
    h.flags = 0x0009;
    h.method = 8;
    h.time = 0x2083;
    h.date = 0x2A43;
    h.crc = 0x6E815DA5;
    h.compressedSize = 27;
    h.uncompressedSize = 15;
    h.nameLength = 9;
    h.extraLength = 14;
    uint8_t b[30];
    qv::EncodeLocalHeader(h, b);
    EXPECT_EQ(0, std::memcmp(b, "PK\x03\x04", 4));
    EXPECT_EQ(At16(b, 4), 20);
    EXPECT_EQ(At16(b, 6), 9);
    EXPECT_EQ(At16(b, 8), 8);
    EXPECT_EQ(At16(b, 10), 0x2083);
    EXPECT_EQ(At16(b, 12), 0x2A43);
    EXPECT_EQ(At32(b, 14), 0x6E815DA5u);
    EXPECT_EQ(At32(b, 18), 27u);
    EXPECT_EQ(At32(b, 22), 15u);
    EXPECT_EQ(At16(b, 26), 9);
    EXPECT_EQ(At16(b, 28), 14);
    const qv::LocalHeader back = qv::DecodeLocalHeader(b);
    EXPECT_EQ(back.crc, h.crc);
    EXPECT_EQ(Val(back.extraLength), 14);

    qv::EndRecord e;
    e.diskNumber = 2;
    e.directoryDisk = 1;
    e.entriesOnDisk = 3;
    e.entriesTotal = 7;
    e.directorySize = 0x01020304;
    e.directoryOffset = 0x05060708;
    e.commentLength = 45;
    uint8_t eb[22];
    qv::EncodeEndRecord(e, eb);
    EXPECT_EQ(0, std::memcmp(eb, "PK\x05\x06", 4));
    EXPECT_EQ(At16(eb, 4), 2);
    EXPECT_EQ(At16(eb, 6), 1);
    EXPECT_EQ(At16(eb, 8), 3);
    EXPECT_EQ(At16(eb, 10), 7);
    EXPECT_EQ(At32(eb, 12), 0x01020304u);
    EXPECT_EQ(At32(eb, 16), 0x05060708u);
    EXPECT_EQ(At16(eb, 20), 45);
    EXPECT_EQ(qv::DecodeEndRecord(eb).directoryOffset, 0x05060708u);

    uint8_t filler[16];
    qv::EncodeFillerRecord(filler);
    EXPECT_EQ(0, std::memcmp(filler, "PK\x07\x08_FILLER12345", 16));
}

// The public layouts convert field by field between the packed and the aligned form.
TEST(ZipRecords, VisualBasicLayoutConversion) {
    DirectoryRecord d{};
    d.signature = 0x02014B50;
    d.versionMadeBy = 1, d.versionNeeded = 2, d.flags = 3, d.method = 4, d.time = 5, d.date = 6;
    d.crc32 = 7, d.compressedSize = 8, d.uncompressedSize = 9;
    d.nameLength = 10, d.extraLength = 11, d.commentLength = 12, d.diskStart = 13;
    d.internalAttributes = 14, d.externalAttributes = 15, d.localHeaderOffset = 16;
    const DirectoryRecordVB v = qv::ToDirectoryRecordVB(d);
    EXPECT_EQ(Val(v.crc32), 7u);
    EXPECT_EQ(Val(v.externalAttributes), 15u);
    EXPECT_EQ(Val(v.localHeaderOffset), 16u);
    EXPECT_EQ(Val(v.versionMadeBy), 1);
    EXPECT_EQ(Val(v.internalAttributes), 14);
    const DirectoryRecord back = qv::FromDirectoryRecordVB(v);
    EXPECT_EQ(0, std::memcmp(&back, &d, sizeof d));
}

TEST(ZipRecords, ValuesByLevelCode) {
    struct {
        int level;
        uint16_t method, version, flags;
    } cases[] = {{0, 0, 10, 0},  {1, 8, 20, 6}, {2, 8, 20, 4},  {3, 8, 20, 0},  {4, 8, 20, 2},
                 {5, 10, 80, 0}, {6, 6, 11, 0}, {7, 11, 80, 0}, {8, 12, 80, 0}, {9, 1, 10, 0}};
    for (const auto& c : cases) {
        qv::LevelValues v;
        ASSERT_EQ(qv::ValuesForLevel(c.level, &v), QV_OK) << c.level;
        EXPECT_EQ(Val(v.method), c.method) << c.level;
        EXPECT_EQ(Val(v.versionNeeded), c.version) << c.level;
        EXPECT_EQ(Val(v.flags), c.flags) << c.level;
    }
    qv::LevelValues v;
    EXPECT_EQ(qv::ValuesForLevel(10, &v), QV_E_METHOD);
    EXPECT_EQ(qv::ValuesForLevel(-1, &v), QV_E_METHOD);
}

TEST(PrivateExtra, VersionBlockBytes) {
    const std::string block = qv::MakeVersionBlock({0x00050001, 0x000A0002});
    // "QW", data size 10, "VX", then each half most significant byte first.
    const std::string expected("QW\x0A\x00VX\x00\x05\x00\x01\x00\x0A\x00\x02", 14);
    EXPECT_EQ(block, expected);
    const auto version = qv::FindFileVersion(block);
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->mostSignificant, 0x00050001u);
    EXPECT_EQ(version->leastSignificant, 0x000A0002u);
}

TEST(PrivateExtra, LongNameBlocks) {
    const auto block = qv::MakeLongNameBlock("Long Directory/A long file name.txt");
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(block->substr(0, 6), std::string("QW\x25\x00Vx", 6));
    EXPECT_EQ(qv::FindLongName(*block).value_or("?"), "Long Directory/A long file name.txt");

    using readertest::LongNameBlock;
    using readertest::OtherBlock;
    struct {
        const char* what;
        std::string field;
        const char* expected;  // null: no long name
    } cases[] = {
        {"after a version block", qv::MakeVersionBlock({1, 2}) + LongNameBlock("long name.txt"),
         "long name.txt"},
        {"after another tool's block",
         OtherBlock(0x5455, "\x03\x01\x02\x03\x04") + LongNameBlock("x y"), "x y"},
        {"first of two", LongNameBlock("first") + LongNameBlock("second"), "first"},
        {"a QW block of another sub-tag is skipped", qv::MakeVersionBlock({0, 0}), nullptr},
        {"a Vx tag under another ID", OtherBlock(0x1234, "Vxname"), nullptr},
        // A block that claims more bytes than remain ends the walk.
        {"truncated block", LongNameBlock("abcdef").substr(0, 8), nullptr},
        {"bogus size before the name",
         OtherBlock(0x5455, "abc").substr(0, 2) + "\xFF\xFF" + LongNameBlock("n"), nullptr},
        // Fewer than 7 bytes left: the walk stops even though a 6-byte block would fit.
        {"empty name at the end", LongNameBlock(""), nullptr},
        {"empty field", "", nullptr},
    };
    for (const auto& c : cases) {
        const auto name = qv::FindLongName(c.field);
        if (c.expected == nullptr)
            EXPECT_FALSE(name.has_value()) << c.what;
        else
            EXPECT_EQ(name.value_or("<none>"), c.expected) << c.what;
    }
    EXPECT_FALSE(qv::MakeLongNameBlock(std::string(65534, 'a')).has_value());
    EXPECT_TRUE(qv::MakeLongNameBlock(std::string(65533, 'a')).has_value());
}

}  // namespace
