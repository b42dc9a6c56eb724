// Extraction of archives made by other ZIP tools, through the exported calls: every file must
// come out byte for byte with its time, and testing must pass. The peers: Info-ZIP zip at
// every level and with passwords, 7-Zip, bsdtar, Python's zipfile and Java's jar, plus the
// committed fixtures with legacy methods and data descriptors, and TAR and GZIP files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "extraction_harness.h"
#include "qvarc32.h"
#include "simulated_drive.h"
#include "test_support.h"

namespace {

using namespace extracttest;
using qvtest::ScratchDir;

struct Peer {
    const char* name;
    const char* tool;
    std::string command;  // run in the source folder; "ARCHIVE" is replaced
};

std::string Replace(std::string s, const std::string& what, const std::string& with) {
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
        s.replace(at, what.size(), with);
    return s;
}

const char* kPythonZip = R"(python3 - ARCHIVE <<'EOF'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for top, dirs, files in sorted(os.walk('.')):
        for d in sorted(dirs):
            z.write(os.path.join(top, d)[2:])
        for f in sorted(files):
            p = os.path.join(top, f)[2:]
            z.write(p, compress_type=zipfile.ZIP_DEFLATED if f.endswith('.txt') else zipfile.ZIP_STORED)
EOF)";

std::vector<Peer> Peers() {
    std::vector<Peer> peers;
    for (int level = 0; level <= 9; ++level)
        peers.push_back({"zip", "zip", "zip -q -r -X -" + std::to_string(level) + " ARCHIVE ."});
    peers.push_back({"zip -P", "zip", "zip -q -r -X -P secret ARCHIVE ."});
    peers.push_back({"zip -0 -P", "zip", "zip -q -r -X -0 -P secret ARCHIVE ."});
    peers.push_back({"zip to a pipe", "zip", "zip -q -r -X - . | cat > ARCHIVE"});
    peers.push_back({"7z", "7z", "7z a -tzip -bd -y ARCHIVE . > /dev/null"});
    peers.push_back({"7z -mx=9", "7z", "7z a -tzip -mx=9 -bd -y ARCHIVE . > /dev/null"});
    peers.push_back(
        {"7z ZipCrypto", "7z", "7z a -tzip -psecret -mem=ZipCrypto -bd -y ARCHIVE . > /dev/null"});
    peers.push_back({"bsdtar", "bsdtar", "bsdtar --format zip -cf ARCHIVE ."});
    peers.push_back({"bsdtar stored", "bsdtar",
                     "bsdtar --format zip --options zip:compression=store -cf ARCHIVE ."});
    peers.push_back({"python zipfile", "python3", kPythonZip});
    peers.push_back({"jar", "jar", "jar cfM ARCHIVE ."});
    return peers;
}

TEST(ExtractPeers, EveryFileComesOutByteForByteWithItsTime) {
    ScratchDir dir;
    const fs::path source = dir.path() / "src";
    MakeSourceTree(source);
    const auto expected = ReadTree(source);
    int index = 0;
    for (const Peer& peer : Peers()) {
        SCOPED_TRACE(peer.name);
        if (!qvtest::HaveTool(peer.tool)) {
            ADD_FAILURE() << peer.tool << " is missing";
            continue;
        }
        const std::string archive = dir.file("peer" + std::to_string(index) + ".zip");
        const fs::path out = dir.path() / ("out" + std::to_string(index++));
        ASSERT_EQ(qvtest::RunCommand("cd " + Quote(source.string()) + " && " +
                                     Replace(peer.command, "ARCHIVE", Quote(archive))),
                  0);
        const std::string options =
            std::string("-d -o") +
            (std::string(peer.command).find("secret") != std::string::npos ? " -s'secret'" : "");
        StatusCapture capture;
        EXPECT_EQ(Qv4QUnZip(archive.c_str(), out.string().c_str(), "*", options.c_str()), QV_OK);
        EXPECT_TRUE(capture.script().NoticeCodes().empty());
        // jar adds its own META-INF; the rest is the tree.
        auto actual = ReadTree(out);
        actual.erase("META-INF/");
        actual.erase("META-INF/MANIFEST.MF");
        EXPECT_TRUE(SameTree(expected, actual));
        for (const char* file : {"hello.txt", "sub/deeper/runs.bin"})
            EXPECT_EQ(WriteTimeOf(out / file), FixedLocalTime()) << file;
        EXPECT_EQ(Qv4QUnZip(archive.c_str(), nullptr, "*", (options + " -t").c_str()), QV_OK);
    }
}

