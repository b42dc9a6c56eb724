#include "private_extra.h"

#include <cstring>

namespace qv {
namespace {

uint16_t Le16(const char* p) {
    return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | (static_cast<uint8_t>(p[1]) << 8));
}

void AppendLe16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void AppendBe32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

uint32_t Be32(const char* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint8_t>(p[i]);
    return v;
}

// Calls visit(data) for each whole "QW" block carrying the given sub-tag, in order, until it
// returns true. data starts behind the sub-tag. Walks while at least 7 bytes remain (a block
// header, a sub-tag and one more byte), as the effective-name rule has it.
template <typename Visit>
bool WalkPrivateBlocks(std::string_view extra, const char (&subTag)[2], Visit visit) {
    size_t pos = 0;
    while (extra.size() - pos >= 7) {
        const char* block = extra.data() + pos;
        const uint32_t dataSize = Le16(block + 2);
        if (extra.size() - pos - 4 < dataSize) return false;  // claims more than remains
        if (std::memcmp(block, kPrivateExtraId, 2) == 0 && dataSize >= 2 &&
            std::memcmp(block + 4, subTag, 2) == 0 &&
            visit(std::string_view(block + 6, dataSize - 2)))
            return true;
        pos += 4 + dataSize;
    }
    return false;
}

}  // namespace

std::string MakeVersionBlock(FileVersion version) {
    std::string out(kPrivateExtraId, 2);
    AppendLe16(out, kVersionBlockDataSize);
    out.append(kVersionSubTag, 2);
    AppendBe32(out, version.mostSignificant);
    AppendBe32(out, version.leastSignificant);
    return out;
}

std::optional<std::string> MakeLongNameBlock(std::string_view oemName) {
    if (oemName.size() > 0xFFFF - 2) return std::nullopt;
    std::string out(kPrivateExtraId, 2);
    AppendLe16(out, static_cast<uint16_t>(oemName.size() + 2));
    out.append(kLongNameSubTag, 2);
    out.append(oemName);
    return out;
}

std::optional<std::string_view> FindLongName(std::string_view extra) {
    std::optional<std::string_view> found;
    WalkPrivateBlocks(extra, kLongNameSubTag, [&](std::string_view data) {
        found = data;
        return true;
    });
    return found;
}

std::optional<FileVersion> FindFileVersion(std::string_view extra) {
    std::optional<FileVersion> found;
    WalkPrivateBlocks(extra, kVersionSubTag, [&](std::string_view data) {
        if (data.size() < 8) return false;
        found = FileVersion{Be32(data.data()), Be32(data.data() + 4)};
        return true;
    });
    return found;
}

}  // namespace qv
