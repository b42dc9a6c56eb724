// The file list: walking a small tree with specifications, filters and stored-name forms.
#include "file_list.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "file_primitives.h"
#include "open_names.h"
#include "option_parser.h"
#include "os.h"
#include "qvarc32.h"
#include "test_support.h"

namespace {

using namespace qv;
namespace fs = std::filesystem;
using Names = std::set<std::string>;

constexpr uint16_t Dos(unsigned year, unsigned month, unsigned day) {
    return static_cast<uint16_t>((year - 1980) * 512 + month * 32 + day);
}

Names StoredNames(const FileList& list) {
    Names names;
    for (const FileEntry& e : list) names.insert(e.storedName);
    return names;
}

// root/
//   a.txt  b.doc  .hidden.txt
//   sub/c.txt  sub/deeper/d.txt
//   other/a.txt
class FileListTree : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.path() / "sub" / "deeper");
        fs::create_directories(dir.path() / "other");
        for (const char* name :
             {"a.txt", "b.doc", ".hidden.txt", "sub/c.txt", "sub/deeper/d.txt", "other/a.txt"})
            qvtest::WriteFile(dir.file(name), std::string("contents of ") + name);
    }
    // The tree's folder with a trailing separator.
    std::string Root() const { return dir.path().string() + "/"; }
    // The tree's folder as a stored full-path directory: without drive and root separator.
    std::string StoredRoot() const { return Root().substr(DrivePrefix().size() + 1); }
    // "C:" where there are drive letters.
    std::string DrivePrefix() const {
        const std::string root = Root();
        return root.size() > 2 && root[1] == ':' ? root.substr(0, 2) : "";
    }

    Result Build(FileList& list, const std::string& spec, uint32_t flags,
                 const std::string& exclude = "", uint16_t after = 0, uint16_t before = 0) {
        return BuildFileList(list, spec, exclude, flags, after, before);
    }

    qvtest::ScratchDir dir;
};

TEST_F(FileListTree, SpecificationsAndStoredNames) {
    const uint32_t kRecRel = ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS;
    struct {
        const char* spec;  // relative to the tree; "@" stands for the tree's folder
        uint32_t flags;
        const char* exclude;
        Names expected;
    } cases[] = {
        {"@*.txt", 0, "", {"a.txt"}},
        {"@*.txt", ZIPOPT_HIDDEN, "", {".hidden.txt", "a.txt"}},
        {"@", 0, "", {"a.txt", "b.doc"}},  // a bare directory: every file in it
        {"@*.txt", kRecRel, "", {"a.txt", "sub\\c.txt", "sub\\deeper\\d.txt", "other\\a.txt"}},
        {"@*",
         kRecRel,
         "",
         {"a.txt", "b.doc", "other", "sub", "other\\a.txt", "sub\\c.txt", "sub\\deeper",
          "sub\\deeper\\d.txt"}},
        // Without stored directories the two a.txt share a name: the first one found wins.
        {"@*.txt", ZIPOPT_RECURSE, "", {"a.txt", "c.txt", "d.txt"}},
        // An exact name is found only in the directory it names.
        {"@a.txt", kRecRel, "", {"a.txt"}},
        {"@*.txt", kRecRel, "a.txt", {"sub\\c.txt", "sub\\deeper\\d.txt"}},
        {"@*.txt", kRecRel, "*.txt *.doc", {}},
        {"@a.txt @A.TXT @b.doc", 0, "", {"a.txt", "b.doc"}},  // named twice, entered once
        {"@sub/*.txt @*.doc", 0, "", {"c.txt", "b.doc"}},
        {"@*.txt", ZIPOPT_FULL_DIRS, "", {"@a.txt"}},
        {"@*", ZIPOPT_FULL_DIRS, "", {"@a.txt", "@b.doc", "@other", "@sub"}},
        {"@sub/../*.doc", ZIPOPT_FULL_DIRS, "", {"@b.doc"}},
        {"@*.doc", ZIPOPT_DRIVE, "", {"%b.doc"}},  // "C:B.DOC", or no drive at all
    };
    auto expand = [this](const std::string& s, const std::string& by) {
        std::string out;
        for (char c : s) out += c == '@' ? by : c == '%' ? DrivePrefix() : std::string(1, c);
        return out;
    };
    for (const auto& c : cases) {
        FileList list;
        const std::string spec = expand(c.spec, Root());
        Names expected;
        for (const auto& n : c.expected) expected.insert(expand(n, StoredRoot()));
        EXPECT_EQ(Build(list, spec, c.flags, c.exclude).code,
                  expected.empty() ? QV_E_NOTHING : QV_OK)
            << c.spec;
        EXPECT_EQ(StoredNames(list), expected) << c.spec << " flags " << std::hex << c.flags;
        EXPECT_EQ(list.size(), expected.size()) << c.spec;
    }
}

