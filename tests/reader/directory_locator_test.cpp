// Finding the end record and the central directory, and reading the end record; directories
// that are cut, point elsewhere or point into themselves.
#include "directory_locator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "zip_bytes.h"

namespace {

using qvtest::ScratchDir;
using readertest::Archive;
using readertest::BuildZip;
using readertest::Bytes;
using readertest::Member;
using readertest::Put16;
using readertest::Put32;
using readertest::Text;

constexpr uint32_t kNone = 0xFFFFFFFFu;

class Opened {
public:
    Opened(const Bytes& bytes, const char* name = "t.zip") {
        path_ = dir_.file(name);
        qvtest::WriteFile(path_, bytes);
        open_ = Qv4ZipOpen(path_.c_str(), QV_OPEN_READ, &h_);
    }
    ~Opened() { Qv4ZipClose(&h_); }
    ArchiveHandle h() const { return h_; }
    ResultCode openResult() const { return open_; }

private:
    ScratchDir dir_;
    std::string path_;
    ArchiveHandle h_ = QV_NO_HANDLE;
    ResultCode open_ = 0;
};

struct Located {
    int result;
    uint32_t dir, end;
};

Located Locate(const Bytes& bytes, const char* name = "t.zip") {
    Opened o(bytes, name);
    EXPECT_EQ(o.openResult(), QV_OK);
    Located l{0, 0x12345678, 0x12345678};
    l.result = qv::LocateDirectory(o.h(), &l.dir, &l.end).code;
    return l;
}

std::vector<Member> TwoMembers() {
    Member a;
    a.name = "A.TXT";
    a.data = Text("first member");
    Member b;
    b.name = "B.TXT";
    b.data = Text("second member");
    return {a, b};
}

// An end record with the given fields (and no comment).
Bytes EndRecord(uint16_t entries, uint32_t dirSize, uint32_t dirOffset,
                uint16_t commentLength = 0) {
    Bytes e;
    Put32(e, 0x06054B50);
    Put16(e, 0), Put16(e, 0), Put16(e, entries), Put16(e, entries);
    Put32(e, dirSize), Put32(e, dirOffset), Put16(e, commentLength);
    return e;
}

std::string AsText(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

TEST(LocateDirectory, EndRecordClosingTheFile) {
    const Archive zip = BuildZip(TwoMembers());
    const Located l = Locate(zip.bytes);
    EXPECT_EQ(l.result, QV_OK);
    EXPECT_EQ(l.dir, zip.dirOffset);
    EXPECT_EQ(l.end, zip.endOffset);
}

TEST(LocateDirectory, LongestCommentIsFoundByTheWindowSearch) {
    std::string comment(65535, 'c');
    const Archive zip = BuildZip(TwoMembers(), comment);
    const Located l = Locate(zip.bytes);
    EXPECT_EQ(l.result, QV_OK);
    EXPECT_EQ(l.dir, zip.dirOffset);
    EXPECT_EQ(l.end, zip.endOffset);
    Opened o(zip.bytes);
    uint16_t count = 0;
    EXPECT_EQ(Qv4ZipCount(o.h(), &count), QV_OK);
    EXPECT_EQ(count, 2);
    std::vector<char> buf(65536);
    // The size is 16 bits wide: the longest buffer holds all but the last character.
    EXPECT_EQ(Qv4ZipComment(o.h(), buf.data(), 65535), QV_E_TOO_LONG);
    EXPECT_EQ(std::string(buf.data()), comment.substr(0, 65534));
}

TEST(LocateDirectory, TheWindowEndsWhereTheLongestCommentWould) {
    const Archive zip = BuildZip(TwoMembers());
    // Trailing bytes behind an end record without comment: up to 65535 of them are searched.
    Bytes reachable = zip.bytes;
    reachable.resize(reachable.size() + 65535, 0);
    Located l = Locate(reachable);
    EXPECT_EQ(l.result, QV_OK);
    EXPECT_EQ(l.end, zip.endOffset);
    Bytes beyond = zip.bytes;
    beyond.resize(beyond.size() + 65536, 0);
    l = Locate(beyond);
    EXPECT_EQ(l.result, QV_OK);  // not found is no failure here...
    EXPECT_EQ(l.end, kNone);
    EXPECT_EQ(l.dir, kNone);
    Opened o(beyond);  // ...the first read at the missing offsets is
    DirectoryRecord r;
    char name[QV_NAME_BUFFER_SIZE];
    EXPECT_EQ(Qv4ZipFindFirst(o.h(), &r, name, nullptr, 0, nullptr, 0), QV_E_FILE);
    uint16_t count = 9;
    EXPECT_EQ(Qv4ZipCount(o.h(), &count), QV_E_FILE);
    EXPECT_EQ(count, 0);
}

// The window search takes the first end-record signature, nearest the start of the window,
// whose directory size and offset lie inside the file and whose offset holds a central record.
TEST(LocateDirectory, AcceptanceOfAnEndRecordInsideTheWindow) {
    const Archive plain = BuildZip(TwoMembers());
    const uint32_t dirSize = plain.endOffset - plain.dirOffset;
    struct Case {
        const char* what;
        Bytes stray;  // bytes placed in the archive comment, before the real text
        bool strayWins;
    };
    const std::vector<Case> cases = {
        {"a copy pointing at the directory wins", EndRecord(7, dirSize, plain.dirOffset), true},
        {"an offset at no central record", EndRecord(7, dirSize, plain.dirOffset + 1), false},
        {"an offset at a local header", EndRecord(7, dirSize, 0), false},
        {"an offset past the end", EndRecord(7, dirSize, 0x00FFFFFF), false},
        {"a directory size past the end", EndRecord(7, 0x00FFFFFF, plain.dirOffset), false},
    };
    for (const auto& c : cases) {
        // The real end record carries a comment, so the window search runs; the stray record
        // sits inside that comment, behind the real one.
        const std::string comment = AsText(c.stray) + "tail";
        const Archive zip = BuildZip(TwoMembers(), comment);
        const uint32_t strayAt = zip.endOffset + 22;
        Located l = Locate(zip.bytes);
        EXPECT_EQ(l.result, QV_OK) << c.what;
        EXPECT_EQ(l.end, zip.endOffset) << c.what << ": the real record comes first";

        // Now the stray record stands in front of the real one, in the last member's data.
        std::vector<Member> members = TwoMembers();
        members[1].data = c.stray;
        const Archive inData = BuildZip(members, "x");
        const uint32_t strayInData = inData.dirOffset - static_cast<uint32_t>(c.stray.size());
        // Its offsets were made for the archive without the stray bytes: move them along.
        Bytes bytes = inData.bytes;
        if (c.strayWins) readertest::Set32(bytes, strayInData + 16, inData.dirOffset);
        l = Locate(bytes);
        EXPECT_EQ(l.result, QV_OK) << c.what;
        EXPECT_EQ(l.end, c.strayWins ? strayInData : inData.endOffset) << c.what;
        EXPECT_EQ(l.dir, inData.dirOffset) << c.what;
        (void)strayAt;
    }
}

TEST(LocateDirectory, NegativeDirectoryOffsetInTheWindowIsASeekFailure) {
    const std::string comment = AsText(EndRecord(1, 46, 0x80000000u)) + "tail";
    const Archive zip = BuildZip(TwoMembers(), comment);
    // The real record comes first and wins before the probe of the bad one is reached.
    EXPECT_EQ(Locate(zip.bytes).end, zip.endOffset);
    // Without a real record in front, the probe fails.
    Bytes bytes = zip.bytes;
    bytes[zip.endOffset] = 'X';
    EXPECT_EQ(Locate(bytes).result, QV_E_FILE);
}

TEST(LocateDirectory, ShortFilesAndMissingRecords) {
    Bytes tiny = EndRecord(0, 0, 0);
    tiny.pop_back();  // 21 bytes
    EXPECT_EQ(Locate(tiny).result, QV_E_NO_DIRECTORY);
    Opened o(tiny);
    DirectoryRecord r;
    char name[QV_NAME_BUFFER_SIZE];
    EXPECT_EQ(Qv4ZipFindFirst(o.h(), &r, name, nullptr, 0, nullptr, 0), QV_E_NO_DIRECTORY);

    // The empty archive is exactly one end record.
    const Located empty = Locate(EndRecord(0, 0, 0));
    EXPECT_EQ(empty.result, QV_OK);
    EXPECT_EQ(empty.end, 0u);
    EXPECT_EQ(empty.dir, 0u);

    // An empty archive with a comment is found by the window search, and lists as empty.
    Bytes commented = EndRecord(0, 0, 0, 7);
    for (char c : std::string("comment")) commented.push_back(static_cast<uint8_t>(c));
    const Located emptyCommented = Locate(commented);
    EXPECT_EQ(emptyCommented.result, QV_OK);
    EXPECT_EQ(emptyCommented.end, 0u);
    {
        Opened oc(commented);
        uint16_t count = 99;
        EXPECT_EQ(Qv4ZipCount(oc.h(), &count), QV_OK);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(Qv4ZipFindFirst(oc.h(), &r, name, nullptr, 0, nullptr, 0), QV_E_NOTHING);
    }

    // A local header and no end record anywhere: nothing is found.
    Bytes noEnd = BuildZip(TwoMembers()).bytes;
    noEnd.resize(BuildZip(TwoMembers()).dirOffset);
    const Located missing = Locate(noEnd);
    EXPECT_EQ(missing.result, QV_OK);
    EXPECT_EQ(missing.end, kNone);
}

TEST(LocateDirectory, SingleFileFormat) {
    auto sqs = [](uint16_t version, uint32_t length, size_t trailing) {
        Bytes b = Text("KWEP");
        b.resize(40, 0x55);
        readertest::PutText(b, "JXN3");
        Put16(b, version), Put16(b, 0), Put32(b, length);
        b.resize(b.size() + 6, 0);
        b.resize(b.size() + trailing, 0);
        return b;
    };
    Located l = Locate(sqs(50, 18, 0), "t.sqs");
    EXPECT_EQ(l.result, QV_OK);
    EXPECT_EQ(l.end, 40u);
    EXPECT_EQ(l.dir, 0u);
    l = Locate(sqs(10, 100, 7), "t.sqs");  // found by the window search
    EXPECT_EQ(l.result, QV_OK);
    EXPECT_EQ(l.end, 40u);
    EXPECT_EQ(Locate(sqs(51, 18, 0), "t.sqs").result, QV_E_VERSION);
    EXPECT_EQ(Locate(sqs(50, 17, 0), "t.sqs").result, QV_E_NO_DIRECTORY);
    EXPECT_EQ(Locate(sqs(51, 18, 3), "t.sqs").result, QV_E_VERSION);
    Bytes tooShort = Text("KWEP");
    tooShort.resize(17, 0);
    EXPECT_EQ(Locate(tooShort, "t.sqs").result, QV_E_NO_DIRECTORY);
}

// What each directory reader returns for directories that are broken in one place.
TEST(MalformedDirectories, EachGivesItsResultCode) {
    struct Case {
        const char* what;
        std::function<void(Archive&)> breakIt;
        std::vector<ResultCode> results;  // FindFirst, then FindNext until a code repeats or ends
    };
    auto lastRecord = [](const Archive& a) { return a.centralOffsets.back(); };
    const std::vector<Case> cases = {
        {"intact", [](Archive&) {}, {QV_OK, QV_OK, QV_E_NOTHING}},
        {"name of 261 bytes",
         [&](Archive& a) { readertest::Set16(a.bytes, a.centralOffsets[0] + 28, 261); },
         {QV_E_TOO_LONG, QV_E_TOO_LONG}},
        {"name length 0xFFFF",
         [&](Archive& a) { readertest::Set16(a.bytes, lastRecord(a) + 28, 0xFFFF); },
         {QV_OK, QV_E_TOO_LONG, QV_E_TOO_LONG}},
        {"extra field past the end",
         [&](Archive& a) { readertest::Set16(a.bytes, lastRecord(a) + 30, 0xFFFF); },
         {QV_OK, QV_E_EOF}},
        {"comment past the end",
         [&](Archive& a) { readertest::Set16(a.bytes, lastRecord(a) + 32, 0x8000); },
         {QV_OK, QV_E_EOF}},
        {"directory offset at a local header",
         [](Archive& a) { readertest::Set32(a.bytes, a.endOffset + 16, 0); },
         {QV_E_NO_DIRECTORY}},
        {"directory offset inside a record",
         [](Archive& a) { readertest::Set32(a.bytes, a.endOffset + 16, a.dirOffset + 10); },
         {QV_E_NO_DIRECTORY}},
        {"directory that points at the end record",
         [](Archive& a) { readertest::Set32(a.bytes, a.endOffset + 16, a.endOffset); },
         {QV_E_NOTHING}},
        {"directory offset past the end of the file",
         [](Archive& a) { readertest::Set32(a.bytes, a.endOffset + 16, 0x7FFFFF00); },
         {QV_E_EOF}},
        {"directory offset beyond 2 GiB",
         [](Archive& a) { readertest::Set32(a.bytes, a.endOffset + 16, 0xF0000000u); },
         {QV_E_EOF}},
        {"second record overwritten",
         [&](Archive& a) { a.bytes[lastRecord(a)] = 'X'; },
         {QV_OK, QV_E_NO_DIRECTORY}},
        {"local header signature in the directory",
         [&](Archive& a) { readertest::Set32(a.bytes, lastRecord(a), 0x04034B50); },
         {QV_OK, QV_E_NO_DIRECTORY}},
    };
    for (const auto& c : cases) {
        Archive a = BuildZip(TwoMembers());
        c.breakIt(a);
        Opened o(a.bytes);
        ASSERT_EQ(o.openResult(), QV_OK) << c.what;
        std::vector<ResultCode> got;
        for (size_t i = 0; i < c.results.size(); ++i) {
            DirectoryRecord r;
            char name[QV_NAME_BUFFER_SIZE];
            char comment[64];
            uint8_t extra[16];
            got.push_back((i == 0 ? Qv4ZipFindFirst : Qv4ZipFindNext)(
                o.h(), &r, name, extra, sizeof extra, comment, sizeof comment));
            if (got.back() != QV_OK && got.back() != QV_E_TOO_LONG) {
                EXPECT_STREQ(name, "") << c.what;
            }
        }
        EXPECT_EQ(got, c.results) << c.what;
    }
}

// Records cut off by the end of the file, read from positions a host keeps.
TEST(MalformedDirectories, RecordsCutByTheEndOfTheFile) {
    // A central record of 46 bytes announcing a 50-byte name, hidden at the very end of the
    // archive comment, with only 5 bytes of the name present.
    Bytes fake;
    Put32(fake, 0x02014B50);
    fake.resize(28, 0);
    Put16(fake, 50), Put16(fake, 0), Put16(fake, 0);
    fake.resize(46, 0);
    readertest::PutText(fake, "abcde");
    const Archive zip = BuildZip(TwoMembers(), "comment:" + AsText(fake));
    Opened o(zip.bytes);
    DirectoryRecord r;
    char name[QV_NAME_BUFFER_SIZE];
    ASSERT_EQ(Qv4ZipFindFirst(o.h(), &r, name, nullptr, 0, nullptr, 0), QV_OK);
    const uint32_t size = static_cast<uint32_t>(zip.bytes.size());
    struct {
        uint32_t position;
        ResultCode result;
    } cases[] = {
        {size - static_cast<uint32_t>(fake.size()), QV_E_EOF},  // the name is cut
        {size - 10, QV_E_EOF},                                  // the record is cut
        {size, QV_E_EOF},
        {size + 1000, QV_E_EOF},
        {zip.endOffset, QV_E_NOTHING},  // the end record, however little of it is read
        {zip.endOffset + 2, QV_E_NO_DIRECTORY},
        {0, QV_E_NO_DIRECTORY},  // a local header
        {kNone, QV_E_FILE},      // the position of a directory never found
    };
    for (const auto& c : cases) {
        uint32_t pos = c.position;
        std::strcpy(name, "stale");
        EXPECT_EQ(Qv4ReadCDR(o.h(), &pos, &r, name, nullptr, 0, nullptr, 0), c.result)
            << c.position;
        EXPECT_EQ(pos, c.position) << "a failed read leaves the position";
        EXPECT_STREQ(name, "") << c.position;
    }
}

}  // namespace
