#include "file_version.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "file_primitives.h"
#include "owned_file.h"
#include "zip_records.h"

namespace qv {
namespace {

// ---- PE image layout -----------------------------------------------------------------------
constexpr uint16_t kDosMagic = 0x5A4D;          // "MZ"
constexpr uint32_t kDosNewHeaderOffset = 0x3C;  // e_lfanew: where the PE header lies
constexpr uint32_t kPeSignature = 0x00004550;   // "PE\0\0"
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint16_t kOptionalMagicPe32 = 0x10B;
constexpr uint16_t kOptionalMagicPe32Plus = 0x20B;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint16_t kMaxSections = 96;                 // the loader's own limit
constexpr uint32_t kResourceDirectoryIndex = 2;       // data directory of the resource table
constexpr uint32_t kResourceTypeVersion = 16;         // RT_VERSION
constexpr uint32_t kSubdirectoryBit = 0x80000000u;    // resource entry points at a directory
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;  // VS_FIXEDFILEINFO.dwSignature
constexpr uint32_t kFixedInfoSize = 52;
// The fixed information sits behind the block's header and its key "VS_VERSION_INFO" (wide
// in 32-bit images, narrow in 16-bit ones); looking this far covers both.
constexpr uint32_t kVersionBlockLookahead = 256;

struct Section {
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
};

// Reads the version of an image through readAt(offset, buffer, count) -> bool.
template <typename ReadAt>
Result VersionOfImage(ReadAt readAt, uint8_t out[kFileVersionBytes]) {
    uint8_t dos[64];
    QV_CHECK(readAt(0, dos, sizeof dos) && GetLe16(dos) == kDosMagic, QV_E_ACCESS_MODE);
    const uint64_t peOffset = GetLe32(dos + kDosNewHeaderOffset);

    uint8_t coff[4 + kCoffHeaderSize];
    QV_CHECK(readAt(peOffset, coff, sizeof coff) && GetLe32(coff) == kPeSignature,
             QV_E_ACCESS_MODE);
    const uint16_t sectionCount = GetLe16(coff + 4 + 2);
    const uint16_t optionalSize = GetLe16(coff + 4 + 16);
    QV_CHECK(sectionCount <= kMaxSections, QV_E_ACCESS_MODE);

    // Optional header: its magic tells where the data directories begin.
    const uint64_t optionalOffset = peOffset + sizeof coff;
    uint8_t optional[240] = {};
    const uint32_t optionalRead = std::min<uint32_t>(optionalSize, sizeof optional);
    QV_CHECK(optionalRead >= 2 && readAt(optionalOffset, optional, optionalRead), QV_E_ACCESS_MODE);
    uint32_t countField = 0, directories = 0;
    switch (GetLe16(optional)) {
        case kOptionalMagicPe32:
            countField = 92, directories = 96;
            break;
        case kOptionalMagicPe32Plus:
            countField = 108, directories = 112;
            break;
        default:
            return QV_E_ACCESS_MODE;
    }
    const uint32_t resourceEntry = directories + 8 * kResourceDirectoryIndex;
    QV_CHECK(optionalRead >= resourceEntry + 8 &&
                 GetLe32(optional + countField) > kResourceDirectoryIndex,
             QV_E_ACCESS_MODE);
    const uint32_t resourceRva = GetLe32(optional + resourceEntry);
    QV_CHECK(resourceRva != 0, QV_E_ACCESS_MODE);

    std::vector<Section> sections(sectionCount);
    const uint64_t sectionTable = optionalOffset + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        uint8_t h[kSectionHeaderSize];
        QV_CHECK(readAt(sectionTable + uint64_t{i} * kSectionHeaderSize, h, sizeof h),
                 QV_E_ACCESS_MODE);
        sections[i] = {GetLe32(h + 12), GetLe32(h + 8), GetLe32(h + 16), GetLe32(h + 20)};
    }
    // File offset of count bytes at an address of the loaded image.
    auto fileOffset = [&](uint64_t rva, uint32_t count, uint64_t* offset) {
        for (const Section& s : sections) {
            if (rva < s.virtualAddress) continue;
            const uint64_t into = rva - s.virtualAddress;
            if (into + count > s.rawSize) continue;
            *offset = s.rawOffset + into;
            return true;
        }
        return false;
    };
    auto readRva = [&](uint64_t rva, void* buffer, uint32_t count) {
        uint64_t offset = 0;
        return fileOffset(rva, count, &offset) && readAt(offset, buffer, count);
    };

