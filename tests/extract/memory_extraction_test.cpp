// Extraction to memory through Qv4UnZipPtr: windows of a member's uncompressed data, the
// first member of a name, passwords, methods it cannot decode, and areas never overrun.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extraction_harness.h"
#include "qvarc32.h"
#include "test_support.h"

namespace {

using namespace extracttest;
using qvtest::ScratchDir;

constexpr uint8_t kGuard = 0xA5;

class ToMemory : public ::testing::Test {
protected:
    void Open(const std::string& path) {
        Close();
        ASSERT_EQ(Qv4ZipOpen(path.c_str(), QV_OPEN_READ, &handle_), QV_OK);
    }
    void Open(const std::vector<ZipEntry>& entries) {
        const std::string path = dir_.file("m" + std::to_string(count_++) + ".zip");
        qvtest::WriteFile(path, BuildZip(entries));
        Open(path);
    }
    void Close() {
        if (handle_ != QV_NO_HANDLE) Qv4ZipClose(&handle_);
    }
    void TearDown() override { Close(); }
    // Unzips into an area of `size` bytes followed by guard bytes; returns what was delivered
    // up to the first untouched guard-filled tail, and checks the guard past `size`.
    ResultCode Get(const char* name, uint32_t offset, int32_t count, size_t size, Bytes* out,
                   const char* options = "") {
        Bytes area(size + 64, kGuard);
        const ResultCode r = Qv4UnZipPtr(handle_, area.data(), offset, count, name, options);
        for (size_t i = size; i < area.size(); ++i)
            EXPECT_EQ(area[i], kGuard) << "written past the area at " << i;
        area.resize(size);
        *out = area;
        return r;
    }
    ScratchDir dir_;
    ArchiveHandle handle_ = QV_NO_HANDLE;
    int count_ = 0;
};

TEST_F(ToMemory, WindowsOfTheUncompressedData) {
    const Bytes text = qvtest::TextBytes(300000, 11);
    const Bytes random = qvtest::RandomBytes(150000, 12);
    Open({{"text.txt", text, 8}, {"random.bin", random, 0}});
    struct Window {
        uint32_t offset;
        int32_t count;
    };
    // Whole, a head, windows straddling decoded pieces (32768 for inflate, 65520 for stored),
    // a tail asked for past the end, and an offset beyond the member.
    const Window windows[] = {{0, -1},        {0, 10},       {32760, 20},  {65510, 30},
                              {70000, 65600}, {299990, 100}, {300000, -1}, {400000, 5}};
    for (const auto& [name, data] :
         {std::pair{"text.txt", text}, std::pair{"random.bin", random}}) {
        for (const Window& w : windows) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(w.offset) + "+" +
                         std::to_string(w.count));
            const size_t available = w.offset < data.size() ? data.size() - w.offset : 0;
            const size_t want = w.count < 0 ? available : std::min<size_t>(w.count, available);
            Bytes got;
            ASSERT_EQ(Get(name, w.offset, w.count, want, &got), QV_OK);
            EXPECT_TRUE(std::equal(got.begin(), got.end(),
                                   data.begin() + std::min(w.offset, uint32_t(data.size()))));
        }
    }
}

TEST_F(ToMemory, TheFirstMemberOfTheNameIsDecodedAndTestingDecodesNothing) {
    Open({{"dup.txt", Text("first"), 8},
          {"sub/dup.txt", Text("in sub")},
          {"dup.txt", Text("second")},
          {"a.bin", Text("abin")}});
    Bytes got;
    EXPECT_EQ(Get("dup.txt", 0, -1, 5, &got), QV_OK);
    EXPECT_EQ(got, Text("first"));
    EXPECT_EQ(Get("sub\\dup.txt", 0, -1, 6, &got), QV_OK);
    EXPECT_EQ(got, Text("in sub"));
    EXPECT_EQ(Get("*.bin", 0, -1, 4, &got), QV_OK);  // a pattern takes the first it matches
    EXPECT_EQ(got, Text("abin"));
    EXPECT_EQ(Get("dup.txt", 0, -1, 5, &got, "-t"), QV_OK);
    EXPECT_EQ(got, Bytes(5, kGuard));
    EXPECT_EQ(Get("none.txt", 0, -1, 0, &got), QV_E_NOTHING);
    EXPECT_EQ(Qv4UnZipPtr(QV_NO_HANDLE - 1, got.data(), 0, -1, "dup.txt", ""), QV_E_HANDLE);
    EXPECT_EQ(Get("dup.txt", 0, -1, 0, &got, "-z"), QV_E_OPTIONS);
}

