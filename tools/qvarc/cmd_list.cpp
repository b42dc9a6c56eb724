// qvarc list [-c] [-l] ARCHIVE : one line per member (sizes, ratio, method, date and time,
// CRC-32, name), then the totals and the archive comment; -c adds each member's comment,
// -l reports effective (long) names.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"

namespace qvarc {
namespace {

std::string MethodText(const DirectoryRecord& r) {
    static const char* const kNames[] = {"Stored",  "Shrunk",  "Reduce1", "Reduce2", "Reduce3",
                                         "Reduce4", "Implode", "Token",   nullptr,   "Defl64"};
    if (r.method == 8) {
        // Bits 1 and 2 of the flags carry the deflate option.
        static const char kOption[] = {'N', 'X', 'F', 'S'};
        return std::string("Defl:") + kOption[(r.flags >> 1) & 3];
    }
    if (r.method < sizeof kNames / sizeof kNames[0]) return kNames[r.method];
    switch (r.method) {
        case 12:
            return "BZip2";
        case 14:
            return "LZMA";
        case 93:
            return "Zstd";
        case 95:
            return "XZ";
        case 98:
            return "PPMd";
        case 99:
            return "AES";
        default: {
            char buf[16];
            std::snprintf(buf, sizeof buf, "Unk:%03u", r.method);
            return buf;
        }
    }
}

// Space saved, in percent, as unzip rounds it.
int Ratio(uint64_t uncompressed, uint64_t compressed) {
    if (uncompressed == 0) return 0;
    const double saved = 100.0 *
                         (static_cast<double>(uncompressed) - static_cast<double>(compressed)) /
                         static_cast<double>(uncompressed);
    return static_cast<int>(saved < 0 ? saved - 0.5 : saved + 0.5);
}

std::string DateTime(uint16_t date, uint16_t time) {
    // DOS date: year - 1980, month, day; DOS time: hour, minute, seconds / 2.
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", (date >> 9) + 1980u,
                  (date >> 5) & 15u, date & 31u, time >> 11, (time >> 5) & 63u, (time & 31u) * 2);
    return buf;
}

void Usage() {
    std::fprintf(stderr,
                 "usage: qvarc list [-c] [-l] ARCHIVE\n"
                 "  -c  show member comments\n"
                 "  -l  show effective (long) names\n");
}

}  // namespace

int RunListCommand(int argc, char** argv) {
    bool memberComments = false, longNames = false;
    const char* archive = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-c") == 0)
            memberComments = true;
        else if (std::strcmp(argv[i], "-l") == 0)
            longNames = true;
        else if (argv[i][0] == '-' || archive) {
            Usage();
            return 2;
        } else
            archive = argv[i];
    }
    if (!archive) {
        Usage();
        return 2;
    }

    ArchiveHandle h = QV_NO_HANDLE;
    ResultCode r = Qv4ZipOpen(archive, QV_OPEN_READ | (longNames ? QV_OPEN_LONGNAMES : 0), &h);
    if (r != QV_OK) return ReportResult(archive, r);

    std::printf("Archive:  %s\n", archive);
    std::printf(" Length   Method    Size  Cmpr        Date & Time      CRC-32   Name\n");
    std::printf("--------  ------  -------- ----  -------------------  --------  ----\n");

    DirectoryRecord rec{};
    char name[QV_NAME_BUFFER_SIZE];
    std::vector<char> comment(65535);
    uint64_t totalSize = 0, totalPacked = 0;
    unsigned members = 0;
    bool anyEncrypted = false, anyCut = false;
    int status = 0;
    for (r = Qv4ZipFindFirst(h, &rec, name, nullptr, 0, memberComments ? comment.data() : nullptr,
                             memberComments ? static_cast<uint32_t>(comment.size()) : 0);
         ; r = Qv4ZipFindNext(h, &rec, name, nullptr, 0, memberComments ? comment.data() : nullptr,
                              memberComments ? static_cast<uint32_t>(comment.size()) : 0)) {
        if (r == QV_E_NOTHING) break;
        // A stored name of 261 bytes or more stops the walk: the reader cannot step over it.
        if (r != QV_OK && !(r == QV_E_TOO_LONG && rec.nameLength < QV_NAME_BUFFER_SIZE)) {
            status = ReportResult("reading the directory", r);
            break;
        }
        if (r == QV_E_TOO_LONG) anyCut = true;
        const bool encrypted = (rec.flags & 1) != 0;
        anyEncrypted |= encrypted;
        std::printf("%8" PRIu32 "  %-7s%9" PRIu32 " %3d%%  %s  %08" PRIx32 "  %s%s\n",
                    rec.uncompressedSize, MethodText(rec).c_str(), rec.compressedSize,
                    Ratio(rec.uncompressedSize, rec.compressedSize),
                    DateTime(rec.date, rec.time).c_str(), rec.crc32, encrypted ? "*" : "", name);
        if (memberComments && rec.commentLength != 0) std::printf("          %s\n", comment.data());
        totalSize += rec.uncompressedSize;
        totalPacked += rec.compressedSize;
        ++members;
    }
    std::printf("--------          --------  ---                                  -------\n");
    std::printf(
        "%8" PRIu64 "         %9" PRIu64 " %3d%%                                  %u file%s\n",
        totalSize, totalPacked, Ratio(totalSize, totalPacked), members, members == 1 ? "" : "s");
    if (anyEncrypted) std::printf("(* encrypted)\n");
    if (anyCut) std::printf("(some names or comments were cut)\n");

    const ResultCode cr = Qv4ZipComment(h, comment.data(), static_cast<uint32_t>(comment.size()));
    if ((cr == QV_OK || cr == QV_E_TOO_LONG) && comment[0] != '\0')
        std::printf("\nArchive comment:\n%s%s\n", comment.data(),
                    cr == QV_E_TOO_LONG ? " (cut)" : "");
    else if (cr != QV_OK && cr != QV_E_TOO_LONG && status == 0)
        status = ReportResult("reading the archive comment", cr);
    Qv4ZipClose(&h);
    return status;
}

namespace {
const Command kList("list", "l", "[-c] [-l] ARCHIVE list the members (-c comments, -l long names)",
                    &RunListCommand);
}  // namespace

}  // namespace qvarc