// Fixtures of other writers, with unzip as the oracle for what they hold.
struct Fixture {
    const char* file;
    const char* password;  // null: none
};

TEST(ExtractPeers, CommittedFixturesMatchInfoZipUnzip) {
    if (!qvtest::HaveTool("unzip")) GTEST_FAIL() << "unzip is missing";
    const Fixture fixtures[] = {
        {"zip/dataDescriptor.zip", nullptr},
        {"zip/made-infozip-stream-deflate-dd.zip", nullptr},
        {"zip/made-infozip-stream-stored-dd.zip", nullptr},
        {"zip/made-infozip-stdin-zip64-dd.zip", nullptr},
        {"zip/made-infozip-comments.zip", nullptr},
        {"zip/bla.jar", nullptr},
        {"zip/test_compat_zip_1.zip", nullptr},
        {"zip/extraDataLHandCDentryAndArchiveComments.zip", nullptr},
        {"zip/made-infozip-encrypted-deflate.zip", "secret"},
        {"zip/made-infozip-encrypted-stored.zip", "secret"},
        {"zip/made-infozip-encrypted-stream-dd.zip", "secret"},
        {"zip/test_read_format_zip_traditional_encryption_data.zip", "12345678"},
        {"zip/legacy/SHRUNK.ZIP", nullptr},
        {"zip/legacy/zip2-shrink.zip", nullptr},
        {"zip/legacy/imploding-4Kdict-2trees.zip", nullptr},
        {"zip/legacy/imploding-8Kdict-3trees.zip", nullptr},
        {"zip/legacy/zip2-implode.zip", nullptr},
    };
    ScratchDir dir;
    int index = 0;
    for (const Fixture& f : fixtures) {
        SCOPED_TRACE(f.file);
        const std::string archive = qvtest::DataFile(f.file);
        const fs::path ours = dir.path() / ("ours" + std::to_string(index));
        const fs::path theirs = dir.path() / ("theirs" + std::to_string(index++));
        fs::create_directories(theirs);
        // Exit status 1: warnings only (backslashes in names, for instance).
        ASSERT_LE(qvtest::RunCommand(
                      "unzip -q -o " + (f.password ? std::string("-P ") + f.password + " " : "") +
                      Quote(archive) + " -d " + Quote(theirs.string()) + " 2>/dev/null"),
                  1);
        const std::string options =
            std::string("-d -o") + (f.password ? std::string(" -s'") + f.password + "'" : "");
        StatusCapture capture;
        EXPECT_EQ(Qv4QUnZip(archive.c_str(), ours.string().c_str(), "*", options.c_str()), QV_OK);
        EXPECT_TRUE(capture.script().NoticeCodes().empty());
        // unzip turns a stored "\" into "/" only for names made on DOS; ours always does.
        EXPECT_TRUE(SameTree(ReadTree(theirs), ReadTree(ours)));
        EXPECT_EQ(Qv4QUnZip(archive.c_str(), nullptr, "*", (options + " -t").c_str()), QV_OK);
    }
}

