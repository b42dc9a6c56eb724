// The POSIX platform layer behaves as Windows does where the library relies on it.
#include "os.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "test_support.h"

namespace {

using namespace qv::os;
using qvtest::ScratchDir;

TEST(Files, ShareModesAreEnforcedWithinTheProcess) {
    ScratchDir dir;
    const std::string f = dir.file("a.bin");
    qvtest::WriteFile(f, std::string("data"));
    const FileHandle excl = CreateFile(f, kGenericReadWrite, kShareNone, kOpenExisting, 0);
    ASSERT_NE(excl, kInvalidHandle);
    EXPECT_EQ(CreateFile(f, kGenericRead, kShareRead | kShareWrite, kOpenExisting, 0), kInvalidHandle);
    EXPECT_EQ(LastError(), kErrorSharingViolation);
    EXPECT_FALSE(DeleteFile(f));
    CloseHandle(excl);
    const FileHandle r1 = CreateFile(f, kGenericRead, kShareRead, kOpenExisting, 0);
    const FileHandle r2 = CreateFile(f, kGenericRead, kShareRead, kOpenExisting, 0);
    EXPECT_NE(r1, kInvalidHandle);
    EXPECT_NE(r2, kInvalidHandle);
    EXPECT_EQ(CreateFile(f, kGenericWrite, kShareRead, kOpenExisting, 0), kInvalidHandle);
    CloseHandle(r1);
    CloseHandle(r2);
    EXPECT_TRUE(DeleteFile(f));
}

TEST(Files, DispositionsAndCaseInsensitiveLookup) {
    ScratchDir dir;
    const std::string f = dir.file("Backup.ZIP");
    EXPECT_EQ(CreateFile(f, kGenericRead, 0, kOpenExisting, 0), kInvalidHandle);
    EXPECT_EQ(LastError(), kErrorFileNotFound);
    FileHandle h = CreateFile(f, kGenericReadWrite, 0, kCreateNew, 0);
    ASSERT_NE(h, kInvalidHandle);
    uint32_t done = 0;
    ASSERT_TRUE(WriteFile(h, "hello", 5, &done));
    EXPECT_EQ(GetFileSize(h), 5u);
    EXPECT_EQ(SetFilePointer(h, 2, kFileBegin), 2u);
    EXPECT_TRUE(SetEndOfFile(h));
    EXPECT_EQ(GetFileSize(h), 2u);
    EXPECT_EQ(SetFilePointer(h, -3, kFileCurrent), kInvalidPosition);
    CloseHandle(h);
    EXPECT_EQ(CreateFile(f, kGenericRead, 0, kCreateNew, 0), kInvalidHandle);
    // "backup.zip" finds Backup.ZIP; a new file keeps the name it was given.
    h = CreateFile(dir.file("backup.zip"), kGenericRead, kShareRead, kOpenExisting, 0);
    ASSERT_NE(h, kInvalidHandle);
    CloseHandle(h);
    h = CreateFile(dir.file("BACKUP.zip"), kGenericReadWrite, 0, kCreateAlways, 0);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(GetFileSize(h), 0u);
    CloseHandle(h);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(Files, ReadOnlyAttributeBlocksWritesAndDeletes) {
    ScratchDir dir;
    const std::string f = dir.file("ro.txt");
    qvtest::WriteFile(f, std::string("x"));
    ASSERT_TRUE(SetFileAttributes(f, kAttrReadOnly));
    EXPECT_EQ(GetFileAttributes(f) & (kAttrReadOnly | kAttrArchive), kAttrReadOnly | kAttrArchive);
    EXPECT_EQ(CreateFile(f, kGenericWrite, 0, kOpenExisting, 0), kInvalidHandle);
    EXPECT_FALSE(DeleteFile(f));
    ASSERT_TRUE(SetFileAttributes(f, kAttrNormal));
    EXPECT_EQ(GetFileAttributes(f) & kAttrReadOnly, 0u);
    EXPECT_TRUE(DeleteFile(f));
    EXPECT_EQ(GetFileAttributes(dir.path().string()) & kAttrDirectory, kAttrDirectory);
    qvtest::WriteFile(dir.file(".hidden"), std::string("x"));
    EXPECT_EQ(GetFileAttributes(dir.file(".hidden")) & kAttrHidden, kAttrHidden);
}

TEST(Search, WindowsWildcards) {
    ScratchDir dir;
    for (const char* n : {"a.txt", "B.TXT", "c.doc", "noext", "x.tar.gz"})
        qvtest::WriteFile(dir.file(n), std::string("x"));
    auto find = [&](const std::string& pattern) {
        std::set<std::string> names;
        FindData fd;
        FindHandle h = FindFirstFile(dir.file(pattern), &fd);
        if (h == kInvalidFind) return names;
        do {
            names.insert(fd.name);
        } while (FindNextFile(h, &fd));
        FindClose(h);
        return names;
    };
    using S = std::set<std::string>;
    EXPECT_EQ(find("*.txt"), (S{"a.txt", "B.TXT"}));
    EXPECT_EQ(find("*"), (S{".", "..", "a.txt", "B.TXT", "c.doc", "noext", "x.tar.gz"}));
    EXPECT_EQ(find("*.*"), find("*"));
    EXPECT_EQ(find("?.TXT"), (S{"a.txt", "B.TXT"}));
    EXPECT_EQ(find("*."), (S{".", "..", "noext"}));  // as Windows reports them
    EXPECT_EQ(find("noext.*"), (S{"noext"}));
    EXPECT_EQ(find("*.gz"), (S{"x.tar.gz"}));
    EXPECT_EQ(find("b.txt"), (S{"B.TXT"}));
    EXPECT_TRUE(find("*.zip").empty());
    FindData fd;
    EXPECT_EQ(FindFirstFile(dir.file("missing/*"), &fd), kInvalidFind);
}

TEST(Times, DosConversionsAndRange) {
    SystemTime s{2026, 12, 0, 10, 13, 45, 31, 0};
    FileTime ft = 0;
    ASSERT_TRUE(SystemTimeToFileTime(s, &ft));
    uint16_t date = 0, time = 0;
    ASSERT_TRUE(FileTimeToDosDateTime(ft, &date, &time));
    EXPECT_EQ(date, ((2026 - 1980) << 9) | (12 << 5) | 10);
    EXPECT_EQ(time, (13 << 11) | (45 << 5) | 15);
    FileTime back = 0;
    ASSERT_TRUE(DosDateTimeToFileTime(date, time, &back));
    EXPECT_EQ(back, ft - 10'000'000);  // seconds kept to two
    SystemTime old{1979, 12, 0, 31, 0, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToFileTime(old, &ft));
    EXPECT_FALSE(FileTimeToDosDateTime(ft, &date, &time));
    SystemTime late{2108, 1, 0, 1, 0, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToFileTime(late, &ft));
    EXPECT_FALSE(FileTimeToDosDateTime(ft, &date, &time));
    SystemTime bad{2023, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(bad, &ft));
    // Local time round trip.
    FileTime local = 0, utc = 0;
    ASSERT_TRUE(SystemTimeToFileTime(s, &ft));
    ASSERT_TRUE(FileTimeToLocalFileTime(ft, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(local, &utc));
    EXPECT_EQ(utc, ft);
}

TEST(Paths, FullPathsAndTempFiles) {
    EXPECT_EQ(GetFullPathName("/a/b/../c/./d"), "/a/c/d");
    EXPECT_EQ(GetFullPathName("\\x\\y\\"), "/x/y/");
    EXPECT_EQ(GetFullPathName("rel"), GetCurrentDirectory() + "/rel");
    ScratchDir dir;
    const std::string a = GetTempFileName(dir.path().string(), "QVT");
    const std::string b = GetTempFileName(dir.path().string(), "QVT");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_TRUE(std::filesystem::exists(a));
    EXPECT_EQ(std::filesystem::path(a).filename().string().substr(0, 3), "QVT");
}

TEST(DateOrder, OverrideWins) {
    SetDateOrderOverride(2);
    EXPECT_EQ(DateOrder(), 2);
    SetDateOrderOverride(-1);
    EXPECT_GE(DateOrder(), 0);
    EXPECT_LE(DateOrder(), 2);
}

}  // namespace
