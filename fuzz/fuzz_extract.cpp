// Fuzz target for extraction: the input is written to a file, opened as an archive and every
// member is tested (decoded, decrypted with a fixed password, CRC-checked, nothing written),
// then the first member is decoded into memory through a small window and whole. Every
// outcome must be a result code; every run must end.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qvarc32.h"

namespace {

std::string TempName() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/qv_fuzz_extract_" +
           std::to_string(getpid()) + ".zip";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = TempName();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    // Nobody answers: notices are acknowledged, questions refused, nothing is shown.
    Qv4SetCPrint(0);
    (void)Qv4QUnZip(path.c_str(), nullptr, "*", "-t -s'secret'");
    (void)Qv4QUnZip(path.c_str(), nullptr, "*", "-t -.L");

    ArchiveHandle h = QV_NO_HANDLE;
    if (Qv4ZipOpen(path.c_str(), QV_OPEN_READ, &h) == QV_OK) {
        DirectoryRecord r;
        char name[QV_NAME_BUFFER_SIZE];
        if (Qv4ZipFindFirst(h, &r, name, nullptr, 0, nullptr, 0) == QV_OK) {
            uint8_t window[100];
            (void)Qv4UnZipPtr(h, window, 70000, sizeof window, name, "-s'secret'");
            // The whole member, in an area as large as its directory record says (bounded).
            if (r.uncompressedSize <= (4u << 20)) {
                std::vector<uint8_t> all(r.uncompressedSize);
                (void)Qv4UnZipPtr(h, all.data(), 0, -1, name, "-s'secret'");
            }
        }
        Qv4ZipClose(&h);
    }
    std::remove(path.c_str());
    return 0;
}
