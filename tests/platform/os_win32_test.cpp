// The Win32 platform layer: what the library relies on holds when each call is the system's.
#ifdef _WIN32

#include "os.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "test_support.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h names its A/W pairs with macros that would hide the layer's own functions.
#undef AnsiToOem
#undef CharUpper
#undef CopyFile
#undef CreateDirectory
#undef CreateFile
#undef DeleteFile
#undef FindFirstFile
#undef FindNextFile
#undef GetCurrentDirectory
#undef GetFileAttributes
#undef GetFullPathName
#undef GetTempFileName
#undef GetTempPath
#undef MessageBox
#undef MoveFile
#undef OemToAnsi
#undef RemoveDirectory
#undef SetCurrentDirectory
#undef SetFileAttributes

namespace {

using namespace qv::os;
using qvtest::ScratchDir;

TEST(Win32Files, HandlesCarryReadsWritesSeeksAndShareModes) {
    ScratchDir dir;
    const std::string f = dir.file("a.bin");
    const FileHandle h = CreateFile(f, kGenericReadWrite, kShareNone, kCreateNew, kAttrNormal);
    ASSERT_NE(h, kInvalidHandle);
    uint32_t done = 0;
    ASSERT_TRUE(WriteFile(h, "hello, world", 12, &done));
    EXPECT_EQ(done, 12u);
    EXPECT_EQ(GetFileSize(h), 12u);
    EXPECT_EQ(SetFilePointer(h, -5, kFileEnd), 7u);
    char buf[8] = {};
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &done));
    EXPECT_EQ(std::string(buf, done), "world");
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &done));
    EXPECT_EQ(done, 0u) << "end of file reads nothing";
    EXPECT_EQ(SetFilePointer(h, -20, kFileCurrent), kInvalidPosition);
    EXPECT_EQ(SetFilePointer(h, 5, kFileBegin), 5u);
    EXPECT_TRUE(SetEndOfFile(h));
    EXPECT_EQ(GetFileSize(h), 5u);

    // The exclusive open keeps every other open and the delete out.
    EXPECT_EQ(CreateFile(f, kGenericRead, kShareRead | kShareWrite, kOpenExisting, 0), kInvalidHandle);
    EXPECT_EQ(LastError(), kErrorSharingViolation);
    EXPECT_FALSE(DeleteFile(f));
    ASSERT_TRUE(CloseHandle(h));

    const FileHandle r = CreateFile(f, kGenericRead, kShareRead, kOpenExisting, 0);
    ASSERT_NE(r, kInvalidHandle);
    EXPECT_EQ(CreateFile(f, kGenericWrite, kShareRead, kOpenExisting, 0), kInvalidHandle);
    ASSERT_TRUE(CloseHandle(r));
    EXPECT_TRUE(DeleteFile(f));

    EXPECT_FALSE(CloseHandle(kInvalidHandle));
    EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

TEST(Win32Files, FailuresReportTheWin32Errors) {
    ScratchDir dir;
    const std::string f = dir.file("x.txt");
    qvtest::WriteFile(f, std::string("x"));
    struct Case {
        std::string name;
        uint32_t disposition;
        uint32_t error;
    };
    const Case cases[] = {
        {dir.file("missing.txt"), kOpenExisting, kErrorFileNotFound},
        {dir.file("no\\such\\dir.txt"), kOpenExisting, kErrorPathNotFound},
        {f, kCreateNew, kErrorFileExists},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CreateFile(c.name, kGenericRead, kShareRead, c.disposition, 0), kInvalidHandle) << c.name;
        EXPECT_EQ(LastError(), c.error) << c.name;
    }
    // Replacing an existing file succeeds and says the file was there.
    const FileHandle h = CreateFile(f, kGenericWrite, 0, kCreateAlways, 0);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(LastError(), kErrorAlreadyExists);
    CloseHandle(h);
}