TEST(ExtractPeers, TarAndGzipMembersComeOutAsTheirFiles) {
    ScratchDir dir;
    {
        const fs::path out = dir.path() / "tar";
        EXPECT_EQ(Qv4QUnZip(qvtest::DataFile("made-sample-ustar.tar").c_str(), out.string().c_str(),
                            "*", "-d -o"),
                  QV_OK);
        EXPECT_EQ(
            qvtest::ReadFile((out / "HELLO.TXT").string()),
            Bytes({'H', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd', '!', '\r', '\n'}));
        EXPECT_EQ(qvtest::ReadFile((out / "SUBDIR" / "NESTED.TXT").string()).size(), 13u);
        EXPECT_EQ(qvtest::ReadFile((out / "LINES.TXT").string()).size(), 7760u);
        // Testing a TAR file reads every member through.
        EXPECT_EQ(Qv4QUnZip(qvtest::DataFile("made-sample-ustar.tar").c_str(), nullptr, "*", "-t"),
                  QV_OK);
    }
    {
        const fs::path out = dir.path() / "gz";
        EXPECT_EQ(Qv4QUnZip(qvtest::DataFile("made-LINES.TXT.gz").c_str(), out.string().c_str(),
                            "*", "-o"),
                  QV_OK);
        const Bytes lines = qvtest::ReadFile((out / "LINES.TXT").string());
        ASSERT_EQ(lines.size(), 7760u);
        EXPECT_EQ(std::string(lines.begin(), lines.begin() + 10), "Line 001: ");
    }
}

qvtest::SimulatedDrive* gDrive = nullptr;
int gDisks = 0;
std::vector<int> gAsked;

// Inserts the disk asked for (the last one for question 3), records it and answers OK.
int16_t QV_CALL DiskHost(StatusBlock block) {
    if (block.kind != QV_STATUS_QUESTION) return QV_ANSWER_OK;
    const int disk = block.code == QV_ASK_LAST_DISK ? gDisks : block.disk;
    gAsked.push_back(disk);
    gDrive->Insert(disk);
    return QV_ANSWER_OK;
}

TEST(ExtractPeers, InfoZipSplitSetsAsSpannedSetsOnSimulatedDisks) {
    if (!qvtest::HaveTool("zip")) GTEST_FAIL() << "zip is missing";
    ScratchDir dir;
    const Bytes noise = qvtest::RandomBytes(150000, 2024);
    const Bytes text = qvtest::TextBytes(90000, 2025);
    qvtest::WriteFile(dir.file("NOISE.BIN"), noise);
    qvtest::WriteFile(dir.file("TEXT.TXT"), text);
    ASSERT_EQ(qvtest::RunCommand("cd " + Quote(dir.path().string()) +
                                 " && zip -q -s 64k set.zip NOISE.BIN TEXT.TXT"),
              0);
    qvtest::SimulatedDrive drive(dir.path() / "media", 4);
    gDrive = &drive;
    gDisks = 0;
    for (const char* part : {"set.z01", "set.z02", "set.z03", "set.zip"}) {
        if (!fs::exists(dir.file(part))) continue;
        ++gDisks;
        fs::rename(dir.file(part), drive.DiskFolder(gDisks) / "set.zip");
        drive.SetDiskLabel(gDisks, "PKBACK# 00" + std::to_string(gDisks));
    }
    ASSERT_GE(gDisks, 3);
    drive.Insert(1);
    gAsked.clear();
    Qv4CPrintHook(&DiskHost);
    Qv4SetCPrint(1);
    const fs::path out = dir.path() / "out";
    EXPECT_EQ(Qv4QUnZip((drive.drive() + "/set.zip").c_str(), out.string().c_str(), "*", "-o"),
              QV_OK);
    EXPECT_TRUE(SameTree({{"NOISE.BIN", noise}, {"TEXT.TXT", text}}, ReadTree(out)));
    // The last disk for the directory, then each disk in turn as the members cross them.
    ASSERT_FALSE(gAsked.empty());
    EXPECT_EQ(gAsked.front(), gDisks);
    EXPECT_TRUE(std::find(gAsked.begin(), gAsked.end(), 1) != gAsked.end());
    // Refused disk questions end the run.
    drive.Insert(gDisks);
    gAsked.clear();
    Qv4SetCPrint(0);
    EXPECT_EQ(Qv4QUnZip((drive.drive() + "/set.zip").c_str(), nullptr, "*", "-t"), QV_E_CANCELLED);
    Qv4CPrintHook(nullptr);
    gDrive = nullptr;
}

}  // namespace
