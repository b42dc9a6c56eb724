// extraction_harness.h - what the extraction tests share: a status callback that records
// what the library tells the host and answers as scripted, source trees to archive with real
// tools, and whole-tree comparison.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "le_bytes.h"
#include "qvarc32.h"
#include "test_support.h"

#ifdef QV_HAVE_ZLIB
#include <zlib.h>
#endif

namespace extracttest {

using qvtest::Bytes;
namespace fs = std::filesystem;

// One report the library made through the status callback.
struct Report {
    int16_t kind = 0;
    int16_t code = 0;
    int16_t operation = 0;
    std::string fileName;
    uint32_t processed = 0, total = 0;
};

// The callback's log and its scripted answers (one process-wide callback, as hosts have).
struct StatusScript {
    std::vector<Report> reports;
    int16_t overwriteAnswer = QV_ANSWER_NO;
    int16_t noticeAnswer = QV_ANSWER_OK;
    int cancelAtProgress = -1;  // call Qv4Cancel at this progress report (counted from 0)
    int progressSeen = 0;

    std::vector<Report> Notices() const {
        std::vector<Report> out;
        for (const auto& r : reports)
            if (r.kind == QV_STATUS_NOTICE) out.push_back(r);
        return out;
    }
    std::vector<int16_t> NoticeCodes() const {
        std::vector<int16_t> out;
        for (const auto& r : reports)
            if (r.kind == QV_STATUS_NOTICE) out.push_back(r.code);
        return out;
    }
    int Questions() const {
        int n = 0;
        for (const auto& r : reports) n += r.kind == QV_STATUS_QUESTION;
        return n;
    }
};

inline StatusScript& Script() {
    static StatusScript script;
    return script;
}

inline int16_t QV_CALL RecordStatus(StatusBlock block) {
    StatusScript& s = Script();
    Report r;
    r.kind = block.kind;
    r.code = block.code;
    r.operation = block.operation;
    r.fileName.assign(block.fileName, strnlen(block.fileName, sizeof block.fileName));
    r.processed = block.processedSize;
    r.total = block.totalSize;
    s.reports.push_back(r);
    switch (block.kind) {
        case QV_STATUS_PROGRESS:
            if (s.progressSeen++ == s.cancelAtProgress) Qv4Cancel();
            return QV_ANSWER_OK;
        case QV_STATUS_QUESTION:
            return block.code == QV_ASK_OVERWRITE ? s.overwriteAnswer
                                                  : static_cast<int16_t>(QV_ANSWER_CANCEL);
        default:
            return s.noticeAnswer;
    }
}

// Installs the recording callback for the life of the object, with a fresh script.
class StatusCapture {
public:
    StatusCapture() {
        Script() = StatusScript{};
        Qv4CPrintHook(&RecordStatus);
        Qv4SetCPrint(1);
    }
    ~StatusCapture() {
        Qv4SetCPrint(0);
        Qv4CPrintHook(nullptr);
    }
    StatusScript& script() { return Script(); }
};

// Every file (contents) and directory (marked by a trailing "/") below root, by relative path
// with "/" separators.
inline std::map<std::string, Bytes> ReadTree(const fs::path& root) {
    std::map<std::string, Bytes> tree;
    if (!fs::exists(root)) return tree;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).generic_string();
        if (e.is_directory())
            tree[rel + "/"] = {};
        else
            tree[rel] = qvtest::ReadFile(e.path().string());
    }
    return tree;
}

// Compares two trees and names the first difference.
inline ::testing::AssertionResult SameTree(const std::map<std::string, Bytes>& expected,
                                           const std::map<std::string, Bytes>& actual) {
    for (const auto& [name, data] : expected) {
        auto it = actual.find(name);
        if (it == actual.end()) return ::testing::AssertionFailure() << "missing " << name;
        if (it->second != data)
            return ::testing::AssertionFailure() << name << " differs (" << it->second.size()
                                                 << " bytes, " << data.size() << " expected)";
    }
    for (const auto& [name, data] : actual)
        if (!expected.count(name)) return ::testing::AssertionFailure() << "extra " << name;
    return ::testing::AssertionSuccess();
}

// A local time that DOS fields hold exactly (even seconds): 2001-02-03 04:05:06.
inline std::time_t FixedLocalTime() {
    std::tm t{};
    t.tm_year = 101, t.tm_mon = 1, t.tm_mday = 3, t.tm_hour = 4, t.tm_min = 5, t.tm_sec = 6;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

inline void SetTime(const fs::path& p, std::time_t when) {
    // Converted exactly: going through two readings of now() drifts under slow (sanitizer)
    // runs, and a time that slips past an odd second is rounded to the next DOS time.
    const auto sys = std::chrono::system_clock::from_time_t(when);
    fs::last_write_time(p, std::chrono::time_point_cast<fs::file_time_type::duration>(
                               fs::file_time_type::clock::from_sys(sys)));
}

// Seconds since the epoch of a file's last write.
inline std::time_t WriteTimeOf(const fs::path& p) {
    const auto sys = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
        fs::file_time_type::clock::to_sys(fs::last_write_time(p)));
    return std::chrono::system_clock::to_time_t(sys + std::chrono::milliseconds(500));
}

