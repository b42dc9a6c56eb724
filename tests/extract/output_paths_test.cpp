// Output paths of extraction: member names made safe to join below a destination, the
// directories of an output path, the directory test and the host's path filters.
#include "output_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "qvarc32.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct NameCase {
    const char* name;
    bool keepAbsolute;
    const char* drive;
    const char* directory;
    const char* file;
    bool dropped;
};

TEST(SplitMemberName, NeverClimbsAboveTheDestinationUnlessAbsoluteIsAsked) {
    const NameCase cases[] = {
        {"a/b/c.txt", false, "", "a\\b\\", "c.txt", false},
        {"a\\b\\c.txt", false, "", "a\\b\\", "c.txt", false},
        {"../../etc/passwd", false, "", "etc\\", "passwd", true},
        {"a/../../b.txt", false, "", "a\\", "b.txt", true},
        {"..\\..\\x", true, "", "", "x", true},  // the drive option keeps no ".." either
        {"/abs/f", false, "", "abs\\", "f", true},
        {"/abs/f", true, "", "\\abs\\", "f", false},
        {"C:\\win\\x.dll", false, "", "win\\", "x.dll", true},
        {"C:\\win\\x.dll", true, "C:", "\\win\\", "x.dll", false},
        {"C:rel.txt", false, "", "", "rel.txt", true},
        {"\\\\srv\\share\\d\\f", false, "", "d\\", "f", true},
        {"\\\\srv\\share\\d\\f", true, "\\\\srv\\share", "\\d\\", "f", false},
        {"dir/", false, "", "dir\\", "", false},
        {"a/..", false, "", "a\\", "", true},
        {"./x", false, "", "", "x", false},
        {"a//./b", false, "", "a\\", "b", false},
        {"..", false, "", "", "", true},
        {"x/c:d", false, "", "x\\", "c_d", false},  // no drive or stream inside a component
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const qv::MemberOutputName out = qv::SplitMemberName(c.name, c.keepAbsolute);
        EXPECT_EQ(out.drive, c.drive);
        EXPECT_EQ(out.directory, c.directory);
        EXPECT_EQ(out.file, c.file);
        EXPECT_EQ(out.dropped, c.dropped);
    }
}

TEST(CreateOutputDirs, MakesEveryDirectoryButTheFileAndCanRepeat) {
    qvtest::ScratchDir dir;
    const std::string base = dir.path().string();
    ASSERT_EQ(qv::CreateOutputDirs(base + "\\x\\y/f.txt").code, QV_OK);
    EXPECT_TRUE(fs::is_directory(dir.path() / "x" / "y"));
    EXPECT_FALSE(fs::exists(dir.path() / "x" / "y" / "f.txt"));
    EXPECT_EQ(qv::CreateOutputDirs(base + "/x/y/f.txt").code, QV_OK);
    // A path ending in a separator makes all of its directories.
    ASSERT_EQ(qv::CreateOutputDirs(base + "/p/q/").code, QV_OK);
    EXPECT_TRUE(fs::is_directory(dir.path() / "p" / "q"));
    // A file where a directory must go cannot be passed.
    qvtest::WriteFile(dir.file("plain"), std::string("x"));
    EXPECT_EQ(qv::CreateOutputDirs(base + "/plain/sub/f").code, QV_E_PATH);
}

TEST(DirExist, OnlyDirectoriesCount) {
    qvtest::ScratchDir dir;
    qvtest::WriteFile(dir.file("f"), std::string("x"));
    EXPECT_EQ(Qv4DirExist(dir.path().string().c_str()), 1);
    EXPECT_EQ(Qv4DirExist((dir.path().string() + "/").c_str()), 1);
    EXPECT_EQ(Qv4DirExist(dir.file("f").c_str()), 0);
    EXPECT_EQ(Qv4DirExist(dir.file("missing").c_str()), 0);
    EXPECT_EQ(Qv4DirExist(nullptr), 0);
}

class PathFilters : public ::testing::Test {
protected:
    void TearDown() override { qv::ClearPathFilters(); }
    static std::string Apply(std::string path) {
        qv::ApplyPathFilters(path);
        return path;
    }
};

TEST_F(PathFilters, RewriteTheLeadingDirectoryOfTheFirstMatchingPair) {
    ASSERT_EQ(Qv4AddUnZipPathFilter("C:\\OLD", "D:\\NEW"), QV_OK);
    ASSERT_EQ(Qv4AddUnZipPathFilter("\\DATA\\", "\\KEEP\\"), QV_OK);
    ASSERT_EQ(Qv4AddUnZipPathFilter("C:\\", "E:\\"), QV_OK);
    EXPECT_EQ(Apply("C:\\OLD\\SUB\\F.TXT"), "D:\\NEW\\SUB\\F.TXT");
    EXPECT_EQ(Apply("c:\\OLD\\SUB\\F.TXT"), "D:\\NEW\\SUB\\F.TXT");  // drives ignore case
    EXPECT_EQ(Apply("C:\\old\\SUB\\F.TXT"), "E:\\old\\SUB\\F.TXT");  // directories do not
    EXPECT_EQ(Apply("C:/OLD/SUB/F.TXT"), "D:\\NEW\\SUB/F.TXT");      // either separator
    // A "from" without a drive matches on any drive and keeps it.
    EXPECT_EQ(Apply("Z:\\DATA\\F.TXT"), "Z:\\KEEP\\F.TXT");
    EXPECT_EQ(Apply("Z:\\OTHER\\F.TXT"), "Z:\\OTHER\\F.TXT");
}

TEST_F(PathFilters, RefuseAnEmptyPairAndCanBeCleared) {
    EXPECT_EQ(Qv4AddUnZipPathFilter(nullptr, ""), QV_E_NOTHING_NAMED);
    EXPECT_FALSE(qv::HavePathFilters());
    ASSERT_EQ(Qv4AddUnZipPathFilter("", "OUT"), QV_OK);  // empty "from" matches everything
    EXPECT_EQ(Apply("SUB\\F.TXT"), "OUT\\SUB\\F.TXT");
    qv::ClearPathFilters();
    EXPECT_FALSE(qv::HavePathFilters());
    EXPECT_EQ(Apply("SUB\\F.TXT"), "SUB\\F.TXT");
}

}  // namespace