TEST_F(ToMemory, PasswordsAndMethodsItCannotDecode) {
    Open(qvtest::DataFile("zip/made-infozip-encrypted-deflate.zip"));
    Bytes got;
    {
        StatusCapture capture;
        EXPECT_EQ(Get("LINES.TXT", 0, 10, 10, &got, "-s'wrong'"), QV_E_PASSWORD_MISMATCH);
        EXPECT_EQ(capture.script().NoticeCodes(), std::vector<int16_t>{QV_E_PASSWORD});
    }
    EXPECT_EQ(Get("LINES.TXT", 0, -1, 0, &got), QV_E_PASSWORD_MISMATCH);
    ASSERT_EQ(Get("LINES.TXT", 7750, -1, 10, &got, "-s'secret'"), QV_OK);
    EXPECT_EQ(std::string(got.begin(), got.end()), "or jugs.\r\n");

    Open(qvtest::DataFile("zip/legacy/zip2-shrink.zip"));
    EXPECT_EQ(Get("FIRST.TXT", 0, -1, 0, &got), QV_E_METHOD);  // shrunk: files only
    Open({{"odd.dat", Text("x"), 99}});
    StatusCapture capture;
    EXPECT_EQ(Get("odd.dat", 0, -1, 0, &got), QV_E_METHOD);
    EXPECT_EQ(capture.script().NoticeCodes(), std::vector<int16_t>{QV_E_METHOD});
}

TEST_F(ToMemory, ImplodedTarAndGzipMembers) {
    struct Case {
        const char* archive;
        const char* member;
    };
    for (const Case& c :
         {Case{"zip/legacy/imploding-8Kdict-3trees.zip", "LICENSE.TXT"},
          Case{"zip/legacy/imploding-4Kdict-2trees.zip", "HEADER.TXT"},
          Case{"zip/legacy/zip2-implode.zip", "first.txt"},
          Case{"made-sample-ustar.tar", "LINES.TXT"}, Case{"made-LINES.TXT.gz", "LINES.TXT"}}) {
        SCOPED_TRACE(c.archive);
        Open(qvtest::DataFile(c.archive));
        DirectoryRecord record{};
        char name[QV_NAME_BUFFER_SIZE];
        ResultCode found = Qv4ZipFindFirst(handle_, &record, name, nullptr, 0, nullptr, 0);
        while (found == QV_OK && std::string(name).find(c.member) == std::string::npos)
            found = Qv4ZipFindNext(handle_, &record, name, nullptr, 0, nullptr, 0);
        ASSERT_EQ(found, QV_OK);
        Bytes got;
        ASSERT_EQ(Get(name, 0, -1, record.uncompressedSize, &got), QV_OK);
        if (std::string(c.archive).find(".tar") == std::string::npos) {
            EXPECT_EQ(Crc32(got), record.crc32);
        } else {
            EXPECT_EQ(std::string(got.begin(), got.begin() + 10), "Line 001: ");
        }
    }
}

TEST_F(ToMemory, AMemberThatDecodesToMoreThanItsSizeNeverOverrunsTheArea) {
    const Bytes text = qvtest::TextBytes(100000, 13);
    Bytes zip = BuildZip({{"lie.txt", text, 8}});
    // The central record claims 1000 bytes: a host sizes its area by that.
    const size_t dirOffset = zip.size() - 22 - (46 + 7);
    zip[dirOffset + 24] = 1000 & 0xFF;
    zip[dirOffset + 25] = 1000 >> 8;
    zip[dirOffset + 26] = zip[dirOffset + 27] = 0;
    const std::string path = dir_.file("lie.zip");
    qvtest::WriteFile(path, zip);
    Open(path);
    Bytes got;
    ASSERT_EQ(Get("lie.txt", 0, -1, 1000, &got), QV_OK);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), text.begin()));
}

}  // namespace
