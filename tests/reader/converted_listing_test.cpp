// Foreign archives, split sets and spanned volumes are listed through a converted ZIP
// directory: the fixtures' listings agree with their own tools (names, sizes, CRCs, dates).
#include "converted_listing.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive_handles.h"
#include "open_names.h"
#include "os.h"
#include "simulated_drive.h"
#include "test_support.h"
#include "zip_records.h"

namespace {

using qvtest::Bytes;
using qvtest::ScratchDir;

struct Listed {
    std::string name;
    uint32_t usize, csize, crc;
    uint16_t method, date, time;
    uint32_t attributes;
};

// Opens name read-only and decodes its listing file record by record.
int ListThroughOpen(const std::string& path, std::vector<Listed>* out, std::string* comment = nullptr) {
    ArchiveHandle h = QV_NO_HANDLE;
    const int r = Qv4ZipOpen(path.c_str(), QV_OPEN_READ, &h);
    if (r != QV_OK) return r;
    qv::ArchiveRecord* rec = qv::FindArchive(h);
    EXPECT_NE(rec, nullptr);
    EXPECT_NE(rec->listingHandle, qv::kInvalidHandle);
    EXPECT_TRUE(qv::IsOpenName(rec->listingName));
    const std::string listing = rec->listingName;
    const Bytes bytes = qvtest::ReadFile(qv::os::OemToAnsi(listing));
    size_t pos = 0;
    while (pos + 46 <= bytes.size() && qv::GetLe32(&bytes[pos]) == 0x02014B50) {
        const qv::CentralRecord c = qv::DecodeCentralRecord(&bytes[pos]);
        out->push_back({std::string(reinterpret_cast<const char*>(&bytes[pos + 46]), c.nameLength),
                        c.uncompressedSize, c.compressedSize, c.crc, c.method, c.date, c.time,
                        c.externalAttributes});
        pos += 46 + c.VariableLength();
    }
    EXPECT_EQ(pos + 22 <= bytes.size(), true);
    const qv::EndRecord end = qv::DecodeEndRecord(&bytes[pos]);
    EXPECT_EQ(end.entriesTotal, out->size());
    EXPECT_EQ(end.directorySize, pos);
    if (comment) *comment = std::string(bytes.begin() + pos + 22, bytes.end());
    Qv4ZipClose(&h);
    EXPECT_FALSE(std::filesystem::exists(qv::os::OemToAnsi(listing)));  // removed on close
    EXPECT_FALSE(qv::IsOpenName(listing));
    return QV_OK;
}

constexpr uint16_t kDate2001 = ((2001 - 1980) << 9) | (2 << 5) | 3;  // 2001-02-03

TEST(ConvertedListing, GzipWithAndWithoutStoredName) {
    std::vector<Listed> l;
    ASSERT_EQ(ListThroughOpen(qvtest::DataFile("made-LINES.TXT.gz"), &l), QV_OK);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].name, "LINES.TXT");
    EXPECT_EQ(l[0].usize, 7760u);
    EXPECT_EQ(l[0].crc, 0x5b1fcb83u);
    EXPECT_EQ(l[0].method, 8);
    EXPECT_EQ(l[0].csize, std::filesystem::file_size(qvtest::DataFile("made-LINES.TXT.gz")) - 20 - 8);
    l.clear();
    ScratchDir dir;
    std::filesystem::copy_file(qvtest::DataFile("made-lines-noname.gz"), dir.file("backup.TGZ"));
    ASSERT_EQ(ListThroughOpen(dir.file("backup.TGZ"), &l), QV_OK);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].name, "backup.tar");
    EXPECT_EQ(l[0].date, 0);  // a modification time of 0 is before 1980
    // Reserved flags are refused, and nothing is left behind.
    Bytes gz = qvtest::ReadFile(qvtest::DataFile("made-lines-noname.gz"));
    gz[3] |= 0x20;
    qvtest::WriteFile(dir.file("bad.gz"), gz);
    const std::string before = qv::OpenNames();
    EXPECT_EQ(ListThroughOpen(dir.file("bad.gz"), &l), QV_E_UNCHANGEABLE);
    EXPECT_EQ(qv::OpenNames(), before);
}