TEST(Win32Files, AttributesAndReadOnly) {
    ScratchDir dir;
    const std::string f = dir.file("ro.txt");
    qvtest::WriteFile(f, std::string("x"));
    ASSERT_TRUE(SetFileAttributes(f, kAttrReadOnly | kAttrHidden));
    EXPECT_EQ(GetFileAttributes(f) & (kAttrReadOnly | kAttrHidden | kAttrDirectory),
              kAttrReadOnly | kAttrHidden);
    for (uint32_t disposition : {kOpenExisting, kTruncateExisting, kCreateAlways}) {
        const FileHandle h = CreateFile(f, kGenericWrite, 0, disposition, 0);
        EXPECT_EQ(h, kInvalidHandle) << "disposition " << disposition;
        if (h != kInvalidHandle) CloseHandle(h);
        EXPECT_EQ(LastError(), kErrorAccessDenied);
    }
    const FileHandle r = CreateFile(f, kGenericRead, kShareRead, kOpenExisting, 0);
    EXPECT_NE(r, kInvalidHandle) << "reading stays allowed";
    CloseHandle(r);
    EXPECT_FALSE(DeleteFile(f));
    ASSERT_TRUE(SetFileAttributes(f, kAttrNormal));
    EXPECT_TRUE(DeleteFile(f));
    EXPECT_EQ(GetFileAttributes(f), kInvalidAttributes);
    EXPECT_EQ(GetFileAttributes(dir.path().string()) & kAttrDirectory, kAttrDirectory);
}

TEST(Win32Files, CopyMoveAndDirectories) {
    ScratchDir dir;
    const std::string a = dir.file("a.txt"), b = dir.file("b.txt"), c = dir.file("c.txt");
    qvtest::WriteFile(a, std::string("payload"));
    ASSERT_TRUE(CopyFile(a, b, true));
    EXPECT_FALSE(CopyFile(a, b, true)) << "failIfExists keeps the destination";
    EXPECT_TRUE(CopyFile(a, b, false));
    EXPECT_FALSE(MoveFile(a, b)) << "a move never replaces a file";
    ASSERT_TRUE(MoveFile(a, c));
    EXPECT_EQ(qvtest::ReadFile(c), qvtest::ReadFile(b));
    const std::string sub = dir.file("sub");
    ASSERT_TRUE(CreateDirectory(sub));
    EXPECT_FALSE(CreateDirectory(sub));
    EXPECT_EQ(LastError(), kErrorAlreadyExists);
    EXPECT_TRUE(RemoveDirectory(sub));
}

TEST(Win32Times, FileTimesRoundTripToTheHundredNanoseconds) {
    ScratchDir dir;
    const std::string f = dir.file("t.bin");
    const FileHandle h = CreateFile(f, kGenericReadWrite, 0, kCreateNew, 0);
    ASSERT_NE(h, kInvalidHandle);
    SystemTime s{2004, 2, 0, 29, 23, 59, 58, 0};
    FileTime written = 0;
    ASSERT_TRUE(SystemTimeToFileTime(s, &written));
    written += 1234567;  // below a second: kept by the file system
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &written));
    FileTime lastWrite = 0;
    ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &lastWrite));
    EXPECT_EQ(lastWrite, written);
    SystemTime back{};
    ASSERT_TRUE(FileTimeToSystemTime(lastWrite, &back));
    EXPECT_EQ(back.year, 2004);
    EXPECT_EQ(back.month, 2);
    EXPECT_EQ(back.day, 29);
    EXPECT_EQ(back.dayOfWeek, 0) << "29 February 2004 was a Sunday";
    EXPECT_EQ(back.second, 58);
    EXPECT_EQ(back.milliseconds, 123);
    EXPECT_EQ(CompareFileTime(written, written + 1), -1);
    EXPECT_EQ(CompareFileTime(written, written), 0);
    CloseHandle(h);
}

