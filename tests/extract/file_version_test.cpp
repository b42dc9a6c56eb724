// File versions: the version block of a member's extra field, and the version resource of a
// PE image read straight from the file.
#include "file_version.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using qvtest::Bytes;

void Put16(Bytes& b, size_t at, uint32_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// A minimal image: DOS header, PE header, one ".rsrc" section holding a version resource
// (type 16, name 1, language 0x409) whose block has the wide key of 32-bit images.
Bytes MakeImage(bool pe32Plus, uint32_t versionMs, uint32_t versionLs, uint32_t type = 16) {
    Bytes b(0x200, 0);
    b[0] = 'M', b[1] = 'Z';
    Put32(b, 0x3C, 0x40);
    Put32(b, 0x40, 0x00004550);  // "PE\0\0"
    const uint32_t coff = 0x44;
    const uint16_t optionalSize = pe32Plus ? 240 : 224;
    Put16(b, coff, pe32Plus ? 0x8664 : 0x14C);
    Put16(b, coff + 2, 1);  // one section
    Put16(b, coff + 16, optionalSize);
    const uint32_t opt = coff + 20;
    Put16(b, opt, pe32Plus ? 0x20B : 0x10B);
    const uint32_t dirs = pe32Plus ? 112 : 96;
    Put32(b, opt + dirs - 4, 16);  // NumberOfRvaAndSizes
    Put32(b, opt + dirs + 16, 0x1000);
    Put32(b, opt + dirs + 20, 0x100);
    const uint32_t section = opt + optionalSize;
    const char name[8] = {'.', 'r', 's', 'r', 'c'};
    for (int i = 0; i < 8; ++i) b[section + i] = static_cast<uint8_t>(name[i]);
    Put32(b, section + 8, 0x100);    // virtual size
    Put32(b, section + 12, 0x1000);  // virtual address
    Put32(b, section + 16, 0x100);   // raw size
    Put32(b, section + 20, 0x200);   // raw offset

    Bytes r(0x100, 0);
    Put16(r, 14, 1);  // root: one id entry
    Put32(r, 16, type);
    Put32(r, 20, 0x80000000u | 0x18);
    Put16(r, 0x18 + 14, 1);  // names
    Put32(r, 0x18 + 16, 1);
    Put32(r, 0x18 + 20, 0x80000000u | 0x30);
    Put16(r, 0x30 + 14, 1);  // languages
    Put32(r, 0x30 + 16, 0x409);
    Put32(r, 0x30 + 20, 0x48);
    Put32(r, 0x48, 0x1000 + 0x58);  // data entry: RVA and size
    Put32(r, 0x4C, 92);
    const uint32_t v = 0x58;
    Put16(r, v, 92);
    Put16(r, v + 2, 52);
    const std::string key = "VS_VERSION_INFO";
    for (size_t i = 0; i < key.size(); ++i) Put16(r, v + 6 + 2 * i, key[i]);
    Put32(r, v + 40, 0xFEEF04BD);
    Put32(r, v + 44, 0x00010000);
    Put32(r, v + 48, versionMs);
    Put32(r, v + 52, versionLs);
    b.insert(b.end(), r.begin(), r.end());
    return b;
}

TEST(FileVersion, ReadFromTheVersionResourceOfPeImages) {
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const Bytes image = MakeImage(plus, 0x00050002, 0x0003000A);  // 5.2.3.10
        uint8_t out[8] = {};
        ASSERT_EQ(qv::ReadImageVersion(image.data(), image.size(), out).code, QV_OK);
        const uint8_t expected[8] = {0, 5, 0, 2, 0, 3, 0, 10};
        EXPECT_EQ(Bytes(out, out + 8), Bytes(expected, expected + 8));

        qvtest::ScratchDir dir;
        qvtest::WriteFile(dir.file("prog.exe"), image);
        uint8_t fromFile[8] = {};
        ASSERT_EQ(qv::ReadFileVersion(dir.file("prog.exe"), fromFile).code, QV_OK);
        EXPECT_EQ(Bytes(fromFile, fromFile + 8), Bytes(expected, expected + 8));
    }
}

TEST(FileVersion, FilesWithoutAVersionAreRefusedNeverOverrun) {
    uint8_t out[8];
    // Any cut of a good image before the end of its version block, no version resource at
    // all, or not an image.
    const Bytes image = MakeImage(false, 1, 2);
    const size_t versionBlockEnd = 0x200 + 0x58 + 92;
    for (size_t size = 0; size < versionBlockEnd; ++size)
        EXPECT_EQ(qv::ReadImageVersion(image.data(), size, out).code, QV_E_ACCESS_MODE) << size;
    const Bytes noVersion = MakeImage(false, 1, 2, /*type=*/3);
    EXPECT_EQ(qv::ReadImageVersion(noVersion.data(), noVersion.size(), out).code, QV_E_ACCESS_MODE);
    // Offsets that point anywhere: every byte of the headers flipped in turn.
    for (size_t at = 0; at < image.size(); ++at) {
        Bytes bent = image;
        bent[at] ^= 0xFF;
        const qv::Result r = qv::ReadImageVersion(bent.data(), bent.size(), out);
        EXPECT_TRUE(r.code == QV_OK || r.code == QV_E_ACCESS_MODE);
    }

    qvtest::ScratchDir dir;
    qvtest::WriteFile(dir.file("text.txt"), std::string("not a program at all"));
    EXPECT_EQ(qv::ReadFileVersion(dir.file("text.txt"), out).code, QV_E_ACCESS_MODE);
    EXPECT_EQ(qv::ReadFileVersion(dir.file("missing.dll"), out).code, QV_E_ACCESS_MODE);
    EXPECT_EQ(qv::ReadFileVersion("", out).code, QV_E_BAD_NAME);
}

TEST(FindVersionExtra, FindsTheFirstVersionBlockWithAVersion) {
    auto block = [](const std::string& tag, Bytes version) {
        Bytes b = {'Q', 'W', 10, 0, static_cast<uint8_t>(tag[0]), static_cast<uint8_t>(tag[1])};
        b.insert(b.end(), version.begin(), version.end());
        return b;
    };
    const Bytes other = {0x55, 0x54, 5, 0, 1, 2, 3, 4, 5};  // a timestamp block
    const Bytes zero = block("VX", Bytes(8, 0));            // eight zero bytes: no version
    const Bytes good = block("VX", {1, 2, 3, 4, 5, 6, 7, 8});
    const Bytes name = block("Vx", {1, 2, 3, 4, 5, 6, 7, 8});  // a long-name block

    struct Case {
        Bytes field;
        bool found;
        size_t offset;
    };
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const Case cases[] = {
        {good, true, 6},
        {cat({other, good}), true, 9 + 6},
        {cat({zero, good}), true, 14 + 6},
        {cat({name, good}), true, 14 + 6},
        {cat({other, zero}), false, 0},
        {Bytes(good.begin(), good.end() - 1), false, 0},                   // 13 bytes: too short
        {{'Q', 'W', 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0},  // claims too much
        {{}, false, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        size_t offset = 0;
        EXPECT_EQ(qv::FindVersionExtra(cases[i].field.data(), cases[i].field.size(), &offset),
                  cases[i].found);
        if (cases[i].found) {
            EXPECT_EQ(offset, cases[i].offset);
        }
    }
}

}  // namespace