TEST_F(FileListTree, EntriesCarrySourceSizeAttributesAndTime) {
    ASSERT_EQ(
        Qv4DosSetFileTime(dir.file("b.doc").c_str(), Dos(1996, 1, 2), (13 << 11) | (45 << 5) | 15),
        QV_OK);
    ASSERT_TRUE(os::SetFileAttributes(dir.file("b.doc"), os::kAttrReadOnly | os::kAttrArchive));
    FileList list;
    ASSERT_EQ(
        Build(list, Root() + "* ", ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS | ZIPOPT_MASK_READONLY)
            .code,
        QV_OK);
    uint32_t index;
    std::string source;
    ASSERT_TRUE(FindFileEntry(list, "B.DOC", &index, &source));
    const FileEntry& doc = list[index];
    EXPECT_EQ(source, Root() + "b.doc");
    EXPECT_EQ(doc.sourcePath, source);
    EXPECT_EQ(doc.size, static_cast<int32_t>(std::string("contents of b.doc").size()));
    EXPECT_EQ(doc.dosDate, Dos(1996, 1, 2));
    EXPECT_EQ(doc.dosTime, (13 << 11) | (45 << 5) | 15);
    EXPECT_EQ(doc.attributes, os::kAttrArchive);  // read-only masked out
    os::SetFileAttributes(dir.file("b.doc"), os::kAttrArchive);

    ASSERT_TRUE(FindFileEntry(list, "sub/deeper", &index));  // either separator
    EXPECT_EQ(list[index].attributes, os::kAttrDirectory);
    EXPECT_EQ(list[index].size, 0);
    EXPECT_EQ(list[index].sourcePath, Root() + "sub\\deeper");

    // Breadth first: the tree's own files, then sub's and other's, then deeper's.
    std::vector<std::string> order;
    for (const FileEntry& e : list) order.push_back(e.storedName);
    EXPECT_EQ(order, (std::vector<std::string>{"a.txt", "b.doc", "other", "sub", "other\\a.txt",
                                               "sub\\c.txt", "sub\\deeper", "sub\\deeper\\d.txt"}));
    uint64_t total = 0;
    for (const auto& name : order) total += name.size();
    EXPECT_EQ(list.storedNameTotal(), total);
}

TEST_F(FileListTree, DateAndArchiveBitFilters) {
    const struct {
        const char* name;
        uint16_t date;
    } files[] = {
        {"old.dat", Dos(1995, 6, 1)}, {"mid.dat", Dos(2000, 6, 1)}, {"new.dat", Dos(2010, 6, 1)}};
    for (const auto& f : files) {
        qvtest::WriteFile(dir.file(f.name), "x");
        ASSERT_EQ(Qv4DosSetFileTime(dir.file(f.name).c_str(), f.date, 0), QV_OK);
    }
    const uint32_t kAfter = ZIPOPT_AFTER_DATE, kBefore = ZIPOPT_BEFORE_DATE;
    struct {
        uint32_t flags;
        uint16_t after, before;
        Names expected;
    } cases[] = {
        {0, 0, 0, {"old.dat", "mid.dat", "new.dat"}},
        {kAfter, Dos(2000, 6, 1), 0, {"mid.dat", "new.dat"}},  // from the after-date on
        {kBefore, 0, Dos(2000, 6, 1), {"old.dat"}},            // strictly before
        {kAfter | kBefore, Dos(1999, 1, 1), Dos(2005, 1, 1), {"mid.dat"}},
        // After-date later than before-date: only the files between the two are dropped.
        {kAfter | kBefore, Dos(2005, 1, 1), Dos(1999, 1, 1), {"old.dat", "new.dat"}},
        {kAfter, Dos(2020, 1, 1), 0, {}},
    };
    for (const auto& c : cases) {
        FileList list;
        EXPECT_EQ(Build(list, Root() + "*.dat", c.flags, "", c.after, c.before).code,
                  c.expected.empty() ? QV_E_NOTHING : QV_OK);
        EXPECT_EQ(StoredNames(list), c.expected)
            << std::hex << c.flags << " " << c.after << " " << c.before;
    }
    // Directories carry no archive bit, files do.
    FileList list;
    ASSERT_EQ(Build(list, Root() + "*", ZIPOPT_FULL_DIRS | ZIPOPT_ARCHIVE_BIT_ONLY).code, QV_OK);
    for (const FileEntry& e : list) EXPECT_FALSE(e.attributes & os::kAttrDirectory) << e.storedName;
    EXPECT_EQ(list.size(), 5u);
}

