// Names, paths, temporary files and the copy loop.
#include "file_primitives.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "open_names.h"
#include "os.h"
#include "status_reporting.h"
#include "test_support.h"

namespace {

using qvtest::ScratchDir;

TEST(SplitPath, Cases) {
    struct {
        const char* path;
        const char* drive;
        const char* dir;
        const char* base;
        const char* ext;
    } cases[] = {
        {"\\\\server\\share\\dir1\\dir2\\file.txt", "\\\\server\\share", "\\dir1\\dir2\\", "file", ".txt"},
        {"//server/share/a/b.c.d", "//server/share", "/a/", "b.c", ".d"},
        {"\\\\server\\share", "\\\\server\\share", "", "", ""},
        {"C:\\dir\\name", "C:", "\\dir\\", "name", ""},
        {"c:name.ext", "c:", "", "name", ".ext"},
        {"dir/sub/", "", "dir/sub/", "", ""},
        {"README", "", "", "README", ""},
        {".profile", "", "", "", ".profile"},
    };
    for (const auto& c : cases) {
        const qv::PathParts p = qv::SplitPath(c.path);
        EXPECT_EQ(p.drive, c.drive) << c.path;
        EXPECT_EQ(p.directory, c.dir) << c.path;
        EXPECT_EQ(p.baseName, c.base) << c.path;
        EXPECT_EQ(p.extension, c.ext) << c.path;
    }
    std::string drive, dir, file;
    qv::SplitPathName("C:\\a\\b.txt", &drive, &dir, &file);
    EXPECT_EQ(file, "b.txt");
    EXPECT_EQ(qv::JoinParts("C:", nullptr, "\\a\\", "b.txt"), "C:\\a\\b.txt");
}

TEST(HasExtension, Cases) {
    struct {
        const char* name;
        bool expected;
    } cases[] = {{"a.zip", true},  {"a", false},      {".zip", false},  {"dir.d\\file", false},
                 {"dir.d/file", false}, {"c:.x", true}, {"c:x", false}, {"a.", true}};
    for (const auto& c : cases) EXPECT_EQ(qv::HasExtension(c.name), c.expected) << c.name;
}

TEST(CompareNames, IgnoresLetterCaseInBothCodePages) {
    EXPECT_EQ(qv::CompareNames("readme.TXT", "README.txt"), 0);
    // CP437 0x82 is e-acute, 0x90 is E-acute.
    EXPECT_EQ(qv::CompareNames("caf\x82.txt", "CAF\x90.TXT"), 0);
    EXPECT_EQ(qv::CompareNames("a", "b"), -1);
    EXPECT_EQ(qv::CompareNames("b", "a"), 1);
    EXPECT_EQ(qv::CompareNames("ab", "a"), 1);
}

TEST(CodePages, RoundTripAndUnderscoreForWhatOemLacks) {
    const std::string ansi = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x95\x94";  // "Grüße ╔"
    const std::string oem = qv::os::AnsiToOem(ansi);
    EXPECT_EQ(oem, "Gr\x81\xE1" "e \xC9");
    EXPECT_EQ(qv::os::OemToAnsi(oem), ansi);
    EXPECT_EQ(qv::os::AnsiToOem("\xE2\x82\xAC and \xFF\xFE"), "_ and __");  // euro, bad bytes
    char buf[6];
    EXPECT_FALSE(qv::os::CopyAnsiCut("ab\xC3\xBC\xC3\xBC", buf, sizeof buf));
    EXPECT_STREQ(buf, "ab\xC3\xBC");  // cut before a split character
    EXPECT_TRUE(qv::os::CopyAnsiCut("abc", buf, sizeof buf));
}

TEST(TempNames, AreUniqueQvtFilesOnTheOpenNameList) {
    const std::string a = qv::MakeTempName();
    const std::string b = qv::MakeTempName();
    ASSERT_FALSE(a.empty());
    ASSERT_NE(a, b);
    EXPECT_EQ(qv::SplitPath(a).baseName.substr(0, 3), "QVT");
    EXPECT_TRUE(std::filesystem::exists(a));
    EXPECT_TRUE(qv::IsOpenName(a));
    qv::RemoveOpenName(a);
    EXPECT_FALSE(qv::IsOpenName(a));
    EXPECT_TRUE(qv::IsOpenName(b));
    qv::RemoveOpenName(b);
    EXPECT_TRUE(qv::DeleteOemFile(a));
    EXPECT_TRUE(qv::DeleteOemFile(b));
    EXPECT_EQ(qv::OpenNames(), "");
}

class Copy : public ::testing::Test {
protected:
    ScratchDir dir;
    qv::FileHandle src = qv::kInvalidHandle, dst = qv::kInvalidHandle;
    void SetUp() override {
        qvtest::WriteFile(dir.file("src"), qvtest::RandomBytes(1 << 20, 7));
        src = qv::os::CreateFile(dir.file("src"), qv::os::kGenericRead, qv::os::kShareRead,
                                 qv::os::kOpenExisting, 0);
        dst = qv::os::CreateFile(dir.file("dst"), qv::os::kGenericReadWrite, 0, qv::os::kCreateAlways, 0);
        ASSERT_NE(src, qv::kInvalidHandle);
        ASSERT_NE(dst, qv::kInvalidHandle);
    }
    void TearDown() override {
        qv::os::CloseHandle(src);
        qv::os::CloseHandle(dst);
    }
};

TEST_F(Copy, CopiesExactlyTheCountFromTheCurrentPosition) {
    qv::os::SetFilePointer(src, 100, qv::os::kFileBegin);
    ASSERT_EQ(qv::CopyBytes(src, dst, 700000), QV_OK);
    qv::os::CloseHandle(dst);
    dst = qv::kInvalidHandle;
    const auto in = qvtest::ReadFile(dir.file("src"));
    EXPECT_EQ(qvtest::ReadFile(dir.file("dst")), qvtest::Bytes(in.begin() + 100, in.begin() + 700100));
}

TEST_F(Copy, EdgeResults) {
    EXPECT_EQ(qv::CopyBytes(src, dst, 0), QV_OK);
    EXPECT_EQ(qv::os::SetFilePointer(src, 0, qv::os::kFileCurrent), 0u);  // nothing read
    EXPECT_EQ(qv::CopyBytes(qv::kInvalidHandle, dst, 10), QV_E_FILE);
    EXPECT_EQ(qv::CopyBytes(src, qv::kInvalidHandle, 10), QV_E_FILE);
    EXPECT_EQ(qv::CopyBytes(src, dst, (1 << 20) + 1), QV_E_EOF);
    // A cancel request pending when the copy ends wins, and is consumed.
    qv::os::SetFilePointer(src, 0, qv::os::kFileBegin);
    Qv4Cancel();
    EXPECT_EQ(qv::CopyBytes(src, dst, 1000), QV_E_CANCELLED);
    EXPECT_FALSE(qv::CancelPending());
}

TEST(AttributeMask, ClearsTheBitsAskedFor) {
    EXPECT_EQ(qv::AttributeMask(0), 0xFFFFFFFFu);
    EXPECT_EQ(qv::AttributeMask(0x08) & 0xFF, 0xFEu);
    EXPECT_EQ(qv::AttributeMask(0x02 | 0x04 | 0x10) & 0xFF, 0xFFu & ~0x86u);
}

}  // namespace
