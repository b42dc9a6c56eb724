// zip_bytes.h - ZIP archives built byte by byte, for the reader's tests.
//
// Every record is written field by field, so a test can make exactly the archive it needs,
// well-formed or broken in one chosen place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "le_bytes.h"
#include "test_support.h"

namespace readertest {

using qvtest::Bytes;

using qvtest::Crc32;
using qvtest::Get32;
using qvtest::Put16;
using qvtest::Put32;
using qvtest::PutText;
using qvtest::Set16;
using qvtest::Set32;

struct Member {
    std::string name;  // stored bytes (OEM)
    Bytes data;        // stored as is (method field below is only a label)
    std::string extra;
    std::string comment;
    uint16_t versionMadeBy = 20;
    uint16_t versionNeeded = 10;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = (4 << 11) | (5 << 5) | 3;             // 04:05:06
    uint16_t date = ((2001 - 1980) << 9) | (2 << 5) | 3;  // 2001-02-03
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0x20;
};

// A whole archive and where its parts lie.
struct Archive {
    Bytes bytes;
    std::vector<uint32_t> centralOffsets;  // one per member
    uint32_t dirOffset = 0;
    uint32_t endOffset = 0;
};

inline Archive BuildZip(const std::vector<Member>& members, const std::string& archiveComment = "",
                        const Bytes& prefix = {}) {
    Archive a;
    a.bytes = prefix;
    std::vector<uint32_t> localOffsets;
    for (const auto& m : members) {
        localOffsets.push_back(static_cast<uint32_t>(a.bytes.size()));
        Bytes& z = a.bytes;
        Put32(z, 0x04034B50);
        Put16(z, m.versionNeeded), Put16(z, m.flags), Put16(z, m.method);
        Put16(z, m.time), Put16(z, m.date);
        Put32(z, Crc32(m.data)), Put32(z, m.data.size()), Put32(z, m.data.size());
        Put16(z, m.name.size()), Put16(z, m.extra.size());
        PutText(z, m.name);
        PutText(z, m.extra);
        z.insert(z.end(), m.data.begin(), m.data.end());
    }
    a.dirOffset = static_cast<uint32_t>(a.bytes.size());
    for (size_t i = 0; i < members.size(); ++i) {
        const auto& m = members[i];
        Bytes& z = a.bytes;
        a.centralOffsets.push_back(static_cast<uint32_t>(z.size()));
        Put32(z, 0x02014B50);
        Put16(z, m.versionMadeBy), Put16(z, m.versionNeeded), Put16(z, m.flags), Put16(z, m.method);
        Put16(z, m.time), Put16(z, m.date);
        Put32(z, Crc32(m.data)), Put32(z, m.data.size()), Put32(z, m.data.size());
        Put16(z, m.name.size()), Put16(z, m.extra.size()), Put16(z, m.comment.size());
        Put16(z, 0), Put16(z, m.internalAttributes);
        Put32(z, m.externalAttributes), Put32(z, localOffsets[i]);
        PutText(z, m.name);
        PutText(z, m.extra);
        PutText(z, m.comment);
    }
    a.endOffset = static_cast<uint32_t>(a.bytes.size());
    Bytes& z = a.bytes;
    Put32(z, 0x06054B50);
    Put16(z, 0), Put16(z, 0), Put16(z, members.size()), Put16(z, members.size());
    Put32(z, a.endOffset - a.dirOffset), Put32(z, a.dirOffset);
    Put16(z, archiveComment.size());
    PutText(z, archiveComment);
    return a;
}

// The library's long-name block: "QW", size, "Vx", name.
inline std::string LongNameBlock(const std::string& name) {
    std::string b = "QW";
    b += static_cast<char>((name.size() + 2) & 0xFF);
    b += static_cast<char>((name.size() + 2) >> 8);
    b += "Vx" + name;
    return b;
}

// Some other extra-field block with the given ID and data.
inline std::string OtherBlock(uint16_t id, const std::string& data) {
    std::string b;
    b += static_cast<char>(id & 0xFF);
    b += static_cast<char>(id >> 8);
    b += static_cast<char>(data.size() & 0xFF);
    b += static_cast<char>(data.size() >> 8);
    return b + data;
}

inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

}  // namespace readertest
