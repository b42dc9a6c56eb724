// Archives written by other ZIP tools list through the exported readers exactly as Info-ZIP's
// zipinfo and Python's zipfile see them: count, names, sizes, CRCs, methods, flags, dates,
// attributes and comments, field by field.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "qvarc32.h"
#include "test_support.h"

namespace {

using qvtest::ScratchDir;

struct Entry {
    std::string name;  // as the library reports it: ANSI, "\" separators
    uint32_t usize = 0, csize = 0, crc = 0;
    uint16_t method = 0, flags = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::string comment;
    bool haveRaw = false;  // the fields below are known
    uint16_t versionMadeBy = 0, versionNeeded = 0, extraLength = 0, internalAttributes = 0;
    uint32_t externalAttributes = 0;
};

struct Listing {
    int result = 0;
    int count = -1;
    std::string comment;
    std::vector<Entry> entries;
};

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

std::string Unhex(const std::string& h) {
    if (h == "-") return {};
    std::string out;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

Listing ListWithLibrary(const std::string& path, uint32_t mode = QV_OPEN_READ) {
    Listing l;
    ArchiveHandle h = QV_NO_HANDLE;
    l.result = Qv4ZipOpen(path.c_str(), mode, &h);
    if (l.result != QV_OK) return l;
    uint16_t count = 0;
    l.result = Qv4ZipCount(h, &count);
    l.count = count;
    std::vector<char> comment(65535);
    const ResultCode cr = Qv4ZipComment(h, comment.data(), 65535);
    EXPECT_TRUE(cr == QV_OK) << cr;
    l.comment = comment.data();
    for (int i = 0; i < 70000; ++i) {
        DirectoryRecord r;
        char name[QV_NAME_BUFFER_SIZE];
        const ResultCode res = (i == 0 ? Qv4ZipFindFirst : Qv4ZipFindNext)(h, &r, name, nullptr, 0,
                                                                           comment.data(), 65535);
        if (res == QV_E_NOTHING) break;
        if (res != QV_OK) {
            l.result = res;
            break;
        }
        Entry e;
        e.name = name;
        e.usize = r.uncompressedSize;
        e.csize = r.compressedSize;
        e.crc = r.crc32;
        e.method = r.method;
        e.flags = r.flags;
        e.year = (r.date >> 9) + 1980;
        e.month = (r.date >> 5) & 15;
        e.day = r.date & 31;
        e.hour = r.time >> 11;
        e.minute = (r.time >> 5) & 63;
        e.second = (r.time & 31) * 2;
        e.comment = comment.data();
        e.haveRaw = true;
        e.versionMadeBy = r.versionMadeBy;
        e.versionNeeded = r.versionNeeded;
        e.extraLength = r.extraLength;
        e.internalAttributes = r.internalAttributes;
        e.externalAttributes = r.externalAttributes;
        l.entries.push_back(e);
    }
    Qv4ZipClose(&h);
    return l;
}

// Python's zipfile as the independent reader. Names are turned back into their stored bytes
// and shown as the library's name rule shows them (CP437 to UTF-8, "\" separators), so that
// UTF-8-flagged names compare by their bytes too.
constexpr const char* kPythonLister = R"PY(
import sys, zipfile
zf = zipfile.ZipFile(sys.argv[1])
def shown(raw):
    return raw.decode('cp437').encode('utf-8').hex() or '-'
print('COUNT', len(zf.infolist()))
print('COMMENT', shown(zf.comment))
for i in zf.infolist():
    raw = i.filename.encode('utf-8') if i.flag_bits & 0x800 else i.filename.encode('cp437')
    name = raw.decode('cp437').replace('/', '\\').encode('utf-8').hex()
    made_by = (i.create_system << 8) | i.create_version
    ext = i.external_attr if i.create_system == 0 else 0
    print('ENTRY', name, i.file_size, i.compress_size, i.CRC, i.compress_type, i.flag_bits,
          *i.date_time, shown(i.comment), made_by, i.extract_version, len(i.extra),
          i.internal_attr, ext)
)PY";

Listing ListWithPython(const ScratchDir& dir, const std::string& path) {
    const std::string script = dir.file("lister.py");
    qvtest::WriteFile(script, std::string(kPythonLister));
    std::string out;
    Listing l;
    l.result = qvtest::RunCommand("python3 " + Quote(script) + " " + Quote(path) + " 2>&1", &out);
    std::istringstream in(out);
    std::string tag;
    while (in >> tag) {
        if (tag == "COUNT") {
            in >> l.count;
        } else if (tag == "COMMENT") {
            std::string h;
            in >> h;
            l.comment = Unhex(h);
        } else if (tag == "ENTRY") {
            Entry e;
            std::string name, comment;
            in >> name >> e.usize >> e.csize >> e.crc >> e.method >> e.flags >> e.year >> e.month >>
                e.day >> e.hour >> e.minute >> e.second >> comment >> e.versionMadeBy >>
                e.versionNeeded >> e.extraLength >> e.internalAttributes >> e.externalAttributes;
            e.name = Unhex(name);
            e.comment = Unhex(comment);
            e.haveRaw = true;
            l.entries.push_back(e);
        } else {
            ADD_FAILURE() << "python said: " << out;
            break;
        }
    }
    return l;
}

std::string After(const std::string& line, const std::string& label) {
    std::string rest = line.substr(label.size());
    const size_t start = rest.find_first_not_of(' ');
    return start == std::string::npos ? "" : rest.substr(start);
}

std::string WithoutCr(std::string s) {
    std::string out;
    for (char c : s)
        if (c != '\r') out += c;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// Info-ZIP's zipinfo -v as the second reader: it has no field for every value, and shows
// names in its own way, so only the fields it prints plainly are taken.
Listing ListWithZipinfo(const std::string& path) {
    std::string out;
    Listing l;
    l.result = qvtest::RunCommand("zipinfo -v " + Quote(path) + " 2>&1", &out);
    static const std::map<std::string, uint16_t> kMethods = {
        {"none (stored)", 0}, {"shrunk", 1},   {"imploded", 6}, {"tokenized", 7},
        {"deflated", 8},      {"bzipped", 12}, {"LZMA", 14}};
    static const std::map<std::string, uint16_t> kDeflation = {
        {"normal", 0}, {"maximum", 2}, {"fast", 4}, {"superfast", 6}};
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::istringstream in(out);
    std::string line;
    std::string* collecting = nullptr;
    Entry* e = nullptr;
    int nameLinesToGo = -1;
    l.count = 0;
    while (std::getline(in, line)) {
        if (line.rfind("======================== zipfile comment begins", 0) == 0 ||
            line.rfind("------------------------- file comment begins", 0) == 0) {
            collecting = e ? &e->comment : &l.comment;
            continue;
        }
        if (line.rfind("========================= zipfile comment ends", 0) == 0 ||
            line.rfind("-------------------------- file comment ends", 0) == 0) {
            *collecting = WithoutCr(*collecting);
            collecting = nullptr;
            continue;
        }
        if (collecting) {
            *collecting += line + "\n";
            continue;
        }
        if (line.rfind("Central directory entry #", 0) == 0) {
            l.entries.emplace_back();
            e = &l.entries.back();
            ++l.count;
            nameLinesToGo = 2;  // the dashes, a blank line, then the name
            continue;
        }
        if (!e) continue;
        if (nameLinesToGo > 0) {
            --nameLinesToGo;
            continue;
        }
        if (nameLinesToGo == 0) {
            // A note on bytes before the member may stand between the header and the name.
            if (line.empty() || line.rfind("  There are an extra ", 0) == 0) continue;
            e->name = line.substr(2);
            nameLinesToGo = -1;
            continue;
        }
        const std::string t = line;
        if (t.rfind("  compression method:", 0) == 0) {
            const std::string m = After(t, "  compression method:");
            e->method = kMethods.count(m) ? kMethods.at(m) : 0xFFFF;
        } else if (t.rfind("  compression sub-type (deflation):", 0) == 0) {
            e->flags |= kDeflation.at(After(t, "  compression sub-type (deflation):"));
        } else if (t.rfind("  file security status:", 0) == 0) {
            if (After(t, "  file security status:") == "encrypted") e->flags |= 1;
        } else if (t.rfind("  file last modified on (DOS date/time):", 0) == 0) {
            char month[8] = {};
            std::sscanf(After(t, "  file last modified on (DOS date/time):").c_str(),
                        "%d %7s %d %d:%d:%d", &e->year, month, &e->day, &e->hour, &e->minute,
                        &e->second);
            for (int m = 0; m < 12; ++m)
                if (std::strcmp(month, kMonths[m]) == 0) e->month = m + 1;
        } else if (t.rfind("  32-bit CRC value (hex):", 0) == 0) {
            e->crc = static_cast<uint32_t>(
                std::stoul(After(t, "  32-bit CRC value (hex):"), nullptr, 16));
        } else if (t.rfind("  compressed size:", 0) == 0) {
            e->csize = static_cast<uint32_t>(std::stoul(After(t, "  compressed size:")));
        } else if (t.rfind("  uncompressed size:", 0) == 0) {
            e->usize = static_cast<uint32_t>(std::stoul(After(t, "  uncompressed size:")));
        }
    }
    return l;
}

bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

std::string Slashes(std::string s) {
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

// The library's listing against both peers, field by field.
void ExpectListedAsPeersList(const ScratchDir& dir, const std::string& path) {
    SCOPED_TRACE(path);
    const Listing ours = ListWithLibrary(path);
    ASSERT_EQ(ours.result, QV_OK);
    ASSERT_EQ(ours.count, static_cast<int>(ours.entries.size()));
    int peers = 0;
    if (qvtest::HaveTool("python3")) {
        ++peers;
        const Listing py = ListWithPython(dir, path);
        ASSERT_EQ(py.result, 0);
        EXPECT_EQ(ours.count, py.count);
        EXPECT_EQ(ours.comment, py.comment);
        ASSERT_EQ(ours.entries.size(), py.entries.size());
        for (size_t i = 0; i < py.entries.size(); ++i) {
            const Entry& a = ours.entries[i];
            const Entry& b = py.entries[i];
            SCOPED_TRACE("python, entry " + std::to_string(i) + " " + b.name);
            EXPECT_EQ(a.name, b.name);
            EXPECT_EQ(a.usize, b.usize);
            EXPECT_EQ(a.csize, b.csize);
            EXPECT_EQ(a.crc, b.crc);
            EXPECT_EQ(a.method, b.method);
            EXPECT_EQ(a.flags, b.flags);
            EXPECT_EQ(a.year, b.year);
            EXPECT_EQ(a.month, b.month);
            EXPECT_EQ(a.day, b.day);
            EXPECT_EQ(a.hour, b.hour);
            EXPECT_EQ(a.minute, b.minute);
            EXPECT_EQ(a.second, b.second);
            EXPECT_EQ(a.comment, b.comment);
            EXPECT_EQ(a.versionMadeBy, b.versionMadeBy);
            EXPECT_EQ(a.versionNeeded, b.versionNeeded);
            EXPECT_EQ(a.extraLength, b.extraLength);
            EXPECT_EQ(a.internalAttributes, b.internalAttributes);
            EXPECT_EQ(a.externalAttributes, b.externalAttributes);
        }
    }
    if (qvtest::HaveTool("zipinfo")) {
        ++peers;
        const Listing zi = ListWithZipinfo(path);
        EXPECT_EQ(ours.count, zi.count);
        if (IsAscii(ours.comment)) {
            EXPECT_EQ(WithoutCr(ours.comment), zi.comment);
        }
        ASSERT_EQ(ours.entries.size(), zi.entries.size());
        for (size_t i = 0; i < zi.entries.size(); ++i) {
            const Entry& a = ours.entries[i];
            const Entry& b = zi.entries[i];
            SCOPED_TRACE("zipinfo, entry " + std::to_string(i) + " " + b.name);
            if (IsAscii(a.name)) {
                EXPECT_EQ(Slashes(a.name), Slashes(b.name));
            }
            EXPECT_EQ(a.usize, b.usize);
            EXPECT_EQ(a.csize, b.csize);
            EXPECT_EQ(a.crc, b.crc);
            if (b.method != 0xFFFF) {  // a method zipinfo has a name for
                EXPECT_EQ(a.method, b.method);
            }
            // zipinfo shows the deflate option and encryption of the flags.
            EXPECT_EQ(a.flags & (a.method == 8 ? 7 : 1), b.flags);
            EXPECT_EQ(a.year, b.year);
            EXPECT_EQ(a.month, b.month);
            EXPECT_EQ(a.day, b.day);
            EXPECT_EQ(a.hour, b.hour);
            EXPECT_EQ(a.minute, b.minute);
            EXPECT_EQ(a.second, b.second);
            if (IsAscii(a.comment)) {
                EXPECT_EQ(WithoutCr(a.comment), b.comment);
            }
        }
    }
    if (peers == 0) GTEST_SKIP() << "neither python3 nor zipinfo installed";
}

// A small tree of files: text, binary, empty, nested and an empty directory.
void MakeTree(const ScratchDir& dir) {
    qvtest::WriteFile(dir.file("HELLO.TXT"), std::string("Hello, world!\r\n"));
    qvtest::WriteFile(dir.file("LINES.TXT"), qvtest::TextBytes(20000, 1));
    qvtest::WriteFile(dir.file("BINARY.DAT"), qvtest::RandomBytes(5000, 2));
    qvtest::WriteFile(dir.file("EMPTY.TXT"), std::string());
    std::filesystem::create_directories(dir.path() / "SUB" / "DEEPER");
    std::filesystem::create_directories(dir.path() / "EMPTYDIR");
    qvtest::WriteFile(dir.file("SUB/NESTED.TXT"), qvtest::TextBytes(3000, 4));
    qvtest::WriteFile(dir.file("SUB/DEEPER/LEAF.BIN"), qvtest::RandomBytes(100, 5));
}

const char* kTreeFiles = "HELLO.TXT LINES.TXT BINARY.DAT EMPTY.TXT SUB EMPTYDIR";

std::string In(const ScratchDir& dir, const std::string& command) {
    return "cd " + Quote(dir.path().string()) + " && " + command + " >/dev/null 2>&1";
}

TEST(PeerListing, InfoZipArchives) {
    if (!qvtest::HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip not installed";
    ScratchDir dir;
    MakeTree(dir);
    const std::string files = kTreeFiles;
    const char* commands[] = {
        "zip -q -r plain.zip %s",
        "zip -q -0 -r stored.zip %s",
        "zip -q -9 -r best.zip %s",
        "zip -q -1 -r fast.zip %s",
        "zip -q -P secret -r encrypted.zip %s",
        "zip -q -D -r nodirs.zip %s",
        // One comment line per entry; the archive comment in a second step.
        "printf 'first comment\\nsecond\\n\\nfourth\\nfifth\\nsixth\\nseventh\\neighth\\nninth\\n' "
        "| "
        "zip -q -c -r comments.zip %s && printf 'The archive comment.\\nSecond line.\\n' | zip -q "
        "-z comments.zip",
    };
    for (const char* c : commands) {
        char command[512];
        std::snprintf(command, sizeof command, c, files.c_str());
        ASSERT_EQ(qvtest::RunCommand(In(dir, command)), 0) << command;
    }
    for (const char* name : {"plain.zip", "stored.zip", "best.zip", "fast.zip", "encrypted.zip",
                             "nodirs.zip", "comments.zip"})
        ExpectListedAsPeersList(dir, dir.file(name));

    // What the comparisons rest on: the archives do carry the features they should.
    const Listing commented = ListWithLibrary(dir.file("comments.zip"));
    EXPECT_EQ(commented.comment, "The archive comment.\r\nSecond line.");
    EXPECT_EQ(commented.entries.at(0).comment, "first comment");
    const Listing encrypted = ListWithLibrary(dir.file("encrypted.zip"));
    for (const Entry& e : encrypted.entries)
        if (e.usize) {
            EXPECT_TRUE(e.flags & 1) << e.name;
            if (e.method == 0) {
                EXPECT_EQ(e.csize, e.usize + 12) << e.name;
            }
        }
    bool sawDirectory = false, sawEmpty = false;
    for (const Entry& e : ListWithLibrary(dir.file("plain.zip")).entries) {
        sawDirectory |= e.name == "SUB\\DEEPER\\";
        sawEmpty |= e.name == "EMPTY.TXT" && e.usize == 0;
    }
    EXPECT_TRUE(sawDirectory);
    EXPECT_TRUE(sawEmpty);
}

TEST(PeerListing, SevenZipArchives) {
    const char* tool = qvtest::HaveTool("7z") ? "7z" : qvtest::HaveTool("7za") ? "7za" : nullptr;
    if (!tool) GTEST_SKIP() << "7-Zip not installed";
    ScratchDir dir;
    MakeTree(dir);
    const std::string t = tool;
    ASSERT_EQ(qvtest::RunCommand(In(dir, t + " a -tzip deflated.zip " + kTreeFiles)), 0);
    ASSERT_EQ(qvtest::RunCommand(In(dir, t + " a -tzip -mx0 stored.zip " + kTreeFiles)), 0);
    ASSERT_EQ(qvtest::RunCommand(In(dir, t + " a -tzip -mx9 best.zip " + kTreeFiles)), 0);
    ASSERT_EQ(qvtest::RunCommand(
                  In(dir, t + " a -tzip -psecret -mem=ZipCrypto encrypted.zip " + kTreeFiles)),
              0);
    for (const char* name : {"deflated.zip", "stored.zip", "best.zip", "encrypted.zip"})
        ExpectListedAsPeersList(dir, dir.file(name));
}

TEST(PeerListing, BsdtarArchives) {
    if (!qvtest::HaveTool("bsdtar")) GTEST_SKIP() << "bsdtar not installed";
    ScratchDir dir;
    MakeTree(dir);
    ASSERT_EQ(qvtest::RunCommand(
                  In(dir, std::string("bsdtar --format zip -cf deflated.zip ") + kTreeFiles)),
              0);
    ASSERT_EQ(qvtest::RunCommand(
                  In(dir, std::string("bsdtar --format zip --options zip:compression=store "
                                      "-cf stored.zip ") +
                              kTreeFiles)),
              0);
    for (const char* name : {"deflated.zip", "stored.zip"})
        ExpectListedAsPeersList(dir, dir.file(name));
}

// Python's zipfile writes exactly the fields it is told: MS-DOS records with attributes,
// comments, other methods and the library's own long-name block.
constexpr const char* kPythonWriter = R"PY(
import sys, zipfile
out = sys.argv[1]
with zipfile.ZipFile(out, 'w') as z:
    z.comment = b'Python archive comment \x82\x90'
    def add(name, data, method=zipfile.ZIP_DEFLATED, comment=b'', system=3, attr=0o100644 << 16,
            extra=b'', when=(2024, 2, 29, 23, 59, 58)):
        i = zipfile.ZipInfo(name, when)
        i.compress_type = method
        i.comment = comment
        i.create_system = system
        i.external_attr = attr
        i.extra = extra
        z.writestr(i, data)
    add('plain.txt', b'plain text ' * 100)
    add('stored.bin', bytes(range(256)), zipfile.ZIP_STORED)
    add('empty.txt', b'')
    add('dir/', b'', zipfile.ZIP_STORED, attr=0x10)
    add('dir/in dir.txt', b'x', comment=b'member comment')
    add('DOSFILE.TXT', b'dos', system=0, attr=0x21, when=(1980, 1, 1, 0, 0, 0))
    add('bz.txt', b'bzip2 ' * 50, zipfile.ZIP_BZIP2)
    add('xz.txt', b'lzma ' * 50, zipfile.ZIP_LZMA)
    name = b'Long Directory/A Long File Name.txt'
    block = b'QW' + (len(name) + 2).to_bytes(2, 'little') + b'Vx' + name
    add('LONGDI~1/ALONGF~1.TXT', b'long', system=0, attr=0x20,
        extra=b'UT\x05\x00\x01\x00\x00\x00\x00' + block)
)PY";

TEST(PeerListing, PythonZipfileArchives) {
    if (!qvtest::HaveTool("python3")) GTEST_SKIP() << "python3 not installed";
    ScratchDir dir;
    qvtest::WriteFile(dir.file("writer.py"), std::string(kPythonWriter));
    const std::string zip = dir.file("python.zip");
    ASSERT_EQ(qvtest::RunCommand("python3 " + Quote(dir.file("writer.py")) + " " + Quote(zip)), 0);
    ExpectListedAsPeersList(dir, zip);

    const Listing stored = ListWithLibrary(zip);
    ASSERT_EQ(stored.entries.size(), 9u);
    EXPECT_EQ(stored.comment, "Python archive comment \xC3\xA9\xC3\x89");
    EXPECT_EQ(stored.entries[5].externalAttributes, 0x21u);
    EXPECT_EQ(stored.entries[6].method, 12);
    EXPECT_EQ(stored.entries[8].name, "LONGDI~1\\ALONGF~1.TXT");
    // With effective names the long name stands in for the stored one.
    const Listing effective = ListWithLibrary(zip, QV_OPEN_READ | QV_OPEN_LONGNAMES);
    ASSERT_EQ(effective.entries.size(), 9u);
    EXPECT_EQ(effective.entries[8].name, "Long Directory\\A Long File Name.txt");
    EXPECT_EQ(effective.entries[7].name, "xz.txt");
}

// The shared real-world samples: data descriptors, comments, encryption, CP437 and UTF-8
// names, backslashes, extra fields in odd places.
TEST(PeerListing, FeatureFixtures) {
    ScratchDir dir;
    int listed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(qvtest::DataFile("zip"))) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".zip" && ext != ".jar") continue;
        ExpectListedAsPeersList(dir, entry.path().string());
        ++listed;
    }
    EXPECT_GE(listed, 16);
}