TEST(ConvertedListing, TarNamesSizesAndDirectories) {
    std::vector<Listed> l;
    ASSERT_EQ(ListThroughOpen(qvtest::DataFile("made-sample-ustar.tar"), &l), QV_OK);
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[0].name, "HELLO.TXT");
    EXPECT_EQ(l[0].usize, 15u);
    EXPECT_EQ(l[1].usize, 7760u);
    EXPECT_EQ(l[2].name, "SUBDIR/");
    EXPECT_EQ(l[2].attributes & 0x10, 0x10u);
    EXPECT_EQ(l[3].name, "SUBDIR/NESTED.TXT");
    EXPECT_EQ(l[3].usize, 13u);
    EXPECT_EQ(l[4].name.substr(0, 8), "LONGDIR_");
    EXPECT_NE(l[4].name.find("\\file_with"), std::string::npos);  // prefix "\" name
    for (const auto& e : l) EXPECT_EQ(e.usize, e.csize);
    l.clear();
    ASSERT_EQ(ListThroughOpen(qvtest::DataFile("made-sample-gnu.tar"), &l), QV_OK);
    EXPECT_GE(l.size(), 5u);
}

TEST(ConvertedListing, TarSizeFieldPastTheEndStops) {
    ScratchDir dir;
    Bytes tar = qvtest::ReadFile(qvtest::DataFile("made-sample-ustar.tar"));
    std::memcpy(&tar[124], "77777777777", 11);  // an enormous size
    qvtest::WriteFile(dir.file("big.tar"), tar);
    std::vector<Listed> l;
    ASSERT_EQ(ListThroughOpen(dir.file("big.tar"), &l), QV_OK);
    EXPECT_EQ(l.size(), 1u);
}

TEST(ConvertedListing, LhaEveryHeaderLevel) {
    for (const char* file : {"made-sample-h0-lh5.lzh", "made-sample-h1-lh5.lzh", "made-sample-h2-lh7.lzh"}) {
        std::vector<Listed> l;
        ASSERT_EQ(ListThroughOpen(qvtest::DataFile(file), &l), QV_OK) << file;
        ASSERT_EQ(l.size(), 3u) << file;
        EXPECT_EQ(l[0].name, "HELLO.TXT") << file;
        EXPECT_EQ(l[0].usize, 15u);
        EXPECT_EQ(l[1].name, "LINES.TXT");
        EXPECT_EQ(l[1].usize, 7760u);
        // Level-1 sizes count the extended headers that follow the base header.
        EXPECT_EQ(l[1].csize, file[13] == '1' ? 282u : 277u);
        EXPECT_EQ(l[1].method, file[13] == '2' ? 7 : 5);
        EXPECT_EQ(l[2].name, "BINARY.DAT");
        EXPECT_EQ(l[2].usize, 1024u);
        EXPECT_EQ(l[2].date, kDate2001) << file;
    }
    std::vector<Listed> l;
    ASSERT_EQ(ListThroughOpen(qvtest::DataFile("lharc113_subdir.lzh"), &l), QV_OK);
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l.back().name, "SUBDIR\\SUBDIR2\\HELLO.TXT");
}

TEST(ConvertedListing, ArjAndArc) {
    std::vector<Listed> l;
    ASSERT_EQ(ListThroughOpen(qvtest::DataFile("made-sample-m1.arj"), &l), QV_OK);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0].name, "HELLO.TXT");
    EXPECT_EQ(l[0].crc, 0x6e815da5u);
    EXPECT_EQ(l[1].name, "LINES.TXT");
    EXPECT_EQ(l[1].crc, 0x5b1fcb83u);
    EXPECT_EQ(l[1].csize, 277u);
    EXPECT_EQ(l[1].method, 1);
    EXPECT_EQ(l[2].crc, 0xf5e54ad0u);
    EXPECT_EQ(l[2].date, kDate2001);
    l.clear();
    ASSERT_EQ(ListThroughOpen(qvtest::DataFile("made-sample.arc"), &l), QV_OK);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0].name, "BINARY.DAT");
    EXPECT_EQ(l[2].name, "LINES.TXT");
    EXPECT_EQ(l[2].usize, 7760u);
    EXPECT_EQ(l[2].csize, 1603u);
    EXPECT_EQ(l[2].crc, 0x0a43u);
}

