// The extraction driver's rules through Qv4UnZip and Qv4QUnZip: hostile names, output paths
// too long, directories, methods without a decoder, passwords, damaged members, the
// overwrite, freshen, newer, version and read-only decisions, testing, specifications,
// cancelling, attributes, times, long names and path filters.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "extraction_harness.h"
#include "pe_image.h"
#include "qvarc32.h"
#include "simulated_drive.h"
#include "test_support.h"

namespace {

using namespace extracttest;
using qvtest::MakePeImage;
using qvtest::ScratchDir;

// An archive in a scratch folder, and an output folder beside it.
class Extract : public ::testing::Test {
protected:
    std::string Archive(const std::vector<ZipEntry>& entries, const std::string& name = "a.zip") {
        const std::string path = dir_.file(name);
        qvtest::WriteFile(path, BuildZip(entries));
        return path;
    }
    fs::path Out() const { return dir_.path() / "out"; }
    ResultCode Run(const std::string& archive, const char* options, const char* specs = "*") {
        return Qv4QUnZip(archive.c_str(), Out().string().c_str(), specs, options);
    }
    ScratchDir dir_;
};

TEST_F(Extract, HostileNamesNeverLeaveTheDestination) {
    const fs::path inner = Out() / "inner";
    const std::vector<std::string> names = {"../evil1.txt", "/abs/evil2.txt", "a/../../evil3.txt",
                                            "C:\\evil4.txt", "..\\..\\evil5.txt"};
    std::vector<ZipEntry> entries;
    for (const auto& n : names) entries.push_back({n, Text("bad " + n)});
    entries.push_back({"fine/ok.txt", Text("fine")});
    const std::string archive = Archive(entries);

    StatusCapture capture;
    ASSERT_EQ(Qv4QUnZip(archive.c_str(), inner.string().c_str(), "*", "-d"), QV_OK);
    // Every dropped component is reported, and nothing was counted as skipped.
    EXPECT_EQ(capture.script().NoticeCodes(), std::vector<int16_t>(names.size(), QV_E_PATH));
    const auto tree = ReadTree(Out());
    const std::map<std::string, Bytes> expected = {
        {"inner/", {}},
        {"inner/evil1.txt", Text("bad ../evil1.txt")},
        {"inner/abs/", {}},
        {"inner/abs/evil2.txt", Text("bad /abs/evil2.txt")},
        {"inner/a/", {}},
        {"inner/a/evil3.txt", Text("bad a/../../evil3.txt")},
        {"inner/evil4.txt", Text("bad C:\\evil4.txt")},
        {"inner/evil5.txt", Text("bad ..\\..\\evil5.txt")},
        {"inner/fine/", {}},
        {"inner/fine/ok.txt", Text("fine")},
    };
    EXPECT_TRUE(SameTree(expected, tree));
    EXPECT_FALSE(fs::exists(dir_.path() / "evil1.txt"));

    // Without directories only the file name is used: nothing to drop, nothing to report.
    StatusCapture again;
    ASSERT_EQ(Qv4QUnZip(archive.c_str(), (Out() / "flat").string().c_str(), "*", ""), QV_OK);
    EXPECT_TRUE(again.script().NoticeCodes().empty());
    EXPECT_TRUE(fs::exists(Out() / "flat" / "evil3.txt"));
}

TEST_F(Extract, AnOutputPathTooLongIsSkippedNeverCut) {
    const std::string longDir(250, 'd');  // with the destination, beyond 259 characters
    const std::string archive =
        Archive({{longDir + "/far.txt", Text("far")}, {"near.txt", Text("near")}});
    StatusCapture capture;
    EXPECT_EQ(Run(archive, "-d"), QV_W_SKIPPED);
    EXPECT_EQ(capture.script().NoticeCodes(), std::vector<int16_t>{QV_E_TOO_LONG});
    EXPECT_TRUE(SameTree({{"near.txt", Text("near")}}, ReadTree(Out())));
}

TEST_F(Extract, DirectoriesAreMadeOnlyWithTheDirectoryOption) {
    ZipEntry only("only/", {});
    only.externalAttributes = 0x10;
    ZipEntry jar("jar/", {});  // as jar writes them: no attributes
    jar.externalAttributes = 0;
    const std::string archive = Archive({only, jar});
    EXPECT_EQ(Run(archive, ""), QV_E_NOTHING);
    EXPECT_FALSE(fs::exists(Out()));
    EXPECT_EQ(Run(archive, "-t"), QV_OK);
    EXPECT_FALSE(fs::exists(Out()));
    EXPECT_EQ(Run(archive, "-d"), QV_OK);
    // A name ending in "/" is a directory even when its attributes do not say so.
    EXPECT_TRUE(SameTree({{"only/", {}}, {"jar/", {}}}, ReadTree(Out())));
}

TEST_F(Extract, MethodsWithoutADecoderAreReportedAndLeaveExistingFilesAlone) {
    fs::create_directories(Out());
    qvtest::WriteFile((Out() / "bzip2.dat").string(), std::string("keep me"));
    const std::string archive = Archive({{"unknown.dat", Text("x"), 99},
                                         {"bzip2.dat", Text("BZh9"), 12},
                                         {"dcl.dat", Text("x"), 10},
                                         {"good.txt", Text("good"), 8}});
    StatusCapture capture;
    // Reported, but no member was skipped: the run succeeds.
    EXPECT_EQ(Run(archive, "-o"), QV_OK);
    EXPECT_EQ(capture.script().NoticeCodes(),
              (std::vector<int16_t>{QV_E_METHOD, QV_E_METHOD, QV_E_METHOD}));
    EXPECT_TRUE(
        SameTree({{"bzip2.dat", Text("keep me")}, {"good.txt", Text("good")}}, ReadTree(Out())));
    // The reduced fixture and the tokenized one have no decoder either.
    for (const char* legacy : {"zip/legacy/zip2-reduce.zip", "zip/legacy/moby.zip"}) {
        StatusCapture legacyCapture;
        EXPECT_EQ(Qv4QUnZip(qvtest::DataFile(legacy).c_str(), nullptr, "*", "-t"), QV_OK) << legacy;
        EXPECT_EQ(legacyCapture.script().NoticeCodes(), std::vector<int16_t>{QV_E_METHOD});
    }
}

TEST_F(Extract, WrongOrMissingPasswordsSkipEachEncryptedMember) {
    const std::string archive = qvtest::DataFile("zip/made-infozip-encrypted-deflate.zip");
    for (const char* options : {"-s'wrong'", "", "-s'secreT'"}) {
        SCOPED_TRACE(options);
        StatusCapture capture;
        EXPECT_EQ(Qv4QUnZip(archive.c_str(), Out().string().c_str(), "*", options), QV_W_SKIPPED);
        EXPECT_EQ(capture.script().NoticeCodes(), std::vector<int16_t>(3, QV_E_PASSWORD));
        EXPECT_FALSE(fs::exists(Out()));
    }
    EXPECT_EQ(Qv4QUnZip(archive.c_str(), Out().string().c_str(), "*", "-s'secret'"), QV_OK);
    EXPECT_EQ(ReadTree(Out()).size(), 3u);
}

// One damaged member of each kind: a flipped bit in its data is a CRC mismatch, never a
// crash, a hang or a silent success.
TEST_F(Extract, AFlippedBitInAnyKindOfMemberIsACrcMismatch) {
    if (!qvtest::HaveTool("zip")) GTEST_FAIL() << "zip is missing";
    const fs::path source = dir_.path() / "src";
    fs::create_directories(source);
    qvtest::WriteFile((source / "data.txt").string(), qvtest::TextBytes(200000, 7));
    auto zipped = [&](const std::string& options, const std::string& name) {
        const std::string path = dir_.file(name);
        EXPECT_EQ(qvtest::RunCommand("cd " + Quote(source.string()) + " && zip -q -X " + options +
                                     " " + Quote(path) + " data.txt"),
                  0);
        return path;
    };
    struct Case {
        std::string archive;
        const char* options;
    };
    const Case cases[] = {
        {zipped("-0", "stored.zip"), ""},
        {zipped("-6", "deflated.zip"), ""},
        {zipped("-P secret", "encrypted.zip"), "-s'secret'"},
        {qvtest::DataFile("zip/legacy/imploding-8Kdict-3trees.zip"), ""},
        {qvtest::DataFile("zip/legacy/imploding-4Kdict-2trees.zip"), ""},
        {qvtest::DataFile("zip/legacy/zip2-shrink.zip"), ""},
    };
    for (const Case& c : cases) {
        Bytes bytes = qvtest::ReadFile(c.archive);
        const size_t data = DataStart(bytes, 0);
        const size_t packed = bytes[18] | (bytes[19] << 8) | (bytes[20] << 16);
        const std::string bent = dir_.file("bent.zip");
        for (size_t at : {data + packed / 2, data + packed / 3}) {
            SCOPED_TRACE(c.archive + " byte " + std::to_string(at));
            Bytes copy = bytes;
            copy[at] ^= 0x10;
            qvtest::WriteFile(bent, copy);
            for (const char* mode : {"-o", "-t"}) {
                StatusCapture capture;
                const std::string options = std::string(mode) + " " + c.options;
                EXPECT_EQ(Qv4QUnZip(bent.c_str(), Out().string().c_str(), "*", options.c_str()),
                          QV_W_SKIPPED);
                EXPECT_EQ(capture.script().NoticeCodes(), std::vector<int16_t>{QV_E_DATA});
            }
        }
    }
}

TEST_F(Extract, DataCutShortEndsTheRun) {
    ZipEntry cut{"cut.txt", Text("short")};
    cut.centralCompressedSize = 1 << 20;  // claims more data than the archive holds
    const std::string archive = Archive({cut});
    EXPECT_EQ(Run(archive, "-t"), QV_E_EOF);
}

// ---- Existing files ---------------------------------------------------------------------------

struct Decision {
    const char* options;
    int16_t answer;    // to the overwrite question
    bool fileIsOlder;  // the existing file against the member (2001-02-03 04:05:06)
    ResultCode result;
    const char* content;  // of the file afterwards
    int questions;
};

TEST_F(Extract, ExistingFilesFollowTheOverwriteFreshenAndNewerRules) {
    const std::string archive = Archive({{"f.txt", Text("member")}});
    const Decision decisions[] = {
        {"", QV_ANSWER_NO, true, QV_OK, "file", 1},
        {"", QV_ANSWER_YES, true, QV_OK, "member", 1},
        {"", QV_ANSWER_CANCEL, true, QV_E_CANCELLED, "file", 1},
        {"-o", QV_ANSWER_NO, false, QV_OK, "member", 0},
        {"-o-", QV_ANSWER_YES, true, QV_OK, "file", 0},
        {"-f", QV_ANSWER_NO, true, QV_OK, "member", 0},
        {"-f", QV_ANSWER_YES, false, QV_OK, "file", 0},
        {"-n", QV_ANSWER_NO, true, QV_OK, "member", 0},
        {"-n", QV_ANSWER_YES, false, QV_OK, "file", 0},
        {"-f -o", QV_ANSWER_YES, false, QV_OK, "file", 0},  // freshen wins over -o
    };
    const fs::path file = Out() / "f.txt";
    for (const Decision& d : decisions) {
        SCOPED_TRACE(std::string(d.options) + " answer " + std::to_string(d.answer));
        fs::create_directories(Out());
        qvtest::WriteFile(file.string(), std::string("file"));
        SetTime(file, FixedLocalTime() + (d.fileIsOlder ? -3600 : 3600));
        StatusCapture capture;
        capture.script().overwriteAnswer = d.answer;
        EXPECT_EQ(Run(archive, d.options), d.result);
        EXPECT_EQ(qvtest::ReadFile(file.string()), Text(d.content));
        EXPECT_EQ(capture.script().Questions(), d.questions);
    }
}

TEST_F(Extract, WithoutAHostTheOverwriteQuestionIsAnsweredNo) {
    const std::string archive = Archive({{"f.txt", Text("member")}});
    fs::create_directories(Out());
    qvtest::WriteFile((Out() / "f.txt").string(), std::string("file"));
    Qv4SetCPrint(0);
    EXPECT_EQ(Run(archive, ""), QV_OK);
    EXPECT_EQ(qvtest::ReadFile((Out() / "f.txt").string()), Text("file"));
}

TEST_F(Extract, FreshenPassesOverMembersWithoutAFile) {
    const std::string archive = Archive({{"new.txt", Text("new")}});
    StatusCapture capture;
    EXPECT_EQ(Run(archive, "-f"), QV_OK);  // selected, not extracted, not skipped
    EXPECT_FALSE(fs::exists(Out() / "new.txt"));
    EXPECT_TRUE(capture.script().NoticeCodes().empty());
}

struct ReadOnlyCase {
    const char* options;
    ResultCode result;
    const char* content;
    std::vector<int16_t> notices;
};

TEST_F(Extract, ReadOnlyFilesAreReplacedOnlyWhenAskedFor) {
    const std::string archive = Archive({{"ro.txt", Text("member")}});
    const fs::path file = Out() / "ro.txt";
    const ReadOnlyCase cases[] = {
        {"-o", QV_W_SKIPPED, "file", {QV_E_FILE}},  // access denied
        {"-o -r+", QV_OK, "member", {}},
        {"-o -r-", QV_OK, "file", {}},
        {"-o -.O", QV_W_SKIPPED, "file", {}},  // silent, still a skip
    };
    for (const ReadOnlyCase& c : cases) {
        SCOPED_TRACE(c.options);
        fs::create_directories(Out());
        if (fs::exists(file)) fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
        qvtest::WriteFile(file.string(), std::string("file"));
        fs::permissions(file,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        StatusCapture capture;
        EXPECT_EQ(Run(archive, c.options), c.result);
        EXPECT_EQ(qvtest::ReadFile(file.string()), Text(c.content));
        EXPECT_EQ(capture.script().NoticeCodes(), c.notices);
    }
}

TEST_F(Extract, TestingWritesNothingAndAsksNothing) {
    fs::create_directories(Out());
    qvtest::WriteFile((Out() / "f.txt").string(), std::string("file"));
    const std::string archive = Archive({{"f.txt", Text("member")}, {"d/g.txt", Text("g"), 8}});
    StatusCapture capture;
    EXPECT_EQ(Run(archive, "-t -d"), QV_OK);
    EXPECT_EQ(capture.script().Questions(), 0);
    EXPECT_TRUE(SameTree({{"f.txt", Text("file")}}, ReadTree(Out())));
    for (const Report& r : capture.script().reports) EXPECT_EQ(r.operation, QV_OP_TESTING);
}

TEST_F(Extract, SpecificationsAndExclusionsChooseTheMembers) {
    const std::string archive = Archive({{"a.txt", Text("a")},
                                         {"b.txt", Text("b")},
                                         {"sub/c.txt", Text("c")},
                                         {"d.bin", Text("d")}});
    ArchiveHandle h = QV_NO_HANDLE;
    ASSERT_EQ(Qv4ZipOpen(archive.c_str(), QV_OPEN_READ, &h), QV_OK);
    EXPECT_EQ(Qv4UnZip(&h, Out().string().c_str(), "*.txt", "b.txt", "-d"), QV_OK);
    EXPECT_EQ(Qv4UnZip(&h, Out().string().c_str(), "*.zzz", nullptr, "-d"), QV_E_NOTHING);
    Qv4ZipClose(&h);
    EXPECT_TRUE(
        SameTree({{"a.txt", Text("a")}, {"sub/", {}}, {"sub/c.txt", Text("c")}}, ReadTree(Out())));
    EXPECT_EQ(Qv4UnZip(&h, nullptr, "*", nullptr, ""), QV_E_HANDLE);
    EXPECT_EQ(Qv4QUnZip(dir_.file("missing.zip").c_str(), nullptr, "*", ""), QV_E_BAD_NAME);
    EXPECT_EQ(Run(archive, "-q"), QV_E_OPTIONS);
}

TEST_F(Extract, TheHostCanCancelFromProgressOrANotice) {
    const std::string archive =
        Archive({{"big.txt", qvtest::TextBytes(400000, 5), 8}, {"after.txt", Text("after")}});
    {
        StatusCapture capture;
        capture.script().cancelAtProgress = 1;
        EXPECT_EQ(Run(archive, "-o"), QV_E_CANCELLED);
        EXPECT_FALSE(fs::exists(Out() / "after.txt"));
    }
    {
        StatusCapture capture;
        capture.script().noticeAnswer = QV_ANSWER_CANCEL;
        EXPECT_EQ(Qv4QUnZip(qvtest::DataFile("zip/made-infozip-encrypted-deflate.zip").c_str(),
                            Out().string().c_str(), "*", "-o"),
                  QV_E_CANCELLED);
        EXPECT_EQ(capture.script().NoticeCodes().size(), 1u);
    }
}

TEST_F(Extract, ProgressRunsFromZeroToTheSize) {
    const Bytes big = qvtest::TextBytes(300000, 9);
    const std::string archive = Archive({{"big.txt", big, 8}});
    for (const char* options : {"-o", "-t"}) {
        SCOPED_TRACE(options);
        StatusCapture capture;
        ASSERT_EQ(Run(archive, options), QV_OK);
        std::vector<Report> progress;
        for (const Report& r : capture.script().reports)
            if (r.kind == QV_STATUS_PROGRESS) progress.push_back(r);
        ASSERT_GE(progress.size(), 3u);
        EXPECT_EQ(progress.front().processed, 0u);
        EXPECT_EQ(progress.back().processed, big.size());
        for (const Report& r : progress) {
            EXPECT_EQ(r.total, big.size());
            EXPECT_LE(r.processed, big.size());
            if (std::string(options) == "-t" && &r != &progress.back()) {
                EXPECT_EQ(r.processed, 0u);
            }
        }
    }
}

TEST_F(Extract, AttributesAndTimesAreRestored) {
    ZipEntry readOnly{"ro.txt", Text("r")};
    readOnly.externalAttributes = 0x21;
    ZipEntry unixMade{"unix.txt", Text("u")};
    unixMade.versionMadeBy = 0x031E;
    unixMade.externalAttributes = 0x81240001;  // mode bits and a read-only bit: not DOS
    ZipEntry early{"early.txt", Text("e")};
    early.date = 0;  // before 1980: 1 January 1980
    early.time = 0;
    const std::string archive = Archive({readOnly, unixMade, early});
    ASSERT_EQ(Run(archive, ""), QV_OK);
    auto writable = [&](const char* name) {
        return (fs::status(Out() / name).permissions() & fs::perms::owner_write) != fs::perms::none;
    };
    EXPECT_FALSE(writable("ro.txt"));
    EXPECT_TRUE(writable("unix.txt"));
    EXPECT_EQ(WriteTimeOf(Out() / "ro.txt"), FixedLocalTime());
    std::tm t{};
    t.tm_year = 80, t.tm_mon = 0, t.tm_mday = 1, t.tm_isdst = -1;
    EXPECT_EQ(WriteTimeOf(Out() / "early.txt"), std::mktime(&t));

    // The read-only mask keeps the file writable.
    fs::permissions(Out() / "ro.txt", fs::perms::owner_write, fs::perm_options::add);
    ASSERT_EQ(Run(archive, "-o -jR"), QV_OK);
    EXPECT_TRUE(writable("ro.txt"));
}

TEST_F(Extract, LongNamesComeFromThePrivateExtraField) {
    const std::string longName = "A rather long name.text";
    std::string block = "QW";
    block += static_cast<char>(longName.size() + 2);
    block += '\0';
    block += "Vx" + longName;
    ZipEntry e{"ARATHE~1.TEX", Text("long")};
    e.extra = block;
    const std::string archive = Archive({e});
    ASSERT_EQ(Run(archive, "-.L"), QV_OK);
    EXPECT_TRUE(fs::exists(Out() / longName));
    ASSERT_EQ(Run(archive, ""), QV_OK);
    EXPECT_TRUE(fs::exists(Out() / "ARATHE~1.TEX"));
}

TEST_F(Extract, PathFiltersRewriteOutputPathsUnderTheDriveOption) {
    const std::string archive = Archive({{"OLD/SUB/f.txt", Text("f")}, {"OTHER/g.txt", Text("g")}});
    const std::string base = Out().string() + "/";
    ASSERT_EQ(Qv4AddUnZipPathFilter((base + "OLD").c_str(), (base + "NEW").c_str()), QV_OK);
    ASSERT_EQ(Run(archive, "-d -.D"), QV_OK);
    EXPECT_TRUE(SameTree({{"NEW/", {}},
                          {"NEW/SUB/", {}},
                          {"NEW/SUB/f.txt", Text("f")},
                          {"OTHER/", {}},
                          {"OTHER/g.txt", Text("g")}},
                         ReadTree(Out())));
    // They served that one extraction.
    fs::remove_all(Out());
    ASSERT_EQ(Run(archive, "-d -.D"), QV_OK);
    EXPECT_TRUE(fs::exists(Out() / "OLD" / "SUB" / "f.txt"));
}

// The member carries version 2.0.0.5 in its private extra field.
std::string VersionBlock(Bytes version) {
    std::string block = {'Q', 'W', 10, 0, 'V', 'X'};
    block.append(version.begin(), version.end());
    return block;
}

struct VersionCase {
    const char* options;
    uint32_t existingMs, existingLs;  // 0, 0: the existing file has no version resource
    bool replaced;
};

TEST_F(Extract, VersionOptionsCompareTheMemberWithTheExistingProgram) {
    ZipEntry program("prog.exe", Text("new program"));
    program.extra = VersionBlock({0, 2, 0, 0, 0, 0, 0, 5});
    ZipEntry plain("plain.exe", Text("new plain"));  // no version of its own
    const std::string archive = Archive({program, plain});
    const VersionCase cases[] = {
        {"-.V", 0x00020000, 0x00000004, true},   // older file
        {"-.V", 0x00020000, 0x00000005, false},  // same version
        {"-.VE", 0x00020000, 0x00000005, true},
        {"-.VE", 0x00020000, 0x00000006, false},  // newer file
        {"-.V", 0x00010000, 0x0000FFFF, true},    // bytes compare most significant first
        {"-.V", 0, 0, true},                      // a file without a version is replaced
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " " + std::to_string(c.existingLs));
        fs::create_directories(Out());
        const Bytes existing = c.existingMs || c.existingLs
                                   ? MakePeImage(false, c.existingMs, c.existingLs)
                                   : Text("old program, no version");
        qvtest::WriteFile((Out() / "prog.exe").string(), existing);
        qvtest::WriteFile((Out() / "plain.exe").string(), std::string("old plain"));
        StatusCapture capture;
        capture.script().overwriteAnswer = QV_ANSWER_NO;
        EXPECT_EQ(Run(archive, c.options), QV_OK);
        EXPECT_EQ(qvtest::ReadFile((Out() / "prog.exe").string()),
                  c.replaced ? Text("new program") : existing);
        // Without version data the member falls back to the overwrite question (answered No).
        EXPECT_EQ(qvtest::ReadFile((Out() / "plain.exe").string()), Text("old plain"));
        EXPECT_EQ(capture.script().Questions(), 1);
    }
}

TEST_F(Extract, VolumeLabelsAreRestoredOnlyWhenAskedFor) {
    ZipEntry label("MYDISK", {});
    label.externalAttributes = 0x08;
    const std::string archive = Archive({label, {"f.txt", Text("f")}});
    qvtest::SimulatedDrive drive(dir_.path() / "media", 1);
    drive.Insert(1);
    const std::string destination = drive.drive() + "/";
    EXPECT_EQ(Qv4QUnZip(archive.c_str(), destination.c_str(), "*", "-o"), QV_W_SKIPPED);
    EXPECT_EQ(drive.DiskLabel(1), "");
    EXPECT_EQ(Qv4QUnZip(archive.c_str(), destination.c_str(), "*", "-o -$"), QV_OK);
    EXPECT_EQ(drive.DiskLabel(1), "MYDISK");
    EXPECT_EQ(Qv4QUnZip(archive.c_str(), nullptr, "*", "-t"), QV_OK);  // tested, not set
    // A label that cannot be set (no removable drive there) counts as skipped.
    EXPECT_EQ(
        Qv4QUnZip(archive.c_str(), (dir_.path() / "elsewhere").string().c_str(), "*", "-o -$"),
        QV_W_SKIPPED);
}

}  // namespace
