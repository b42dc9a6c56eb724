// Listing an archive through the exported directory readers: records, names, cut fields, the
// Find cursor and the host's own positions, and malformed directories.
#include "directory_enumeration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive_handles.h"
#include "directory_locator.h"
#include "os.h"
#include "private_extra.h"
#include "zip_bytes.h"

namespace {

// Fields of the packed host records are read by value: a reference to one may be misaligned.
template <typename T>
T Val(T value) {
    return value;
}

using qvtest::ScratchDir;
using readertest::Archive;
using readertest::BuildZip;
using readertest::Bytes;
using readertest::Member;
using readertest::Text;

// An archive written to a scratch file and opened; closed when the test ends.
class OpenZip {
public:
    explicit OpenZip(const Bytes& bytes, uint32_t mode = QV_OPEN_READ,
                     const char* name = "test.zip") {
        path_ = dir_.file(name);
        qvtest::WriteFile(path_, bytes);
        result_ = Qv4ZipOpen(path_.c_str(), mode, &handle_);
    }
    ~OpenZip() { Qv4ZipClose(&handle_); }
    ArchiveHandle h() const { return handle_; }
    ResultCode openResult() const { return result_; }
    qv::ArchiveRecord& record() const { return *qv::FindArchive(handle_); }

private:
    ScratchDir dir_;
    std::string path_;
    ArchiveHandle handle_ = QV_NO_HANDLE;
    ResultCode result_ = 0;
};

struct Listed {
    ResultCode result = 0;
    DirectoryRecord record{};
    std::string name;
    std::string comment;
};

// Reads records until the directory ends or something fails; the last entry holds that result.
std::vector<Listed> ListAll(ArchiveHandle h) {
    std::vector<Listed> out;
    for (int i = 0; i < 1000; ++i) {
        Listed l;
        char name[QV_NAME_BUFFER_SIZE];
        char comment[1024];
        l.result = (i == 0 ? Qv4ZipFindFirst : Qv4ZipFindNext)(h, &l.record, name, nullptr, 0,
                                                               comment, sizeof comment);
        l.name = name;
        l.comment = comment;
        out.push_back(l);
        if (l.result != QV_OK && l.result != QV_E_TOO_LONG) break;
    }
    return out;
}

std::vector<Member> ThreeMembers() {
    Member a;
    a.name = "HELLO.TXT";
    a.data = Text("Hello, world!\r\n");
    Member b;
    b.name = "docs/sub/README.TXT";
    b.data = Text("read me");
    b.comment = "About the docs";
    b.method = 8;
    b.flags = 2;
    b.versionNeeded = 20;
    Member c;
    c.name = "docs/";
    c.externalAttributes = 0x10;
    c.versionNeeded = 11;
    return {a, b, c};
}

TEST(DirectoryEnumeration, ListsEveryRecordAsStored) {
    const Archive zip = BuildZip(ThreeMembers(), "the archive comment");
    OpenZip z(zip.bytes);
    ASSERT_EQ(z.openResult(), QV_OK);
    uint16_t count = 99;
    EXPECT_EQ(Qv4ZipCount(z.h(), &count), QV_OK);
    EXPECT_EQ(count, 3);

    const auto listed = ListAll(z.h());
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[3].result, QV_E_NOTHING);
    const std::vector<Member> members = ThreeMembers();
    const char* reported[] = {"HELLO.TXT", "docs\\sub\\README.TXT", "docs\\"};
    for (size_t i = 0; i < 3; ++i) {
        const DirectoryRecord& r = listed[i].record;
        const Member& m = members[i];
        EXPECT_EQ(listed[i].result, QV_OK) << i;
        EXPECT_EQ(listed[i].name, reported[i]);
        EXPECT_EQ(listed[i].comment, m.comment);
        EXPECT_EQ(Val(r.signature), 0x02014B50u);
        EXPECT_EQ(Val(r.versionMadeBy), 20);
        EXPECT_EQ(Val(r.versionNeeded), m.versionNeeded);
        EXPECT_EQ(Val(r.flags), m.flags);
        EXPECT_EQ(Val(r.method), m.method);
        EXPECT_EQ(Val(r.time), m.time);
        EXPECT_EQ(Val(r.date), m.date);
        EXPECT_EQ(Val(r.crc32), readertest::Crc32(m.data));
        EXPECT_EQ(Val(r.compressedSize), m.data.size());
        EXPECT_EQ(Val(r.uncompressedSize), m.data.size());
        EXPECT_EQ(Val(r.nameLength), m.name.size());
        EXPECT_EQ(Val(r.commentLength), m.comment.size());
        EXPECT_EQ(Val(r.externalAttributes), m.externalAttributes);
    }
    EXPECT_EQ(Val(listed[0].record.localHeaderOffset), 0u);
    EXPECT_EQ(Qv4GetCDR(z.h()), static_cast<int32_t>(zip.dirOffset));
    // At the end the cursor rests on the end record, and stays there.
    EXPECT_EQ(Qv4GetNextCDR(z.h()), static_cast<int32_t>(zip.endOffset));
    DirectoryRecord r;
    char name[QV_NAME_BUFFER_SIZE];
    EXPECT_EQ(Qv4ZipFindNext(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_E_NOTHING);

    char comment[64];
    EXPECT_EQ(Qv4ZipComment(z.h(), comment, sizeof comment), QV_OK);
    EXPECT_STREQ(comment, "the archive comment");
}

TEST(DirectoryEnumeration, EmptyArchive) {
    OpenZip z(BuildZip({}).bytes);
    ASSERT_EQ(z.openResult(), QV_OK);
    DirectoryRecord r;
    char name[QV_NAME_BUFFER_SIZE] = "x";
    EXPECT_EQ(Qv4ZipFindFirst(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_E_NOTHING);
    EXPECT_STREQ(name, "");
    uint16_t count = 5;
    EXPECT_EQ(Qv4ZipCount(z.h(), &count), QV_OK);
    EXPECT_EQ(count, 0);
    char comment[8] = "junk";
    EXPECT_EQ(Qv4ZipComment(z.h(), comment, sizeof comment), QV_OK);
    EXPECT_STREQ(comment, "");
}

TEST(DirectoryEnumeration, FindNextNeedsFindFirst) {
    OpenZip z(BuildZip(ThreeMembers()).bytes);
    DirectoryRecord r;
    char name[QV_NAME_BUFFER_SIZE];
    EXPECT_EQ(Qv4ZipFindNext(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_E_NOT_STARTED);
    EXPECT_EQ(Qv4ZipFindFirst(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_OK);
    EXPECT_EQ(Qv4ZipFindNext(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_OK);
    EXPECT_STREQ(name, "docs\\sub\\README.TXT");
    // A change to the archive clears the located directory: the walk must start again.
    z.record().flags &= ~qv::AR_LOCATED;
    EXPECT_EQ(Qv4ZipFindNext(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_E_NOT_STARTED);
}

TEST(DirectoryEnumeration, HostPositionsWalkIndependently) {
    const Archive zip = BuildZip(ThreeMembers());
    OpenZip z(zip.bytes);
    DirectoryRecord r;
    char name[QV_NAME_BUFFER_SIZE];
    ASSERT_EQ(Qv4ZipFindFirst(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_OK);
    uint32_t pos = static_cast<uint32_t>(Qv4GetCDR(z.h()));
    std::vector<std::string> names;
    std::vector<uint32_t> positions;
    ResultCode res;
    while ((res = Qv4ReadCDR(z.h(), &pos, &r, name, nullptr, 0, nullptr, 0)) == QV_OK) {
        names.push_back(name);
        positions.push_back(pos);
    }
    EXPECT_EQ(res, QV_E_NOTHING);
    EXPECT_EQ(names, (std::vector<std::string>{"HELLO.TXT", "docs\\sub\\README.TXT", "docs\\"}));
    EXPECT_EQ(positions,
              (std::vector<uint32_t>{zip.centralOffsets[1], zip.centralOffsets[2], zip.endOffset}));
    // The Find cursor did not move.
    EXPECT_EQ(Qv4GetNextCDR(z.h()), static_cast<int32_t>(zip.centralOffsets[1]));
    // Any recorded position can be read again.
    pos = zip.centralOffsets[2];
    EXPECT_EQ(Qv4ReadCDR(z.h(), &pos, &r, name, nullptr, 0, nullptr, 0), QV_OK);
    EXPECT_STREQ(name, "docs\\");
}

TEST(DirectoryEnumeration, ExternalAttributesOnlyFromDosHosts) {
    Member dos;
    dos.name = "DOS.TXT";
    dos.externalAttributes = 0x21;
    Member unix = dos;
    unix.name = "unix.txt";
    unix.versionMadeBy = 0x031E;  // Unix, version 3.0
    unix.externalAttributes = 0x81A40000u;
    OpenZip z(BuildZip({dos, unix}).bytes);
    const auto listed = ListAll(z.h());
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(Val(listed[0].record.externalAttributes), 0x21u);
    EXPECT_EQ(Val(listed[1].record.externalAttributes), 0u);
    EXPECT_EQ(Val(listed[1].record.versionMadeBy), 0x031E);
}

TEST(DirectoryEnumeration, EffectiveLongNames) {
    Member m;
    m.name = "LONGDI~1/LONGFI~1.TXT";
    m.extra =
        qv::MakeVersionBlock({1, 2}) + readertest::LongNameBlock("Long Dir/Long File Name.txt");
    Member plain;
    plain.name = "SHORT.TXT";
    plain.extra = readertest::OtherBlock(0x5455, "\x01\x02\x03\x04\x05");
    const Bytes bytes = BuildZip({m, plain}).bytes;

    {  // Stored names unless asked.
        OpenZip z(bytes);
        const auto listed = ListAll(z.h());
        EXPECT_EQ(listed[0].name, "LONGDI~1\\LONGFI~1.TXT");
        EXPECT_EQ(Val(listed[0].record.nameLength), 21);
    }
    OpenZip z(bytes, QV_OPEN_READ | QV_OPEN_LONGNAMES);
    ASSERT_EQ(z.openResult(), QV_OK);
    DirectoryRecord r;
    char name[QV_NAME_BUFFER_SIZE];
    uint8_t extra[64];
    ASSERT_EQ(Qv4ZipFindFirst(z.h(), &r, name, extra, sizeof extra, nullptr, 0), QV_OK);
    EXPECT_STREQ(name, "Long Dir\\Long File Name.txt");
    EXPECT_EQ(Val(r.nameLength), 27);
    EXPECT_EQ(Val(r.extraLength), m.extra.size());
    EXPECT_EQ(0, std::memcmp(extra, m.extra.data(), m.extra.size()));
    ASSERT_EQ(Qv4ZipFindNext(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_OK);
    EXPECT_STREQ(name, "SHORT.TXT");

    // A caller that needs the stored length asks for it once; the next read forgets it.
    z.record().flags |= qv::AR_KEEPNAMELEN;
    ASSERT_EQ(Qv4ZipFindFirst(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_OK);
    EXPECT_STREQ(name, "Long Dir\\Long File Name.txt");
    EXPECT_EQ(Val(r.nameLength), 21);
    EXPECT_FALSE(z.record().flags & qv::AR_KEEPNAMELEN);
    ASSERT_EQ(Qv4ZipFindFirst(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_OK);
    EXPECT_EQ(Val(r.nameLength), 27);

    char out[QV_NAME_BUFFER_SIZE];
    EXPECT_EQ(Qv4EffectiveFileName("LONGDI~1\\LONGFI~1.TXT", m.extra.data(),
                                   static_cast<uint32_t>(m.extra.size()), out),
              QV_OK);
    EXPECT_STREQ(out, "Long Dir\\Long File Name.txt");
    Qv4EffectiveFileName("SHORT.TXT", plain.extra.data(), static_cast<uint32_t>(plain.extra.size()),
                         out);
    EXPECT_STREQ(out, "SHORT.TXT");
    Qv4EffectiveFileName("NONE.TXT", nullptr, 0, out);
    EXPECT_STREQ(out, "NONE.TXT");
    // A long name longer than the host's name buffer is cut, never overflowing it.
    const std::string huge = readertest::LongNameBlock(std::string(400, 'n'));
    std::vector<char> guarded(QV_NAME_BUFFER_SIZE + 16, '#');
    EXPECT_EQ(
        Qv4EffectiveFileName("X", huge.data(), static_cast<uint32_t>(huge.size()), guarded.data()),
        QV_E_TOO_LONG);
    EXPECT_EQ(std::strlen(guarded.data()), 260u);
    EXPECT_EQ(guarded[QV_NAME_BUFFER_SIZE], '#');
}

TEST(DirectoryEnumeration, CommentAndExtraBufferSizes) {
    Member m;
    m.name = "A.TXT";
    m.comment = "0123456789";
    m.extra = readertest::OtherBlock(0x5455, "abcdef");  // 10 bytes
    OpenZip z(BuildZip({m}).bytes);
    struct {
        uint32_t size;
        ResultCode result;
        const char* comment;
    } comments[] = {{11, QV_OK, "0123456789"},
                    {100, QV_OK, "0123456789"},
                    {10, QV_E_TOO_LONG, "012345678"},
                    {2, QV_E_TOO_LONG, "0"},
                    {1, QV_E_TOO_LONG, ""}};
    DirectoryRecord r;
    char name[QV_NAME_BUFFER_SIZE];
    for (const auto& c : comments) {
        char buf[128];
        std::memset(buf, '#', sizeof buf);
        EXPECT_EQ(Qv4ZipFindFirst(z.h(), &r, name, nullptr, 0, buf, c.size), c.result) << c.size;
        EXPECT_STREQ(buf, c.comment) << c.size;
        // The position advanced even though the comment was cut.
        EXPECT_EQ(Qv4ZipFindNext(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_E_NOTHING);
    }
    char untouched[4] = "abc";
    EXPECT_EQ(Qv4ZipFindFirst(z.h(), &r, name, nullptr, 0, untouched, 0), QV_E_TOO_LONG);
    EXPECT_STREQ(untouched, "abc");

    struct {
        uint32_t size;
        ResultCode result;
        size_t filled;
    } extras[] = {{10, QV_OK, 10}, {64, QV_OK, 10}, {9, QV_E_TOO_LONG, 9}, {0, QV_E_TOO_LONG, 0}};
    for (const auto& c : extras) {
        uint8_t buf[64];
        std::memset(buf, 0xEE, sizeof buf);
        EXPECT_EQ(Qv4ZipFindFirst(z.h(), &r, name, buf, c.size, nullptr, 0), c.result) << c.size;
        EXPECT_EQ(0, std::memcmp(buf, m.extra.data(), c.filled)) << c.size;
        EXPECT_EQ(buf[c.filled], 0xEE) << c.size;
    }
}

TEST(DirectoryEnumeration, ArchiveCommentCutToTheBuffer) {
    const std::string text = "This archive comment is forty bytes long";
    ASSERT_EQ(text.size(), 40u);
    OpenZip z(BuildZip(ThreeMembers(), text).bytes);
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(Qv4ZipComment(z.h(), buf, 10), QV_E_TOO_LONG);
    EXPECT_STREQ(buf, "This arch");
    EXPECT_EQ(Qv4ZipComment(z.h(), buf, 41), QV_OK);
    EXPECT_EQ(buf, text);
    EXPECT_EQ(Qv4ZipComment(z.h(), buf, 40), QV_E_TOO_LONG);
    EXPECT_EQ(std::string(buf), text.substr(0, 39));
    EXPECT_EQ(Qv4ZipComment(z.h(), nullptr, 0), QV_OK);
}

// OEM names become UTF-8 and can grow threefold: the host's buffer is never overrun.
TEST(DirectoryEnumeration, NameLongerInUtf8IsCutAtACharacter) {
    Member wide;
    wide.name = std::string(200, '\xB0');  // CP437 light shade, three bytes in UTF-8
    wide.comment = "\x82t\x82";            // "été"
    Member next;
    next.name = "NEXT.TXT";
    OpenZip z(BuildZip({wide, next}).bytes);
    DirectoryRecord r;
    std::vector<char> name(QV_NAME_BUFFER_SIZE + 16, '#');
    char comment[16];
    EXPECT_EQ(Qv4ZipFindFirst(z.h(), &r, name.data(), nullptr, 0, comment, sizeof comment),
              QV_E_TOO_LONG);
    const std::string got(name.data());
    EXPECT_EQ(got.size(), 258u);  // 86 whole characters
    for (size_t i = 0; i < got.size(); i += 3) EXPECT_EQ(got.substr(i, 3), "\xE2\x96\x91");
    EXPECT_EQ(name[QV_NAME_BUFFER_SIZE], '#');
    EXPECT_EQ(Val(r.nameLength), 200);
    EXPECT_STREQ(comment, "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(Qv4ZipFindNext(z.h(), &r, name.data(), nullptr, 0, nullptr, 0), QV_OK);
    EXPECT_STREQ(name.data(), "NEXT.TXT");
}

TEST(DirectoryEnumeration, VisualBasicVariantsMatchThePackedOnes) {
    std::vector<Member> members = ThreeMembers();
    members[0].versionMadeBy = 0x0B14;
    members[0].externalAttributes = 0x12345678;
    members[1].internalAttributes = 1;
    const Bytes bytes = BuildZip(members, "").bytes;
    OpenZip packed(bytes), aligned(bytes);
    DirectoryRecord p;
    DirectoryRecordVB v;
    char name[QV_NAME_BUFFER_SIZE], vname[QV_NAME_BUFFER_SIZE];
    char comment[32], vcomment[32];
    for (int i = 0; i < 4; ++i) {
        const ResultCode rp = (i == 0 ? Qv4ZipFindFirst : Qv4ZipFindNext)(packed.h(), &p, name,
                                                                          nullptr, 0, comment, 32);
        const ResultCode rv = (i == 0 ? Qv4ZipFindFirstVB32 : Qv4ZipFindNextVB32)(
            aligned.h(), &v, vname, nullptr, 0, vcomment, 32);
        ASSERT_EQ(rp, rv) << i;
        if (rp != QV_OK) break;
        EXPECT_STREQ(name, vname);
        EXPECT_STREQ(comment, vcomment);
        EXPECT_EQ(Val(v.signature), Val(p.signature));
        EXPECT_EQ(Val(v.crc32), Val(p.crc32));
        EXPECT_EQ(Val(v.compressedSize), Val(p.compressedSize));
        EXPECT_EQ(Val(v.uncompressedSize), Val(p.uncompressedSize));
        EXPECT_EQ(Val(v.externalAttributes), Val(p.externalAttributes));
        EXPECT_EQ(Val(v.localHeaderOffset), Val(p.localHeaderOffset));
        EXPECT_EQ(Val(v.versionMadeBy), Val(p.versionMadeBy));
        EXPECT_EQ(Val(v.versionNeeded), Val(p.versionNeeded));
        EXPECT_EQ(Val(v.flags), Val(p.flags));
        EXPECT_EQ(Val(v.method), Val(p.method));
        EXPECT_EQ(Val(v.time), Val(p.time));
        EXPECT_EQ(Val(v.date), Val(p.date));
        EXPECT_EQ(Val(v.nameLength), Val(p.nameLength));
        EXPECT_EQ(Val(v.extraLength), Val(p.extraLength));
        EXPECT_EQ(Val(v.commentLength), Val(p.commentLength));
        EXPECT_EQ(Val(v.diskStart), Val(p.diskStart));
        EXPECT_EQ(Val(v.internalAttributes), Val(p.internalAttributes));
    }
}

TEST(DirectoryEnumeration, HandlesThatAreNotOpen) {
    const ArchiveHandle bogus = 0x7FFF0000u;
    DirectoryRecord r;
    DirectoryRecordVB v;
    char name[QV_NAME_BUFFER_SIZE];
    uint16_t count = 7;
    uint32_t pos = 0;
    EXPECT_EQ(Qv4ZipCount(bogus, &count), QV_E_HANDLE);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(Qv4ZipComment(bogus, name, sizeof name), QV_E_HANDLE);
    EXPECT_EQ(Qv4GetCDR(bogus), -1);
    EXPECT_EQ(Qv4GetNextCDR(bogus), -1);
    EXPECT_EQ(Qv4ReadCDR(bogus, &pos, &r, name, nullptr, 0, nullptr, 0), QV_E_HANDLE);
    EXPECT_EQ(Qv4ZipFindFirst(bogus, &r, name, nullptr, 0, nullptr, 0), QV_E_HANDLE);
    EXPECT_EQ(Qv4ZipFindNext(bogus, &r, name, nullptr, 0, nullptr, 0), QV_E_HANDLE);
    EXPECT_EQ(Qv4ZipFindFirstVB32(bogus, &v, name, nullptr, 0, nullptr, 0), QV_E_HANDLE);
    EXPECT_EQ(Qv4ZipFindNextVB32(bogus, &v, name, nullptr, 0, nullptr, 0), QV_E_HANDLE);
}

// A converted archive's directory is read from its listing file, and only while the archive
// is open read-only.
TEST(DirectoryEnumeration, ListedArchivesReadTheListingFile) {
    ScratchDir dir;
    const std::string listing = dir.file("listing.bin");
    qvtest::WriteFile(listing, BuildZip(ThreeMembers()).bytes);
    OpenZip z(BuildZip({}).bytes);
    qv::ArchiveRecord& rec = z.record();
    rec.flags |= qv::AR_TAR;
    rec.listingHandle = qv::os::CreateFile(listing, qv::os::kGenericRead, qv::os::kShareRead,
                                           qv::os::kOpenExisting, 0);
    ASSERT_NE(rec.listingHandle, qv::kInvalidHandle);
    const auto listed = ListAll(z.h());
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[1].name, "docs\\sub\\README.TXT");
    uint16_t count = 0;
    EXPECT_EQ(Qv4ZipCount(z.h(), &count), QV_OK);
    EXPECT_EQ(count, 3);

    rec.access |= qv::os::kGenericWrite;
    DirectoryRecord r;
    char name[QV_NAME_BUFFER_SIZE];
    EXPECT_EQ(Qv4ZipFindFirst(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_E_ACCESS_MODE);
    EXPECT_EQ(Qv4ZipFindNext(z.h(), &r, name, nullptr, 0, nullptr, 0), QV_E_ACCESS_MODE);
    EXPECT_EQ(qv::LocateDirectory(z.h()), QV_E_ACCESS_MODE);
    qv::os::CloseHandle(rec.listingHandle);
    rec.listingHandle = qv::kInvalidHandle;
    rec.flags &= ~qv::AR_TAR;
}

}  // namespace
