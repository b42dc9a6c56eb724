// Fuzz target for the UU decoder: the input is written as the text (or, when its first byte is
// odd, as the two parts of a series) and decoded into an output directory. Besides crashes,
// hangs and memory errors, a decoded file that lands anywhere but the output directory, or
// output left behind by a failed decode, stops the run.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "qvarc32.h"

namespace fs = std::filesystem;

namespace {

const fs::path& WorkDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("qv-fuzz-uu-" + std::to_string(getpid()));
        fs::remove_all(d);
        fs::create_directories(d / "out");
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(WorkDir(), ignored);
        });
        return d;
    }();
    return dir;
}

void Save(const fs::path& path, const uint8_t* data, size_t size) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

size_t Count(const fs::path& dir) {
    size_t n = 0;
    for (auto it = fs::directory_iterator(dir); it != fs::directory_iterator(); ++it) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& dir = WorkDir();
    const fs::path out = dir / "out";
    for (const char* name : {"in.uue", "in.1", "in.2"}) fs::remove(dir / name);

    std::string source;
    size_t inputs;
    if (size > 0 && (data[0] & 1)) {
        const size_t half = (size - 1) / 2;
        Save(dir / "in.1", data + 1, half);
        Save(dir / "in.2", data + 1 + half, size - 1 - half);
        source = (dir / "in.1").string();
        inputs = 2;
    } else {
        Save(dir / "in.uue", data, size);
        source = (dir / "in.uue").string();
        inputs = 1;
    }
    const ResultCode r = Qv4UUDecode(source.c_str(), out.string().c_str());

    if (Count(out) > (r == QV_OK ? 1u : 0u)) std::abort();  // output left after a failure
    if (Count(dir) != inputs + 1) std::abort();             // a file beside the output directory
    for (const auto& e : fs::directory_iterator(out)) fs::remove_all(e.path());
    return 0;
}