TEST(ConvertedListing, HostileForeignHeaders) {
    ScratchDir dir;
    // An LHA header of the wrong kind after a good one.
    Bytes lha = qvtest::ReadFile(qvtest::DataFile("made-sample-h0-lh5.lzh"));
    const size_t second = lha[0] + 2 + qv::GetLe32(&lha[7]);
    lha[second + 3] = 'x';
    qvtest::WriteFile(dir.file("bad.lzh"), lha);
    std::vector<Listed> l;
    EXPECT_EQ(ListThroughOpen(dir.file("bad.lzh"), &l), QV_E_NO_DIRECTORY);
    // A ZOO chain that points back at itself.
    Bytes zoo(200, 0);
    std::memcpy(&zoo[0], "ZOO 2.10 Archive.\x1A", 18);
    qv::PutLe32(&zoo[20], 0xFDC4A7DC);
    qv::PutLe32(&zoo[24], 40);
    qv::PutLe32(&zoo[40], 0xFDC4A7DC);
    qv::PutLe32(&zoo[46], 40);  // next entry: itself
    std::memcpy(&zoo[40 + 38], "LOOP.TXT", 8);
    qvtest::WriteFile(dir.file("loop.zoo"), zoo);
    l.clear();
    EXPECT_EQ(ListThroughOpen(dir.file("loop.zoo"), &l), QV_E_NO_DIRECTORY);
    // A split-set header with an unknown version is refused by identification already;
    // one whose records run past the end is a short read.
    Bytes split = {'Q', 'V', 'V', 'X', 1, 0, 5, 0, 1, 0, 12, 0};
    qvtest::WriteFile(dir.file("short.qvv"), split);
    l.clear();
    EXPECT_EQ(ListThroughOpen(dir.file("short.qvv"), &l), QV_E_EOF);
    EXPECT_EQ(qv::OpenNames(), "");
}

}  // namespace

namespace {

qvtest::SimulatedDrive* gDrive = nullptr;
std::vector<int> gRequests;

// Inserts the disk asked for; the last disk is the highest numbered one.
int16_t QV_CALL DiskHost(StatusBlock block) {
    if (block.kind != QV_STATUS_QUESTION) return QV_ANSWER_OK;
    const int disk = block.code == QV_ASK_LAST_DISK ? 3 : block.disk;
    gRequests.push_back(block.code == QV_ASK_LAST_DISK ? -1 : block.disk);
    gDrive->Insert(disk);
    return QV_ANSWER_OK;
}

TEST(ConvertedListing, SpannedSetAcrossSimulatedDisks) {
    if (!qvtest::HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is missing";
    ScratchDir dir;
    qvtest::WriteFile(dir.file("NOISE.BIN"), qvtest::RandomBytes(150000, 2024));
    qvtest::WriteFile(dir.file("HELLO.TXT"), std::string("Hello, world!\r\n"));
    ASSERT_EQ(qvtest::RunCommand("cd " + dir.path().string() + " && zip -q -s 64k set.zip NOISE.BIN HELLO.TXT"), 0);
    qvtest::SimulatedDrive drive(dir.path() / "media", 3);
    gDrive = &drive;
    const char* parts[] = {"set.z01", "set.z02", "set.zip"};
    for (int n = 1; n <= 3; ++n) {
        std::filesystem::rename(dir.file(parts[n - 1]), drive.DiskFolder(n) / "set.zip");
        drive.SetDiskLabel(n, "PKBACK# 00" + std::to_string(n));
    }
    drive.Insert(1);
    Qv4CPrintHook(&DiskHost);
    Qv4SetCPrint(1);
    std::vector<Listed> l;
    ASSERT_EQ(ListThroughOpen(drive.drive() + "/set.zip", &l), QV_OK);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].name, "NOISE.BIN");
    EXPECT_EQ(l[0].usize, 150000u);
    EXPECT_EQ(l[1].name, "HELLO.TXT");
    EXPECT_EQ(l[1].crc, 0x6e815da5u);
    EXPECT_EQ(gRequests, (std::vector<int>{-1}));  // only the last disk had to be asked for
    // With status reporting off the disk question is refused and the open fails.
    drive.Insert(1);
    Qv4SetCPrint(0);
    l.clear();
    EXPECT_EQ(ListThroughOpen(drive.drive() + "/set.zip", &l), QV_E_CANCELLED);
    EXPECT_EQ(qv::OpenNames(), "");
    Qv4CPrintHook(nullptr);
    gDrive = nullptr;
}