// The command-line host prints the same listing for people.
TEST(PeerListing, QvarcListCommand) {
    ScratchDir dir;
    std::string out;
    const std::string fixture = qvtest::DataFile("zip/made-infozip-comments.zip");
    ASSERT_EQ(qvtest::RunCommand(
                  std::string(QV_QVARC_TOOL) + " list -c " + Quote(fixture) + " 2>&1", &out),
              0)
        << out;
    EXPECT_NE(out.find("      15  Stored        15   0%  2001-02-03 04:05:06  6e815da5  HELLO.TXT"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("    7760  Defl:X       308  96%  2001-02-03 04:05:06  5b1fcb83  LINES.TXT"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Comment on LINES.TXT"), std::string::npos) << out;
    EXPECT_NE(out.find("3 files"), std::string::npos) << out;
    EXPECT_NE(out.find("Archive comment for EOCD tests."), std::string::npos) << out;
    // The alias, without member comments.
    out.clear();
    ASSERT_EQ(
        qvtest::RunCommand(std::string(QV_QVARC_TOOL) + " l " + Quote(fixture) + " 2>&1", &out), 0);
    EXPECT_EQ(out.find("Comment on LINES.TXT"), std::string::npos) << out;
    const std::string encrypted = qvtest::DataFile("zip/made-infozip-encrypted-stored.zip");
    out.clear();
    ASSERT_EQ(
        qvtest::RunCommand(std::string(QV_QVARC_TOOL) + " l " + Quote(encrypted) + " 2>&1", &out),
        0);
    EXPECT_NE(out.find("*HELLO.TXT"), std::string::npos) << out;
    // A file that is no archive gives a result code and a failing exit status.
    qvtest::WriteFile(dir.file("junk.zip"), std::string("not an archive at all, just text"));
    EXPECT_NE(qvtest::RunCommand(
                  std::string(QV_QVARC_TOOL) + " l " + Quote(dir.file("junk.zip")) + " 2>&1", &out),
              0);
}

}  // namespace
