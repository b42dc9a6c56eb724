// File versions: the version block of a member's extra field, and the version resource of a
// PE image read straight from the file.
#include "file_version.h"

#include <gtest/gtest.h>

#include <string>

#include "pe_image.h"
#include "test_support.h"

namespace {

using qvtest::MakePeImage;
using qvtest::Bytes;

TEST(FileVersion, ReadFromTheVersionResourceOfPeImages) {
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const Bytes image = MakePeImage(plus, 0x00050002, 0x0003000A);  // 5.2.3.10
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
    const Bytes image = MakePeImage(false, 1, 2);
    const size_t versionBlockEnd = 0x200 + 0x58 + 92;
    for (size_t size = 0; size < versionBlockEnd; ++size)
        EXPECT_EQ(qv::ReadImageVersion(image.data(), size, out).code, QV_E_ACCESS_MODE) << size;
    const Bytes noVersion = MakePeImage(false, 1, 2, /*type=*/3);
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
