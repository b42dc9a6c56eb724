// Moving members into a new archive: local members to the body, central records to a
// separate directory file.
#include "member_copy.h"

#include <gtest/gtest.h>

#include <string>

#include "directory_enumeration.h"
#include "os.h"
#include "private_extra.h"
#include "zip_bytes.h"

namespace {

using qvtest::ScratchDir;
using readertest::Archive;
using readertest::BuildZip;
using readertest::Bytes;
using readertest::Member;
using readertest::Text;
namespace os = qv::os;

// A file handle closed when the test ends.
struct File {
    explicit File(const std::string& path, bool create = false)
        : h(os::CreateFile(path, os::kGenericReadWrite, os::kShareNone,
                           create ? os::kCreateAlways : os::kOpenExisting, 0)) {}
    ~File() {
        if (h != os::kInvalidHandle) os::CloseHandle(h);
    }
    os::FileHandle h;
};

std::vector<Member> Members() {
    Member a;
    a.name = "HELLO.TXT";
    a.data = Text("Hello, world!\r\n");
    Member b;
    b.name = "LONGNA~1.TXT";
    b.extra = qv::MakeVersionBlock({1, 2}) + readertest::LongNameBlock("long name.txt");
    b.comment = "member comment";
    b.data = qvtest::RandomBytes(70000, 3);
    b.externalAttributes = 0x21;
    Member c;
    c.name = "EMPTY.TXT";
    return {a, b, c};
}

// Rebuilds the archive member by member, as the writer does when it keeps every member.
Bytes Rebuild(const Bytes& source, uint32_t dirOffset, const Bytes& bodyPrefix = {}) {
    ScratchDir dir;
    qvtest::WriteFile(dir.file("src.zip"), source);
    qvtest::WriteFile(dir.file("body"), bodyPrefix);
    File src(dir.file("src.zip")), body(dir.file("body")), central(dir.file("dir"), true);
    EXPECT_NE(os::SetFilePointer(body.h, 0, os::kFileEnd), os::kInvalidPosition);
    uint32_t pos = dirOffset;
    qv::CentralEntry e;
    int count = 0;
    qv::Result r;
    while ((r = qv::ReadCentralEntry(src.h, &pos, &e)) == QV_OK) {
        EXPECT_EQ(qv::MoveMember(src.h, body.h, central.h, &e.record, e.name, e.extra, e.comment),
                  QV_OK);
        ++count;
    }
    EXPECT_EQ(r, QV_E_NOTHING);
    // Directory behind the body, then the end record.
    const uint32_t newDir = os::SetFilePointer(body.h, 0, os::kFileCurrent);
    const uint32_t dirSize = os::GetFileSize(central.h);
    os::SetFilePointer(central.h, 0, os::kFileBegin);
    EXPECT_EQ(qv::CopyBytes(central.h, body.h, static_cast<int32_t>(dirSize)), QV_OK);
    qv::EndRecord end;
    end.entriesOnDisk = end.entriesTotal = static_cast<uint16_t>(count);
    end.directorySize = dirSize;
    end.directoryOffset = newDir;
    EXPECT_EQ(qv::WriteEndRecord(body.h, end, ""), QV_OK);
    os::CloseHandle(body.h);
    body.h = os::kInvalidHandle;
    return qvtest::ReadFile(dir.file("body"));
}

TEST(MemberCopy, RebuiltArchiveIsByteForByteTheSame) {
    const Archive zip = BuildZip(Members());
    EXPECT_EQ(Rebuild(zip.bytes, zip.dirOffset), zip.bytes);
}

TEST(MemberCopy, OffsetsFollowTheNewPositions) {
    // Members move from behind a 100-byte prefix to the front of the new archive.
    const Archive prefixed = BuildZip(Members(), "", Bytes(100, 'p'));
    const Archive plain = BuildZip(Members());
    EXPECT_EQ(Rebuild(prefixed.bytes, prefixed.dirOffset), plain.bytes);
    // And the other way round, behind something already written to the body.
    EXPECT_EQ(Rebuild(plain.bytes, plain.dirOffset, Bytes(100, 'p')), prefixed.bytes);
}

TEST(MemberCopy, RebuiltArchiveIsReadByUnzip) {
    if (!qvtest::HaveTool("unzip")) GTEST_SKIP() << "unzip not installed";
    const Archive zip = BuildZip(Members(), "", Bytes(100, 'p'));
    ScratchDir dir;
    qvtest::WriteFile(dir.file("out.zip"), Rebuild(zip.bytes, zip.dirOffset));
    std::string out;
    EXPECT_EQ(qvtest::RunCommand("unzip -t " + dir.file("out.zip") + " 2>&1", &out), 0) << out;
    EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
}

TEST(MemberCopy, AmountComesFromTheLocalHeaderAlone) {
    // A member followed by a data descriptor: the descriptor stays behind.
    Member m;
    m.name = "D.TXT";
    m.data = Text("described");
    m.flags = 0x0008;
    Archive zip = BuildZip({m});
    Bytes withDescriptor(zip.bytes.begin(), zip.bytes.begin() + zip.dirOffset);
    readertest::PutText(withDescriptor, "PK\x07\x08" + std::string(12, 'd'));
    ScratchDir dir;
    qvtest::WriteFile(dir.file("src"), withDescriptor);
    File src(dir.file("src")), dst(dir.file("dst"), true);
    EXPECT_EQ(qv::CopyLocalMember(src.h, dst.h), QV_OK);
    EXPECT_EQ(os::GetFileSize(dst.h), zip.dirOffset);

    // A local header that announces more than the file holds, or is itself cut.
    struct {
        size_t keep;
        ResultCode result;
    } cases[] = {{zip.dirOffset - 1, QV_E_EOF}, {29, QV_E_EOF}, {0, QV_E_EOF}};
    for (const auto& c : cases) {
        qvtest::WriteFile(dir.file("cut"), Bytes(zip.bytes.begin(), zip.bytes.begin() + c.keep));
        File cut(dir.file("cut")), out(dir.file("out"), true);
        EXPECT_EQ(qv::CopyLocalMember(cut.h, out.h), c.result) << c.keep;
    }
}

TEST(MemberCopy, CentralRecordWithItsVariableParts) {
    ScratchDir dir;
    File f(dir.file("dir"), true);
    qv::CentralRecord r;
    r.signature = 0;  // set by the writer
    r.nameLength = 5;
    r.extraLength = 0;
    r.commentLength = 3;
    r.crc = 0xCAFEBABE;
    ASSERT_EQ(qv::WriteCentralRecord(f.h, r, "A.TXT", "ignored", "abc"), QV_OK);
    os::CloseHandle(f.h);
    f.h = os::kInvalidHandle;
    const Bytes b = qvtest::ReadFile(dir.file("dir"));
    ASSERT_EQ(b.size(), 46u + 5 + 3);
    EXPECT_EQ(readertest::Get32(b, 0), 0x02014B50u);
    EXPECT_EQ(readertest::Get32(b, 16), 0xCAFEBABEu);
    EXPECT_EQ(std::string(b.begin() + 46, b.end()), "A.TXTabc");
    // A file that cannot be written to.
    const os::FileHandle readOnly =
        os::CreateFile(dir.file("dir"), os::kGenericRead, os::kShareRead, os::kOpenExisting, 0);
    ASSERT_NE(readOnly, os::kInvalidHandle);
    EXPECT_EQ(qv::WriteCentralRecord(readOnly, r, "A.TXT", "", "abc"), QV_E_WRITE);
    os::CloseHandle(readOnly);
}

}  // namespace
