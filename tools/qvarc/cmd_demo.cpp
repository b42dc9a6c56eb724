// qvarc demo [DIR] : writes a small set of sample files of every kind the library knows and
// shows what the library makes of them.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "commands.h"

namespace qvarc {
namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
void PutText(Bytes& b, const char* s) { b.insert(b.end(), s, s + std::strlen(s)); }

uint32_t Crc32(const Bytes& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// One stored member: local header, data, central record, end record.
Bytes StoredZip(const char* name, const Bytes& data, const char* comment) {
    Bytes z;
    const uint32_t crc = Crc32(data);
    const uint16_t dosTime = (12 << 11) | (34 << 5), dosDate = ((2026 - 1980) << 9) | (12 << 5) | 10;
    Put32(z, 0x04034B50);
    Put16(z, 10), Put16(z, 0), Put16(z, 0), Put16(z, dosTime), Put16(z, dosDate);
    Put32(z, crc), Put32(z, data.size()), Put32(z, data.size());
    Put16(z, std::strlen(name)), Put16(z, 0);
    PutText(z, name);
    z.insert(z.end(), data.begin(), data.end());
    const uint32_t dirOffset = z.size();
    Put32(z, 0x02014B50);
    Put16(z, 20), Put16(z, 10), Put16(z, 0), Put16(z, 0), Put16(z, dosTime), Put16(z, dosDate);
    Put32(z, crc), Put32(z, data.size()), Put32(z, data.size());
    Put16(z, std::strlen(name)), Put16(z, 0), Put16(z, 0), Put16(z, 0), Put16(z, 0);
    Put32(z, 0x20), Put32(z, 0);
    PutText(z, name);
    const uint32_t dirSize = z.size() - dirOffset;
    Put32(z, 0x06054B50);
    Put16(z, 0), Put16(z, 0), Put16(z, 1), Put16(z, 1);
    Put32(z, dirSize), Put32(z, dirOffset);
    Put16(z, std::strlen(comment));
    PutText(z, comment);
    return z;
}

Bytes Padded(Bytes b, size_t size) {
    b.resize(std::max(b.size(), size), 0);
    return b;
}

struct Sample {
    const char* name;
    Bytes bytes;
};

std::vector<Sample> Samples() {
    const Bytes hello = {'H', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd', '!', '\r', '\n'};
    std::vector<Sample> s;
    s.push_back({"hello.zip", StoredZip("HELLO.TXT", hello, "")});
    s.push_back({"commented.zip", StoredZip("docs/README.TXT", hello, "A demonstration archive")});
    Bytes end;
    Put32(end, 0x06054B50);
    end.resize(22, 0);
    s.push_back({"empty.zip", end});
    s.push_back({"new.sqs", {}});
    Bytes sfx = {'M', 'Z'};
    sfx.resize(64, 0);
    Bytes zip = StoredZip("SETUP.INI", hello, "");
    sfx.insert(sfx.end(), zip.begin(), zip.end());
    s.push_back({"setup.exe", sfx});
    Bytes split;
    PutText(split, "QVVX");
    Put16(split, 1), Put16(split, 0), Put16(split, 1), Put16(split, 12);
    s.push_back({"backup.qv1", split});
    Bytes split3;
    PutText(split3, "QVVX");
    Put16(split3, 3), Put16(split3, 0), Put16(split3, 1), Put16(split3, 12);
    s.push_back({"backup.qv3", split3});
    Bytes span;
    Put32(span, 0x08074B50);
    Bytes spanZip = StoredZip("PART.TXT", hello, "");
    span.insert(span.end(), spanZip.begin(), spanZip.end());
    s.push_back({"spanned.zip", span});
    Bytes dirVolume;
    Put32(dirVolume, 0x02014B50);
    s.push_back({"dirvol.zip", Padded(dirVolume, 64)});
    Bytes lha = {0x20, 0x00};
    PutText(lha, "-lh5-");
    s.push_back({"sample.lzh", Padded(lha, 64)});
    Bytes arj;
    Put16(arj, 0xEA60);
    s.push_back({"sample.arj", Padded(arj, 64)});
    Bytes zoo;
    PutText(zoo, "ZOO 2.10 Archive.\x1A");
    zoo.resize(20, 0);
    Put32(zoo, 0xFDC4A7DC);
    s.push_back({"sample.zoo", Padded(zoo, 64)});
    Bytes arc = {0x1A, 0x08};
    PutText(arc, "HELLO.TXT");
    s.push_back({"sample.arc", Padded(arc, 64)});
    Bytes tar;
    PutText(tar, "hello.txt");
    tar.resize(124, 0);
    PutText(tar, "00000000000");  // size
    tar.push_back(0);
    PutText(tar, "14735102600");  // modified 2025-01-01 00:00 UTC
    tar.resize(257, 0);
    PutText(tar, "ustar");
    s.push_back({"sample.tar", Padded(tar, 1024)});
    Bytes gz = {0x1F, 0x8B, 0x08, 0x00};
    s.push_back({"notes.txt.gz", Padded(gz, 32)});
    s.push_back({"plain.txt", hello});
    return s;
}

int RunDemo(int argc, char** argv) {
    const std::filesystem::path dir = argc > 1 ? argv[1] : "qvarc-demo";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    std::printf("Writing sample files to %s\n\n", dir.string().c_str());
    int failures = 0;
    for (const auto& sample : Samples()) {
        const std::string path = (dir / sample.name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(sample.bytes.data()), sample.bytes.size());
        uint16_t type = 0;
        const ResultCode r = Qv4IdentifyFile(path.c_str(), &type);
        std::printf("  %-14s type %2u  %s\n", sample.name, type, r == QV_OK ? "" : ResultText(r));
        if (r != QV_OK && std::strcmp(sample.name, "plain.txt") != 0) ++failures;
    }
    // List what the library reads: a ZIP with a comment and the converted listing of a TAR.
    for (const char* name : {"commented.zip", "sample.tar"}) {
        std::printf("\n");
        std::string path = (dir / name).string();
        char* listArgs[] = {const_cast<char*>("list"), path.data()};
        if (RunCommand(2, listArgs) != 0) ++failures;
    }
    // Open and close a new archive: nothing was added, so it is removed again.
    const std::string fresh = (dir / "fresh").string();
    ArchiveHandle h = QV_NO_HANDLE;
    const ResultCode r = Qv4ZipOpen(fresh.c_str(), QV_OPEN_CREATE, &h);
    std::printf("\n  open %s.ZIP for a new archive: %s\n", fresh.c_str(), ResultText(r));
    Qv4ZipClose(&h);
    std::printf("  closed without members: %s\n",
                std::filesystem::exists(fresh + ".ZIP") ? "kept (unexpected)" : "removed");
    return failures == 0 ? 0 : 1;
}

const Command kDemo("demo", nullptr, "[DIR]            write sample files and identify them", &RunDemo);

}  // namespace
}  // namespace qvarc
