#include "bench_corpus.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

namespace qvbench {
namespace {

std::vector<uint8_t> Gather(const char* root, bool (*want)(const std::filesystem::path&), size_t size) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(
             root, std::filesystem::directory_options::skip_permission_denied, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        if (it->is_regular_file(ec) && !it->is_symlink(ec) && want(it->path())) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());  // same corpus on every run
    std::vector<uint8_t> out;
    for (const auto& f : files) {
        if (out.size() >= size) break;
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        out.insert(out.end(), data.begin(), data.begin() + std::min(data.size(), size - out.size()));
    }
    return out;
}

}  // namespace

const std::vector<uint8_t>& TextCorpus(size_t size) {
    static const auto corpus = Gather("/usr/include", [](const std::filesystem::path& p) {
        return p.extension() == ".h";
    }, size);
    return corpus;
}

const std::vector<uint8_t>& BinaryCorpus(size_t size) {
    static const auto corpus = Gather("/usr/lib", [](const std::filesystem::path& p) {
        return p.filename().string().find(".so") != std::string::npos;
    }, size);
    return corpus;
}

}  // namespace qvbench
