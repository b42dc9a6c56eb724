// private_extra.h - the library's private extra field "QW" and its two blocks.
//
// An extra field is a sequence of blocks: a 2-byte header ID, a 2-byte data size, then that
// many data bytes. The library's own blocks have the ID "QW" and begin their data with a
// 2-byte sub-tag: "VX" holds a file version, "Vx" a member's long name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// The header ID as the two bytes stored ("QW"), and the two sub-tags.
inline constexpr char kPrivateExtraId[2] = {'Q', 'W'};
inline constexpr char kVersionSubTag[2] = {'V', 'X'};
inline constexpr char kLongNameSubTag[2] = {'V', 'x'};
// A version block: "QW", data size 10, "VX" and eight version bytes.
inline constexpr uint16_t kVersionBlockDataSize = 10;
inline constexpr uint32_t kVersionBlockSize = 4 + kVersionBlockDataSize;

// A file version as the two 32-bit halves of the version resource's fixed information.
struct FileVersion {
    uint32_t mostSignificant = 0;
    uint32_t leastSignificant = 0;
    bool operator==(const FileVersion&) const = default;
};

// The 14-byte version block; each half is stored most significant byte first.
std::string MakeVersionBlock(FileVersion version);
// The long-name block: "QW", name length + 2, "Vx" and the (OEM, "/"-separated) name. Names
// too long for the 16-bit data size give nothing.
std::optional<std::string> MakeLongNameBlock(std::string_view oemName);

// The long name of the first "QW" block with sub-tag "Vx", walking the field block by block
// while at least 7 bytes remain; the walk ends at a block that claims more bytes than remain.
std::optional<std::string_view> FindLongName(std::string_view extra);
// The version of the first "QW" block with sub-tag "VX" and a full 8-byte version.
std::optional<FileVersion> FindFileVersion(std::string_view extra);

}  // namespace qv
