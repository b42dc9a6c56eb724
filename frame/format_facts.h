// format_facts.h - the numbers of the on-disk formats, in one place.
#pragma once

#include <cstdint>

namespace qv::format {

// ZIP record signatures ("PK" followed by the record's two digits).
inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
inline constexpr uint32_t kEndRecordSignature = 0x06054B50;
// Written at the very start of the first volume of a spanned set, and as the data
// descriptor signature.
inline constexpr uint32_t kSpanningMarker = 0x08074B50;

// Fixed record lengths.
inline constexpr uint32_t kLocalHeaderSize = 30;
inline constexpr uint32_t kCentralHeaderSize = 46;
inline constexpr uint32_t kEndRecordSize = 22;

// Identification marks of the other archive kinds.
inline constexpr char kSqsMagic[4] = {'K', 'W', 'E', 'P'};     // own single-file format
inline constexpr char kSplitMagic[4] = {'Q', 'V', 'V', 'X'};   // own split format
inline constexpr uint16_t kExeMagic = 0x5A4D;                  // "MZ"
inline constexpr char kPkliteMark[6] = {'P', 'K', 'L', 'I', 'T', 'E'};
inline constexpr uint32_t kPkliteMarkOffset = 30;
inline constexpr uint16_t kArjHeaderId = 0xEA60;
inline constexpr uint8_t kGzipMagic[3] = {0x1F, 0x8B, 0x08};   // with the deflate method
inline constexpr uint8_t kArcMark = 0x1A;
inline constexpr uint32_t kLhaMethodOffset = 2;                // "-lh" of "-lh5-"
inline constexpr uint32_t kZooTagOffset = 20;
inline constexpr uint32_t kZooTag = 0xFDC4A7DC;
inline constexpr uint32_t kTarMagicOffset = 257;               // "ustar\0" (POSIX)

}  // namespace qv::format