TEST(Win32Times, DosDateAndTimeLimits) {
    struct Case {
        SystemTime time;
        bool fits;
        uint16_t date, dosTime;
    };
    const Case cases[] = {
        {{1980, 1, 0, 1, 0, 0, 0, 0}, true, (0 << 9) | (1 << 5) | 1, 0},
        {{2107, 12, 0, 31, 23, 59, 59, 0}, true, (127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},
        {{2026, 12, 0, 10, 13, 45, 31, 0}, true, (46 << 9) | (12 << 5) | 10, (13 << 11) | (45 << 5) | 15},
        {{1979, 12, 0, 31, 23, 59, 59, 0}, false, 0, 0},
        {{2108, 1, 0, 1, 0, 0, 0, 0}, false, 0, 0},
    };
    for (const Case& c : cases) {
        FileTime ft = 0;
        ASSERT_TRUE(SystemTimeToFileTime(c.time, &ft));
        uint16_t date = 0, time = 0;
        EXPECT_EQ(FileTimeToDosDateTime(ft, &date, &time), c.fits) << c.time.year;
        if (!c.fits) continue;
        EXPECT_EQ(date, c.date) << c.time.year;
        EXPECT_EQ(time, c.dosTime) << c.time.year;
        FileTime back = 0;
        ASSERT_TRUE(DosDateTimeToFileTime(date, time, &back));
        EXPECT_EQ(back, ft - (c.time.second % 2) * 10'000'000ull) << "seconds kept to two";
    }
    SystemTime bad{2023, 2, 0, 29, 0, 0, 0, 0};
    FileTime ft = 0;
    EXPECT_FALSE(SystemTimeToFileTime(bad, &ft));
    EXPECT_FALSE(DosDateTimeToFileTime(0, 0, &ft)) << "month 0, day 0";
    EXPECT_FALSE(DosDateTimeToFileTime((1 << 5) | 1, 30, &ft)) << "60 seconds";
    // Local time and back.
    SystemTime s{2026, 7, 0, 1, 12, 0, 0, 0};
    FileTime utc = 0, local = 0, again = 0;
    ASSERT_TRUE(SystemTimeToFileTime(s, &utc));
    ASSERT_TRUE(FileTimeToLocalFileTime(utc, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(local, &again));
    EXPECT_EQ(again, utc);
}

TEST(Win32Search, WildcardsAndShortNames) {
    ScratchDir dir;
    for (const char* n : {"A.TXT", "b.txt", "Long File Name.text", "noext"})
        qvtest::WriteFile(dir.file(n), std::string("xyz"));
    ASSERT_TRUE(CreateDirectory(dir.file("SUB")));
    std::set<std::string> names;
    FindData fd;
    FindHandle h = FindFirstFile(dir.file("*"), &fd);
    ASSERT_NE(h, kInvalidFind);
    std::string shortOfLong;
    do {
        names.insert(fd.name);
        if (fd.name == "A.TXT") {
            EXPECT_EQ(fd.shortName, "") << "an 8.3 name has no alias";
            EXPECT_EQ(fd.size, 3u);
            EXPECT_EQ(fd.attributes & kAttrDirectory, 0u);
            EXPECT_NE(fd.lastWriteTime, 0u);
        }
        if (fd.name == "SUB") {
            EXPECT_EQ(fd.attributes & kAttrDirectory, kAttrDirectory);
        }
        if (fd.name == "Long File Name.text") shortOfLong = fd.shortName;
    } while (FindNextFile(h, &fd));
    EXPECT_EQ(LastError(), kErrorNoMoreFiles);
    FindClose(h);
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "A.TXT", "b.txt", "Long File Name.text", "noext", "SUB"}));

    // The alias is a valid 8.3 name that finds the long one.
    ASSERT_FALSE(shortOfLong.empty());
    EXPECT_LE(shortOfLong.size(), 12u);
    EXPECT_EQ(shortOfLong.find(' '), std::string::npos);
    h = FindFirstFile(dir.file(shortOfLong), &fd);
    ASSERT_NE(h, kInvalidFind);
    EXPECT_EQ(fd.name, "Long File Name.text");
    FindClose(h);

    h = FindFirstFile(dir.file("*.TXT"), &fd);
    ASSERT_NE(h, kInvalidFind);
    names.clear();
    do {
        names.insert(fd.name);
    } while (FindNextFile(h, &fd));
    FindClose(h);
    EXPECT_EQ(names, (std::set<std::string>{"A.TXT", "b.txt"}));
    EXPECT_EQ(FindFirstFile(dir.file("*.zip"), &fd), kInvalidFind);
    EXPECT_EQ(FindFirstFile(dir.file("missing\\*"), &fd), kInvalidFind);
    EXPECT_EQ(LastError(), kErrorPathNotFound);
}

