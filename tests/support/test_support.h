// Helpers shared by the test programs: scratch directories and whole-file I/O.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qvtest {

using Bytes = std::vector<uint8_t>;

// A fresh directory under the system's temporary directory, removed with its contents.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& data);
void WriteFile(const std::string& path, const std::string& text);
// Deterministic pseudo-random bytes.
Bytes RandomBytes(size_t size, uint32_t seed);
// Text-like bytes (words and lines) of the given size.
Bytes TextBytes(size_t size, uint32_t seed);
// Path of a committed fixture under tests/data.
std::string DataFile(const std::string& name);
// True when a program is on the PATH.
bool HaveTool(const std::string& name);
// Runs a shell command, returns its exit status; output captured into *out when given.
int RunCommand(const std::string& command, std::string* out = nullptr);

}  // namespace qvtest