TEST(ConvertedListing, OwnSplitSetHeader) {
    // Two records, then their names: "A.TXT" and "DIR/B.TXT" with a comment.
    Bytes split = {'Q', 'V', 'V', 'X', 2, 0, 2, 0, 2, 0, 12, 0};
    auto record = [&](uint16_t nameLen, uint16_t commentLen, uint16_t disk, uint32_t size) {
        Bytes r(46, 0);
        qv::PutLe16(&r[28], nameLen);
        qv::PutLe16(&r[32], commentLen);
        qv::PutLe16(&r[34], disk);
        qv::PutLe32(&r[24], size);
        split.insert(split.end(), r.begin(), r.end());
    };
    record(5, 0, 1, 100);
    record(9, 4, 2, 200);
    for (char c : std::string("A.TXTDIR/B.TXTnote")) split.push_back(static_cast<uint8_t>(c));
    ScratchDir dir;
    qvtest::WriteFile(dir.file("set.qv1"), split);
    std::vector<Listed> l;
    ASSERT_EQ(ListThroughOpen(dir.file("set.qv1"), &l), QV_OK);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].name, "A.TXT");
    EXPECT_EQ(l[1].name, "DIR/B.TXT");
    EXPECT_EQ(l[1].usize, 200u);
}

}  // namespace

namespace {

// Archives made here by each format's own tool list the same names and sizes as the tool
// shows, and the dates the files have.
TEST(ConvertedListing, AgreesWithTheFormatsOwnTools) {
    struct Tool {
        const char* program;
        const char* make;  // run in the scratch folder
        const char* list;
        const char* archive;
    } tools[] = {
        {"arj", "arj a -y x.arj a.txt b.bin", "arj l x.arj", "x.arj"},
        {"lha", "lha a x.lzh a.txt b.bin", "lha l x.lzh", "x.lzh"},
        {"arc", "arc a x.arc a.txt b.bin", "arc l x.arc", "x.arc"},
        {"tar", "tar --format=ustar -cf x.tar a.txt b.bin", "tar tvf x.tar", "x.tar"},
        {"tar", "tar --format=gnu -cf y.tar a.txt b.bin", "tar tvf y.tar", "y.tar"},
        {"gzip", "gzip -k b.bin", "gzip -l b.bin.gz", "b.bin.gz"},
    };
    for (const auto& t : tools) {
        SCOPED_TRACE(t.archive);
        if (!qvtest::HaveTool(t.program)) {
            ADD_FAILURE() << t.program << " is missing (CI installs it)";
            continue;
        }
        ScratchDir dir;
        qvtest::WriteFile(dir.file("a.txt"), std::string("hello\n"));
        qvtest::WriteFile(dir.file("b.bin"), qvtest::RandomBytes(5000, 9));
        const std::string cd = "cd " + dir.path().string() + " && ";
        ASSERT_EQ(qvtest::RunCommand(cd + t.make + " >/dev/null 2>&1"), 0) << t.make;
        std::string native;
        qvtest::RunCommand(cd + t.list, &native);  // gzip -l exits 1 when data did not shrink
        std::vector<Listed> l;
        ASSERT_EQ(ListThroughOpen(dir.file(t.archive), &l), QV_OK) << t.archive;
        const bool gzip = std::string(t.program) == "gzip";
        ASSERT_EQ(l.size(), gzip ? 1u : 2u) << t.archive;
        for (const auto& e : l) {
            std::string name = e.name;
            for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_NE(native.find(name), std::string::npos) << t.archive << ": " << e.name << "\n" << native;
            EXPECT_NE(native.find(std::to_string(e.usize)), std::string::npos) << t.archive << ": " << e.usize;
            EXPECT_EQ(e.usize, name == "a.txt" ? 6u : 5000u) << t.archive;
            EXPECT_GE(e.date >> 9, 2020 - 1980) << t.archive << ": " << e.name;  // made today
        }
    }
}

}  // namespace