TEST(Win32Search, FoldersCarryTheIdentityOfWhatTheyAre) {
    // Walkers search each folder once by this identity: the same folder reached as "sub" and
    // as "sub\." is the same, two folders differ, and files carry none.
    ScratchDir dir;
    ASSERT_TRUE(CreateDirectory(dir.file("sub")));
    ASSERT_TRUE(CreateDirectory(dir.file("other")));
    const FileHandle f =
        CreateFile(dir.file("file.txt"), kGenericWrite, kShareNone, kCreateNew, kAttrNormal);
    ASSERT_NE(f, kInvalidHandle);
    CloseHandle(f);
    auto identity = [](const std::string& pattern) {
        FindData fd;
        const FindHandle h = FindFirstFile(pattern, &fd);
        EXPECT_NE(h, kInvalidFind) << pattern;
        FindClose(h);
        return std::make_pair(fd.volumeSerial, fd.fileIndex);
    };
    const auto sub = identity(dir.file("sub"));
    EXPECT_NE(sub.second, 0u);
    EXPECT_EQ(identity(dir.file("sub") + "\\."), sub);
    EXPECT_NE(identity(dir.file("other")), sub);
    EXPECT_EQ(identity(dir.file("file.txt")), std::make_pair(uint64_t{0}, uint64_t{0}));
    // Found by a later FindNextFile too.
    FindData fd;
    const FindHandle h = FindFirstFile(dir.file("*"), &fd);
    ASSERT_NE(h, kInvalidFind);
    bool seen = false;
    do {
        if (fd.name == "sub") seen = std::make_pair(fd.volumeSerial, fd.fileIndex) == sub;
    } while (FindNextFile(h, &fd));
    FindClose(h);
    EXPECT_TRUE(seen);
}

TEST(Win32Paths, TemporaryNamesAndFullPaths) {
    const std::string temp = GetTempPath();
    ASSERT_FALSE(temp.empty());
    EXPECT_TRUE(IsSeparator(temp.back()));
    ScratchDir dir;
    const std::string a = GetTempFileName(dir.path().string(), "QVT");
    const std::string b = GetTempFileName(dir.path().string(), "QVT");
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_NE(a, b);
    for (const std::string& name : {a, b}) {
        const std::string base = std::filesystem::path(name).filename().string();
        EXPECT_EQ(base.substr(0, 3), "QVT") << name;
        EXPECT_EQ(CharUpper(base.substr(base.size() - 4)), ".TMP") << name;
        EXPECT_TRUE(std::filesystem::exists(name)) << "made, empty, so the name stays taken";
        EXPECT_EQ(std::filesystem::file_size(name), 0u);
    }

    const std::string cwd = GetCurrentDirectory();
    ASSERT_FALSE(cwd.empty());
    ASSERT_TRUE(SetCurrentDirectory(dir.path().string()));
    const std::string here = GetCurrentDirectory();
    EXPECT_EQ(GetFullPathName("x\\..\\y/./z.zip"), here + "\\y\\z.zip");
    EXPECT_TRUE(GetFullPathName("").empty());
    ASSERT_TRUE(SetCurrentDirectory(cwd));
}