TEST_F(FileListTree, OpenFilesAndEmptySpecifications) {
    // The archive being written is on the open-name list and is never added to itself.
    qvtest::WriteFile(dir.file("backup.zip"), "PK");
    ASSERT_EQ(AddOpenName(dir.file("backup.zip")).code, QV_OK);
    FileList list;
    EXPECT_EQ(Build(list, Root() + "*.zip", 0).code, QV_E_NOTHING);
    EXPECT_EQ(Build(list, Root() + "*", 0).code, QV_OK);
    EXPECT_EQ(StoredNames(list), (Names{"a.txt", "b.doc"}));
    RemoveOpenName(dir.file("backup.zip"));

    // Nor are the library's temporary files.
    const std::string temp = MakeTempName();
    ASSERT_FALSE(temp.empty());
    FileList tempList;
    EXPECT_EQ(Build(tempList, os::OemToAnsi(temp), 0).code, QV_E_NOTHING);
    RemoveOpenName(temp);
    EXPECT_EQ(Build(tempList, os::OemToAnsi(temp), 0).code, QV_OK);
    DeleteOemFile(temp);

    FileList empty;
    EXPECT_EQ(Build(empty, "", 0).code, QV_E_NOTHING);
    EXPECT_EQ(Build(empty, " \t\"\" ", 0).code, QV_E_NOTHING);
    EXPECT_EQ(Build(empty, Root() + "missing/*.txt", ZIPOPT_RECURSE).code, QV_E_NOTHING);
}

TEST_F(FileListTree, RelativeTokensNeverClimbOut) {
    const std::string saved = os::GetCurrentDirectory();
    ASSERT_TRUE(os::SetCurrentDirectory(dir.file("sub")));
    FileList list;
    const Result r = Build(list, "..\\*.doc ./*.txt ../other/../sub/deeper/*", ZIPOPT_FULL_DIRS);
    os::SetCurrentDirectory(saved);
    EXPECT_EQ(r.code, QV_OK);
    EXPECT_EQ(StoredNames(list), (Names{"b.doc", "c.txt", "sub/deeper/d.txt"}));
}

// The platform layer reports what a directory entry refers to on POSIX systems; these
// trees (links, long paths, UTF-8 names, permissions) are POSIX ones.
#ifndef _WIN32

TEST_F(FileListTree, LinkCycleIsWalkedOnce) {
    fs::create_directory_symlink(dir.path(), dir.path() / "sub" / "loop");
    FileList list;
    ASSERT_EQ(Build(list, Root() + "*.txt", ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS).code, QV_OK);
    EXPECT_EQ(StoredNames(list),
              (Names{"a.txt", "sub\\c.txt", "sub\\deeper\\d.txt", "other\\a.txt"}));
}

TEST_F(FileListTree, QueuedPathLimit) {
    // Relative paths of subdirectories (each with its separator) up to 258 characters are
    // searched; one of 259 ends the walk with -8.
    const std::string first(128, 'f');
    fs::create_directories(dir.path() / "deep" / first / std::string(129, 's'));
    qvtest::WriteFile((dir.path() / "deep" / first / "x.txt").string(), "x");
    FileList list;
    EXPECT_EQ(Build(list, Root() + "deep/*.txt", ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS).code,
              QV_W_SKIPPED);
    fs::remove(dir.path() / "deep" / first / std::string(129, 's'));
    fs::create_directory(dir.path() / "deep" / first / std::string(128, 's'));
    FileList fits;
    EXPECT_EQ(Build(fits, Root() + "deep/*.txt", ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS).code,
              QV_OK);
    EXPECT_EQ(StoredNames(fits), (Names{first + "\\x.txt"}));
}

TEST_F(FileListTree, NamesOutsideTheCodePage) {
    // CP437 has no kanji and no byte 0xFF of its own in UTF-8 names: the stored names get
    // "_", the source paths keep the file system's spelling so the files can be read.
    qvtest::WriteFile(dir.file("\xE6\x97\xA5.txt"), "kanji");
    qvtest::WriteFile(dir.file("caf\xC3\xA9.txt"), "cafe");
    qvtest::WriteFile(dir.file("bad\xFF.txt"), "bad");
    FileList list;
    ASSERT_EQ(Build(list, Root() + "*.txt", 0).code, QV_OK);
    EXPECT_EQ(StoredNames(list), (Names{"_.txt", "a.txt", "caf\x82.txt", "bad_.txt"}));
    for (const FileEntry& e : list)
        EXPECT_NE(os::GetFileAttributes(e.sourcePath), os::kInvalidAttributes) << e.sourcePath;
}

// Runs the walk with an effective user who cannot read a mode-000 directory (root can).
class Unprivileged {
public:
    Unprivileged() : root_(::geteuid() == 0) {
        if (root_) ok_ = ::seteuid(65534) == 0;
    }
    ~Unprivileged() {
        if (root_ && ok_) (void)::seteuid(0);
    }
    bool ok() const { return ok_; }

private:
    bool root_;
    bool ok_ = true;
};

