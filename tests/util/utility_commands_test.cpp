// The qvarc utility subcommands, run as a user would run them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using qvtest::Bytes;
using qvtest::ScratchDir;

std::string Qvarc(const std::string& args) {
    return std::string(QV_QVARC_TOOL) + " " + args;
}
std::string Q(const std::string& s) {
    return "'" + s + "'";
}

TEST(UtilityCommands, UuencodeSeriesAndUudecode) {
    ScratchDir dir;
    const Bytes data = qvtest::RandomBytes(10000, 21);
    qvtest::WriteFile(dir.file("pic.bin"), data);
    std::string out;
    ASSERT_EQ(qvtest::RunCommand(Qvarc("uuencode " + Q(dir.file("pic.bin")) + " " +
                                       Q(dir.file("mail")) + " -s 2 -c"),
                                 &out),
              0)
        << out;
    // "<file>: N parts", and exactly those N files.
    const size_t at = out.rfind(": ");
    ASSERT_NE(at, std::string::npos) << out;
    const int parts = std::stoi(out.substr(at + 2));
    EXPECT_GE(parts, 7) << out;
    EXPECT_TRUE(fs::exists(dir.file("mail." + std::to_string(parts))));
    EXPECT_FALSE(fs::exists(dir.file("mail." + std::to_string(parts + 1))));
    fs::create_directories(dir.path() / "got");
    ASSERT_EQ(qvtest::RunCommand(Qvarc("uudecode " + Q(dir.file("mail.1")) + " " +
                                       Q((dir.path() / "got").string())),
                                 &out),
              0)
        << out;
    EXPECT_EQ(qvtest::ReadFile((dir.path() / "got" / "pic.bin").string()), data);
}

TEST(UtilityCommands, CrlfAndLf) {
    ScratchDir dir;
    qvtest::WriteFile(dir.file("unix.txt"), std::string("one\ntwo\n"));
    std::string out;
    ASSERT_EQ(
        qvtest::RunCommand(
            Qvarc("crlf " + Q(dir.file("unix.txt")) + " " + Q(dir.file("dos.txt")) + " -z"), &out),
        0)
        << out;
    EXPECT_EQ(qvtest::ReadFile(dir.file("dos.txt")),
              qvtest::Bytes({'o', 'n', 'e', '\r', '\n', 't', 'w', 'o', '\r', '\n', 0x1A}));
    ASSERT_EQ(qvtest::RunCommand(
                  Qvarc("lf " + Q(dir.file("dos.txt")) + " " + Q(dir.file("back.txt"))), &out),
              0)
        << out;
    EXPECT_EQ(qvtest::ReadFile(dir.file("back.txt")), qvtest::ReadFile(dir.file("unix.txt")));
}

TEST(UtilityCommands, UsageAndFailures) {
    ScratchDir dir;
    std::string out;
    EXPECT_EQ(qvtest::RunCommand(Qvarc("uuencode"), &out), 2);
    EXPECT_EQ(qvtest::RunCommand(Qvarc("uuencode a -s"), &out), 2);
    EXPECT_EQ(qvtest::RunCommand(Qvarc("uuencode a -s x12"), &out), 2);
    EXPECT_EQ(qvtest::RunCommand(Qvarc("crlf onlyone"), &out), 2);
    EXPECT_EQ(qvtest::RunCommand(Qvarc("lf a b -q"), &out), 2);
    // A failing call reports its result and exits with a failure status.
    EXPECT_NE(qvtest::RunCommand(Qvarc("uudecode " + Q(dir.file("missing.uue"))), &out), 0);
    EXPECT_NE(out.find("(105)"), std::string::npos) << out;
}

}  // namespace
