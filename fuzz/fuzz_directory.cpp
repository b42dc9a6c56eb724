// Fuzz target for the directory reader: the input is written to a file, opened as an archive
// and listed through every exported reader, with small and large buffers, stored and
// effective names. Every outcome must be a result code; the walk must end.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qvarc32.h"

namespace {

std::string TempName(const char* ext) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/qv_fuzz_directory_" +
           std::to_string(getpid()) + ext;
}

void ListAll(ArchiveHandle h, uint16_t commentSize, uint16_t extraSize) {
    uint16_t count = 0;
    (void)Qv4ZipCount(h, &count);
    std::vector<char> comment(commentSize + 1u);
    std::vector<uint8_t> extra(extraSize + 1u);
    (void)Qv4ZipComment(h, comment.data(), commentSize);
    DirectoryRecord r;
    DirectoryRecordVB v;
    char name[QV_NAME_BUFFER_SIZE];
    // Each successful read moves forward through a finite file; a read that does not move
    // forward ends the walk, as a host's loop must.
    int32_t last = -1;
    for (int i = 0; i < 100000; ++i) {
        const ResultCode res = (i == 0 ? Qv4ZipFindFirst : Qv4ZipFindNext)(
            h, &r, name, extra.data(), extraSize, comment.data(), commentSize);
        if (res != QV_OK && res != QV_E_TOO_LONG) break;
        const int32_t next = Qv4GetNextCDR(h);
        if (next == last) break;
        last = next;
        char effective[QV_NAME_BUFFER_SIZE];
        (void)Qv4EffectiveFileName(
            name, extra.data(), r.extraLength < extraSize ? r.extraLength : extraSize, effective);
    }
    // The aligned variants and a host-kept position over the same directory.
    if (Qv4ZipFindFirstVB32(h, &v, name, nullptr, 0, nullptr, 0) == QV_OK)
        (void)Qv4ZipFindNextVB32(h, &v, name, nullptr, 0, nullptr, 0);
    uint32_t pos = static_cast<uint32_t>(Qv4GetCDR(h));
    for (int i = 0; i < 100000; ++i) {
        const uint32_t before = pos;
        const ResultCode res =
            Qv4ReadCDR(h, &pos, &r, name, nullptr, 0, comment.data(), commentSize);
        if ((res != QV_OK && res != QV_E_TOO_LONG) || pos <= before) break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte picks the options, the rest is the archive.
    const uint8_t options = data[0];
    const std::string path = TempName((options & 1) ? ".sqs" : ".zip");
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
    ArchiveHandle h = QV_NO_HANDLE;
    const uint32_t mode = QV_OPEN_READ | ((options & 2) ? QV_OPEN_LONGNAMES : 0);
    if (Qv4ZipOpen(path.c_str(), mode, &h) == QV_OK) {
        ListAll(h, (options & 4) ? 7 : 65535, (options & 8) ? 5 : 1024);
        Qv4ZipClose(&h);
    }
    std::remove(path.c_str());
    return 0;
}
