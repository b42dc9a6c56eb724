// qvarc extract and qvarc test, run as a user runs them.
#include <gtest/gtest.h>

#include <string>

#include "extraction_harness.h"
#include "test_support.h"

namespace {

using namespace extracttest;
using qvtest::ScratchDir;

std::string Qvarc() {
    return QV_QVARC_TOOL;
}

TEST(QvarcExtract, ExtractsAndTestsWithTheLibrarysOptions) {
    ScratchDir dir;
    const std::string archive = dir.file("a.zip");
    qvtest::WriteFile(archive, BuildZip({{"top.txt", Text("top"), 8},
                                         {"sub/inner.txt", Text("inner")},
                                         {"sub/skip.bin", Text("skip")}}));
    const fs::path out = dir.path() / "out";
    std::string log;
    ASSERT_EQ(qvtest::RunCommand(Qvarc() + " x -C " + Quote(out.string()) + " -X '*.bin' -d " +
                                     Quote(archive) + " 2>&1",
                                 &log),
              0)
        << log;
    EXPECT_TRUE(SameTree({{"top.txt", Text("top")}, {"sub/", {}}, {"sub/inner.txt", Text("inner")}},
                         ReadTree(out)));
    EXPECT_NE(log.find("100%"), std::string::npos) << log;  // the progress display
    EXPECT_EQ(qvtest::RunCommand(Qvarc() + " t " + Quote(archive) + " '*.txt' 2>&1", &log), 0)
        << log;

    // Nobody at the console: the overwrite question is refused and the file stays.
    qvtest::WriteFile((out / "top.txt").string(), std::string("mine"));
    EXPECT_EQ(qvtest::RunCommand(Qvarc() + " extract -C " + Quote(out.string()) + " " +
                                     Quote(archive) + " top.txt < /dev/null 2>&1",
                                 &log),
              0);
    EXPECT_NE(log.find("Overwrite it?"), std::string::npos) << log;
    EXPECT_EQ(qvtest::ReadFile((out / "top.txt").string()), Text("mine"));

    // A malformed option string says where it went wrong.
    EXPECT_EQ(qvtest::RunCommand(Qvarc() + " x -d -q " + Quote(archive) + " 2>&1", &log), 3);
    EXPECT_NE(log.find("malformed at character"), std::string::npos) << log;
}

TEST(QvarcExtract, SkippedMembersAreReportedAndSetTheExitStatus) {
    const std::string archive = qvtest::DataFile("zip/made-infozip-encrypted-deflate.zip");
    std::string log;
    EXPECT_EQ(qvtest::RunCommand(Qvarc() + " test '-s\"wrong\"' " + Quote(archive) + " 2>&1", &log),
              1);
    EXPECT_NE(log.find("wrong password"), std::string::npos) << log;
    EXPECT_EQ(
        qvtest::RunCommand(Qvarc() + " test '-s\"secret\"' " + Quote(archive) + " 2>&1", &log), 0)
        << log;
    EXPECT_NE(log.find("all members OK"), std::string::npos) << log;
}

}  // namespace