// A tree with text, binary, empty and nested files and an empty directory, every entry dated
// FixedLocalTime().
inline void MakeSourceTree(const fs::path& root) {
    fs::create_directories(root / "sub" / "deeper");
    fs::create_directories(root / "empty");
    qvtest::WriteFile((root / "hello.txt").string(), std::string("Hello, world!\r\n"));
    qvtest::WriteFile((root / "text.txt").string(), qvtest::TextBytes(300000, 1));
    qvtest::WriteFile((root / "random.bin").string(), qvtest::RandomBytes(140000, 2));
    qvtest::WriteFile((root / "zero.bin").string(), Bytes{});
    qvtest::WriteFile((root / "sub" / "nested.txt").string(), qvtest::TextBytes(70000, 3));
    qvtest::WriteFile((root / "sub" / "deeper" / "runs.bin").string(), Bytes(200000, 'z'));
    for (const auto& e : fs::recursive_directory_iterator(root))
        SetTime(e.path(), FixedLocalTime());
}

inline std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

// ---- ZIP archives built field by field ----------------------------------------------------

using qvtest::Crc32;

#ifdef QV_HAVE_ZLIB
// Raw deflate data of zlib at level 6.
inline Bytes Deflate(const Bytes& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 16);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}
#endif

struct ZipEntry {
    ZipEntry(std::string n, Bytes d, uint16_t m = 0)
        : name(std::move(n)), data(std::move(d)), method(m) {}
    std::string name;     // stored bytes
    Bytes data;           // uncompressed
    uint16_t method = 0;  // 0 stored; 8 deflated (zlib); anything else stores data as is
    std::string extra;
    uint16_t versionMadeBy = 20;  // MS-DOS
    uint32_t externalAttributes = 0x20;
    uint16_t time = (4 << 11) | (5 << 5) | 3;             // 04:05:06
    uint16_t date = ((2001 - 1980) << 9) | (2 << 5) | 3;  // 2001-02-03
    int64_t centralCompressedSize = -1;  // overrides the true size when not negative
};

using qvtest::Put16;
using qvtest::Put32;
using qvtest::PutText;

inline Bytes BuildZip(const std::vector<ZipEntry>& entries) {
    Bytes zip, central;
    for (const ZipEntry& e : entries) {
        Bytes packed = e.data;
#ifdef QV_HAVE_ZLIB
        if (e.method == 8) packed = Deflate(e.data);
#endif
        const uint32_t crc = Crc32(e.data);
        const uint32_t offset = static_cast<uint32_t>(zip.size());
        Put32(zip, 0x04034B50);
        Put16(zip, 20);
        Put16(zip, 0);
        Put16(zip, e.method);
        Put16(zip, e.time);
        Put16(zip, e.date);
        Put32(zip, crc);
        Put32(zip, static_cast<uint32_t>(packed.size()));
        Put32(zip, static_cast<uint32_t>(e.data.size()));
        Put16(zip, static_cast<uint32_t>(e.name.size()));
        Put16(zip, static_cast<uint32_t>(e.extra.size()));
        PutText(zip, e.name);
        PutText(zip, e.extra);
        zip.insert(zip.end(), packed.begin(), packed.end());

        Put32(central, 0x02014B50);
        Put16(central, e.versionMadeBy);
        Put16(central, 20);
        Put16(central, 0);
        Put16(central, e.method);
        Put16(central, e.time);
        Put16(central, e.date);
        Put32(central, crc);
        Put32(central, e.centralCompressedSize >= 0 ? static_cast<uint32_t>(e.centralCompressedSize)
                                                    : static_cast<uint32_t>(packed.size()));
        Put32(central, static_cast<uint32_t>(e.data.size()));
        Put16(central, static_cast<uint32_t>(e.name.size()));
        Put16(central, static_cast<uint32_t>(e.extra.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, e.externalAttributes);
        Put32(central, offset);
        PutText(central, e.name);
        PutText(central, e.extra);
    }
    const uint32_t dirOffset = static_cast<uint32_t>(zip.size());
    zip.insert(zip.end(), central.begin(), central.end());
    Put32(zip, 0x06054B50);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, static_cast<uint32_t>(entries.size()));
    Put16(zip, static_cast<uint32_t>(entries.size()));
    Put32(zip, static_cast<uint32_t>(central.size()));
    Put32(zip, dirOffset);
    Put16(zip, 0);
    return zip;
}

inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Where a member's data lies in an archive's bytes, from its local header: the member at
// local header offset `at`.
inline size_t DataStart(const Bytes& zip, size_t at) {
    const size_t nameLength = zip[at + 26] | (zip[at + 27] << 8);
    const size_t extraLength = zip[at + 28] | (zip[at + 29] << 8);
    return at + 30 + nameLength + extraLength;
}

}  // namespace extracttest
