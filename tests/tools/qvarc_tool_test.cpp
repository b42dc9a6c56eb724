// The qvarc host program, run as a user runs it.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

std::string Qvarc() { return QV_QVARC_TOOL; }

TEST(QvarcTool, DemoIdentifiesEverySampleAndRemovesTheEmptyNewArchive) {
    qvtest::ScratchDir dir;
    std::string out;
    ASSERT_EQ(qvtest::RunCommand(Qvarc() + " demo " + dir.file("demo"), &out), 0) << out;
    for (const char* line : {"hello.zip      type  1", "new.sqs        type  9", "setup.exe      type 13",
                             "sample.lzh     type  5", "sample.tar     type 11", "notes.txt.gz   type 12"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    EXPECT_NE(out.find("closed without members: removed"), std::string::npos) << out;
}

TEST(QvarcTool, IdentifyReportsEachFile) {
    qvtest::ScratchDir dir;
    qvtest::WriteFile(dir.file("a.gz"), qvtest::Bytes{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0});
    std::string out;
    EXPECT_EQ(qvtest::RunCommand(Qvarc() + " identify " + dir.file("a.gz") + " " + dir.file("missing"), &out), 1);
    EXPECT_NE(out.find("12  GZIP"), std::string::npos) << out;
    EXPECT_NE(out.find("--  file cannot be opened"), std::string::npos) << out;
}

TEST(QvarcTool, HelpAndUnknownCommands) {
    std::string out;
    EXPECT_EQ(qvtest::RunCommand(Qvarc() + " --help", &out), 0);
    EXPECT_NE(out.find("identify"), std::string::npos);
    EXPECT_EQ(qvtest::RunCommand(Qvarc() + " frobnicate", &out), 2);
}

}  // namespace
