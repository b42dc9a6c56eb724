#include "test_support.h"

#include <cstdio>
#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <fstream>
#include <random>
#include <stdexcept>

namespace qvtest {

ScratchDir::ScratchDir() {
    static unsigned counter = 0;
    std::random_device rd;
    for (;;) {
        auto candidate = std::filesystem::temp_directory_path() /
                         ("qvtest-" + std::to_string(rd()) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& text) {
    WriteFile(path, Bytes(text.begin(), text.end()));
}

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes out(size);
    for (auto& b : out) b = static_cast<uint8_t>(gen());
    return out;
}

Bytes TextBytes(size_t size, uint32_t seed) {
    static const char* words[] = {"the", "archive", "member", "deflate", "window", "of", "and",
                                  "directory", "record", "a", "header", "volume", "to", "is",
                                  "compressed", "stored", "name", "data", "in", "library"};
    std::mt19937 gen(seed);
    Bytes out;
    out.reserve(size + 16);
    size_t lineLen = 0;
    while (out.size() < size) {
        const char* w = words[gen() % 20];
        while (*w) out.push_back(static_cast<uint8_t>(*w++));
        lineLen += 8;
        if (lineLen > 60 && gen() % 4 == 0) {
            out.push_back('\n');
            lineLen = 0;
        } else {
            out.push_back(' ');
        }
    }
    out.resize(size);
    return out;
}

std::string DataFile(const std::string& name) { return std::string(QV_TEST_DATA) + "/" + name; }

bool HaveTool(const std::string& name) {
#ifdef _WIN32
    // The peer tools and the POSIX shell their command lines are written for are not there on
    // Windows: every test that needs one skips.
    (void)name;
    return false;
#else
    return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
#endif
}

int RunCommand(const std::string& command, std::string* out) {
#ifdef _WIN32
    // cmd.exe runs the command; its status is the program's exit code.
    FILE* pipe = _popen((command + (out ? " 2>&1" : "")).c_str(), "r");
#else
    FILE* pipe = popen((command + (out ? " 2>&1" : "")).c_str(), "r");
#endif
    if (!pipe) return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        if (out) out->append(buf, n);
#ifdef _WIN32
    return _pclose(pipe);
#else
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace qvtest