TEST(Win32CodePages, NamesConvertBetweenThePages) {
    // Plain ASCII is the same in every page, and upper-casing is the system's.
    EXPECT_EQ(AnsiToOem("Backup-2024_v1.ZIP"), "Backup-2024_v1.ZIP");
    EXPECT_EQ(OemToAnsi("README.TXT"), "README.TXT");
    EXPECT_EQ(CharUpper("backup.zip"), "BACKUP.ZIP");
    if (::GetACP() != 1252 || ::GetOEMCP() != 437)
        GTEST_SKIP() << "the cases below are for ANSI 1252 with OEM 437";
    // e acute is 0xE9 in 1252 and 0x82 in 437; the euro sign (0x80 in 1252) is not in 437 and
    // becomes "_", never the wildcard "?".
    EXPECT_EQ(AnsiToOem("caf\xE9.txt"), "caf\x82.txt");
    EXPECT_EQ(OemToAnsi("caf\x82.txt"), "caf\xE9.txt");
    EXPECT_EQ(AnsiToOem("\x80uro.txt"), "_uro.txt");
    EXPECT_EQ(CharUpper("caf\xE9"), "CAF\xC9");
    for (int c = 0x20; c <= 0xFF; ++c) {
        const std::string oem = AnsiToOem(std::string(1, static_cast<char>(c)));
        ASSERT_EQ(oem.size(), 1u) << c;
        if (c != '?') {
            EXPECT_NE(oem[0], '?') << "ANSI byte " << c;
        }
    }
}

TEST(Win32CodePages, CopyAnsiCutStopsAtTheBuffer) {
    char buf[6];
    EXPECT_TRUE(CopyAnsiCut("abcde", buf, sizeof buf));
    EXPECT_STREQ(buf, "abcde");
    EXPECT_FALSE(CopyAnsiCut("abcdefgh", buf, sizeof buf));
    EXPECT_STREQ(buf, "abcde");
    EXPECT_TRUE(CopyAnsiCut("", buf, 0));
    EXPECT_FALSE(CopyAnsiCut("a", buf, 0));
}

TEST(Win32Settings, MessageBoxHandlerAndDateOrder) {
    std::string seen;
    SetMessageBoxHandler([&](std::string_view text, std::string_view caption, uint32_t) {
        seen = std::string(caption) + ": " + std::string(text);
        return kIdYes;
    });
    EXPECT_EQ(MessageBox("Overwrite?", "UnZipping", kMbYesNoCancel | kMbIconQuestion), kIdYes);
    EXPECT_EQ(seen, "UnZipping: Overwrite?");
    SetMessageBoxHandler(nullptr);
    PeekMessages();  // returns at once with nothing queued

    const int system = DateOrder();
    EXPECT_EQ(system, static_cast<int>(::GetProfileIntA("intl", "iDate", 0)));
    SetDateOrderOverride(2);
    EXPECT_EQ(DateOrder(), 2);
    SetDateOrderOverride(-1);
    EXPECT_EQ(DateOrder(), system);
}

TEST(Win32Volumes, AnyPathOnAVolumeAnswersForThatVolume) {
    ScratchDir dir;
    const std::string deep = dir.path().string() + "\\";
    const std::string root = deep.substr(0, 3);  // "C:\"
    ASSERT_EQ(root[1], ':');
    VolumeService& v = Volumes();
    const uint32_t type = v.DriveType(root);
    EXPECT_NE(type, kDriveUnknown);
    EXPECT_NE(type, kDriveNoRootDir);
    // A directory, or the current directory given relatively, is not a root to Windows; the
    // layer asks about the volume that holds it.
    EXPECT_EQ(v.DriveType(deep), type);
    uint64_t freeBytes = 0;
    EXPECT_TRUE(v.FreeSpace(deep, &freeBytes));
    EXPECT_GT(freeBytes, 0u);
    std::string label = "unset";
    EXPECT_TRUE(v.GetLabel(deep, &label));
    EXPECT_NE(label, "unset");
    EXPECT_EQ(v.DriveType("Q:\\no\\such\\volume\\"), kDriveNoRootDir);
}

}  // namespace

#endif  // _WIN32