int16_t gAnswer = QV_ANSWER_OK;
std::vector<std::string> gNotices;
int16_t QV_CALL RecordNotice(StatusBlock block) {
    if (block.kind == QV_STATUS_NOTICE && block.code == QV_E_FILE)
        gNotices.emplace_back(block.fileName);
    return gAnswer;
}

TEST_F(FileListTree, UnreadableDirectoryIsReportedAndSkipped) {
    fs::create_directory(dir.path() / "locked");
    qvtest::WriteFile(dir.file("locked/secret.txt"), "x");
    ASSERT_EQ(::chmod(dir.file("locked").c_str(), 0), 0);
    Qv4SetCPrint(1);
    Qv4CPrintHook(&RecordNotice);
    Result answeredOk, answeredCancel;
    FileList list;
    bool ran = false;
    {
        Unprivileged user;
        if (user.ok()) {
            ran = true;
            gAnswer = QV_ANSWER_OK;
            gNotices.clear();
            answeredOk = Build(list, Root() + "*.txt", ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS);
            gAnswer = QV_ANSWER_CANCEL;
            FileList cancelled;
            answeredCancel = Build(cancelled, Root() + "*.txt", ZIPOPT_RECURSE);
        }
    }
    Qv4CPrintHook(nullptr);
    Qv4SetCPrint(0);
    ::chmod(dir.file("locked").c_str(), 0755);
    if (!ran) GTEST_SKIP() << "cannot drop privileges";
    EXPECT_EQ(answeredOk.code, QV_OK);
    EXPECT_EQ(StoredNames(list),
              (Names{"a.txt", "sub\\c.txt", "sub\\deeper\\d.txt", "other\\a.txt"}));
    ASSERT_EQ(gNotices.size(), 2u);
    std::string reported = Root() + "locked\\";
    std::replace(reported.begin(), reported.end(), '/', '\\');  // hosts see "\\" separators
    EXPECT_EQ(gNotices[0], reported);
    EXPECT_EQ(answeredCancel.code, QV_E_CANCELLED);
}

#endif  // !_WIN32

TEST(FileListIndex, FindsEveryEntryAndStopsAt65535) {
    FileList list;
    for (uint32_t i = 0; i < kMaxFileEntries; ++i) {
        ASSERT_EQ(
            AddFileEntry(list, "src" + std::to_string(i), "dir\\f" + std::to_string(i), 0, 0, 0, i)
                .code,
            QV_OK);
    }
    EXPECT_EQ(list.size(), kMaxFileEntries);
    uint32_t index;
    std::string source;
    for (uint32_t i = 0; i < kMaxFileEntries; i += 997) {
        ASSERT_TRUE(FindFileEntry(list, "DIR/F" + std::to_string(i), &index, &source)) << i;
        EXPECT_EQ(index, i);
        EXPECT_EQ(source, "src" + std::to_string(i));
    }
    ASSERT_TRUE(FindFileEntry(list, "dir\\f65534", &index));
    EXPECT_EQ(index, 65534u);
    EXPECT_FALSE(FindFileEntry(list, "dir\\f65535", &index));
    EXPECT_EQ(index, kNoFileEntry);
    // A name already present is no new entry, even in a full list.
    EXPECT_EQ(AddFileEntry(list, "other", "Dir/F7", 0, 0, 0, 1).code, QV_OK);
    EXPECT_EQ(list[7].sourcePath, "src7");
    EXPECT_EQ(AddFileEntry(list, "other", "one too many", 0, 0, 0, 1).code, QV_E_TOO_MANY);
    EXPECT_EQ(list.size(), kMaxFileEntries);
    EXPECT_FALSE(FindFileEntry(list, "one too many", &index));
}

TEST(FileListIndex, SizesAndMasks) {
    FileList list;
    const uint32_t attrs = os::kAttrReadOnly | os::kAttrHidden | os::kAttrSystem | os::kAttrArchive;
    ASSERT_EQ(AddFileEntry(list, "s", "big", attrs, 0, ZIPOPT_MASK_HIDDEN | ZIPOPT_MASK_SYSTEM,
                           0x80000000ull)
                  .code,
              QV_OK);
    ASSERT_EQ(AddFileEntry(list, "s", "small", attrs, 0, 0, 0x7FFFFFFFull).code, QV_OK);
    EXPECT_EQ(list[0].size, 0);  // 2 GiB and more count as 0
    EXPECT_EQ(list[0].attributes, os::kAttrReadOnly | os::kAttrArchive);
    EXPECT_EQ(list[1].size, 0x7FFFFFFF);
    EXPECT_EQ(list[1].attributes, attrs);
    EXPECT_EQ(list[1].dosDate, 0);  // 1601 has no DOS form
}

}  // namespace