    // Resource tree: type, then name, then language; offsets are relative to its start. At
    // the first level the version type is looked for; at the other two the first entry serves.
    auto findEntry = [&](uint32_t directory, bool byType, uint32_t* target) {
        uint8_t header[16];
        if (!readRva(uint64_t{resourceRva} + directory, header, sizeof header)) return false;
        const uint32_t count = uint32_t{GetLe16(header + 12)} + GetLe16(header + 14);
        for (uint32_t i = 0; i < count; ++i) {
            uint8_t entry[8];
            if (!readRva(uint64_t{resourceRva} + directory + 16 + uint64_t{i} * 8, entry, 8))
                return false;
            if (byType && GetLe32(entry) != kResourceTypeVersion) continue;
            *target = GetLe32(entry + 4);
            return true;
        }
        return false;
    };
    uint32_t next = 0;
    QV_CHECK(findEntry(0, true, &next) && (next & kSubdirectoryBit), QV_E_ACCESS_MODE);
    QV_CHECK(findEntry(next & ~kSubdirectoryBit, false, &next) && (next & kSubdirectoryBit),
             QV_E_ACCESS_MODE);
    QV_CHECK(findEntry(next & ~kSubdirectoryBit, false, &next) && !(next & kSubdirectoryBit),
             QV_E_ACCESS_MODE);
    uint8_t dataEntry[16];
    QV_CHECK(readRva(uint64_t{resourceRva} + next, dataEntry, sizeof dataEntry), QV_E_ACCESS_MODE);
    const uint32_t dataRva = GetLe32(dataEntry);
    const uint32_t dataSize = std::min(GetLe32(dataEntry + 4), kVersionBlockLookahead);
    QV_CHECK(dataSize >= kFixedInfoSize, QV_E_ACCESS_MODE);
    uint8_t block[kVersionBlockLookahead];
    QV_CHECK(readRva(dataRva, block, dataSize), QV_E_ACCESS_MODE);

    for (uint32_t at = 4; at + kFixedInfoSize <= dataSize; at += 4) {
        if (GetLe32(block + at) != kFixedInfoSignature) continue;
        const uint32_t high = GetLe32(block + at + 8), low = GetLe32(block + at + 12);
        for (int i = 0; i < 4; ++i) {
            out[i] = static_cast<uint8_t>(high >> (24 - 8 * i));
            out[4 + i] = static_cast<uint8_t>(low >> (24 - 8 * i));
        }
        return QV_OK;
    }
    return QV_E_ACCESS_MODE;
}

}  // namespace

bool FindVersionExtra(const uint8_t* extra, size_t length, size_t* offset) {
    static constexpr uint8_t kHeader[6] = {'Q', 'W', 10, 0, 'V', 'X'};
    size_t pos = 0;
    while (extra && length - pos >= 14) {
        const uint8_t* block = extra + pos;
        if (std::memcmp(block, kHeader, sizeof kHeader) == 0) {
            const uint8_t* version = block + sizeof kHeader;
            if (std::any_of(version, version + kFileVersionBytes, [](uint8_t b) { return b; })) {
                *offset = pos + sizeof kHeader;
                return true;
            }
        }
        pos += 4 + size_t{GetLe16(block + 2)};
        if (pos > length) break;
    }
    return false;
}

Result ReadImageVersion(const uint8_t* image, size_t size, uint8_t out[kFileVersionBytes]) {
    return VersionOfImage(
        [&](uint64_t offset, void* buffer, uint32_t count) {
            if (offset > size || size - offset < count) return false;
            std::memcpy(buffer, image + offset, count);
            return true;
        },
        out);
}

Result ReadFileVersion(std::string_view oemPath, uint8_t out[kFileVersionBytes]) {
    if (oemPath.empty()) return QV_E_BAD_NAME;
    OwnedFile file(CreateOemFile(oemPath, os::kGenericRead, os::kShareRead | os::kShareWrite,
                                 os::kOpenExisting, 0));
    if (!file.valid()) return QV_E_ACCESS_MODE;
    const uint32_t size = os::GetFileSize(file.get());
    if (size == os::kInvalidPosition) return QV_E_ACCESS_MODE;
    return VersionOfImage(
        [&](uint64_t offset, void* buffer, uint32_t count) {
            if (offset > size || size - offset < count) return false;
            return SeekTo(file.get(), static_cast<uint32_t>(offset)) &&
                   ReadBytes(file.get(), buffer, count) == count;
        },
        out);
}

}  // namespace qv
