// Test-only helpers for the legacy decoders' tests: a reader of the members of a plain ZIP file
// by their local headers, a writer of one-member archives for peers to check our test streams,
// and a driver that runs a resumable decoder over chunked input and output areas while
// checking the calling protocol.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "le_bytes.h"
#include "qvarc32.h"
#include "test_support.h"

namespace legacytest {

using qvtest::Bytes;

using qvtest::BitWriter;
using qvtest::Get16;
using qvtest::Get32;
using qvtest::Put16;
using qvtest::Put32;

inline uint32_t ZipCrc(const Bytes& data) {
    return ~QvCrc32A(data.data(), static_cast<uint32_t>(data.size()), 0xFFFFFFFFu);
}

struct Member {
    std::string name;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t size = 0;  // uncompressed
    Bytes packed;       // the member's data as stored
};

// The members of a ZIP file in local-header order (no data descriptors expected).
inline std::vector<Member> ReadMembers(const Bytes& zip) {
    std::vector<Member> members;
    size_t at = 0;
    while (at + 30 <= zip.size() && Get32(zip, at) == 0x04034B50u) {  // local header signature
        Member m;
        m.flags = Get16(zip, at + 6);
        m.method = Get16(zip, at + 8);
        m.crc = Get32(zip, at + 14);
        const uint32_t packedSize = Get32(zip, at + 18);
        m.size = Get32(zip, at + 22);
        const size_t nameLength = Get16(zip, at + 26);
        const size_t data = at + 30 + nameLength + Get16(zip, at + 28);
        if (data + packedSize > zip.size()) break;
        m.name.assign(zip.begin() + at + 30, zip.begin() + at + 30 + nameLength);
        m.packed.assign(zip.begin() + data, zip.begin() + data + packedSize);
        members.push_back(m);
        at = data + packedSize;
    }
    return members;
}

// A one-member archive, for a peer to extract.
inline Bytes OneMemberZip(const Member& m) {
    Bytes zip, central;
    auto common = [&](Bytes& r) {
        Put16(r, 20), Put16(r, m.flags), Put16(r, m.method);
        Put16(r, 0x2000), Put16(r, 0x2A43);  // 04:00:00, 2001-02-03
        Put32(r, m.crc), Put32(r, static_cast<uint32_t>(m.packed.size())), Put32(r, m.size);
        Put16(r, static_cast<uint32_t>(m.name.size())), Put16(r, 0);
    };
    Put32(zip, 0x04034B50u);
    common(zip);
    zip.insert(zip.end(), m.name.begin(), m.name.end());
    zip.insert(zip.end(), m.packed.begin(), m.packed.end());
    Put32(central, 0x02014B50u);
    Put16(central, 20);
    common(central);
    Put16(central, 0), Put16(central, 0), Put16(central, 0);  // comment, disk, internal
    Put32(central, 0), Put32(central, 0);                     // external, local header offset
    central.insert(central.end(), m.name.begin(), m.name.end());
    const auto centralOffset = static_cast<uint32_t>(zip.size());
    zip.insert(zip.end(), central.begin(), central.end());
    Put32(zip, 0x06054B50u);
    Put16(zip, 0), Put16(zip, 0), Put16(zip, 1), Put16(zip, 1);
    Put32(zip, static_cast<uint32_t>(central.size())), Put32(zip, centralOffset);
    Put16(zip, 0);
    return zip;
}

// What Info-ZIP unzip extracts from `zip` (member `name`); false when unzip fails.
inline bool UnzipToBytes(const Bytes& zip, const std::string& name, Bytes* out) {
    qvtest::ScratchDir dir;
    qvtest::WriteFile(dir.file("in.zip"), zip);
    const std::string result = dir.file("out.bin");
    if (qvtest::RunCommand("unzip -p '" + dir.file("in.zip") + "' '" + name + "' > '" + result +
                           "' 2>/dev/null") != 0) {
        return false;
    }
    *out = qvtest::ReadFile(result);
    return true;
}

// A resumable decoder call: (input, offset, &count, output, offset, &count, state, final).
using DecodeCall = std::function<int32_t(const uint8_t*, uint32_t, uint32_t*, uint8_t*, uint32_t,
                                         uint32_t*, void*, uint32_t)>;

struct Run {
    Bytes output;
    bool ended = false;  // a call returned 1
    size_t calls = 0;
};

// Feeds `data` in chunks of `inChunk` bytes (final set on the last) into output areas of
// `outSpace` bytes, as the member decoder does: the same chunk again, from where the last call
// stopped, until it is used up or the stream ends; then an empty final chunk while the decoder
// keeps stopping for room. `reserve` is the part of each area a decoder never fills. Checks
// that every call reports counts within what it was given and that a 0 result means input used
// up or area full; gives up (failing the test) after more calls than any stream could need.
inline Run Drive(const DecodeCall& call, void* state, const Bytes& data, size_t inChunk,
                 uint32_t outSpace, uint32_t reserve) {
    Run run;
    Bytes area(outSpace + 16);
    const uint32_t usable = outSpace > reserve ? outSpace - reserve : 0;
    const size_t maxCalls = 4 * (data.size() + 16) + (16u << 20) / std::max<uint32_t>(usable, 1);
    size_t at = 0;
    for (;;) {
        const size_t chunk = std::min(inChunk, data.size() - at);
        const bool last = at + chunk == data.size();
        // The chunk lives in a buffer of its own, so reading past it would be caught.
        const Bytes piece(data.begin() + at, data.begin() + at + chunk);
        uint32_t offset = 0;
        int32_t result = 0;
        do {
            uint32_t taken = static_cast<uint32_t>(chunk) - offset;
            uint32_t written = outSpace;
            const uint32_t given = taken;
            std::fill(area.begin(), area.end(), 0xA5);
            result = call(piece.empty() ? nullptr : piece.data(), offset, &taken, area.data(), 8,
                          &written, state, last ? 1 : 0);
            ++run.calls;
            EXPECT_LE(taken, given);
            EXPECT_LE(written, usable);
            EXPECT_TRUE(std::all_of(area.begin() + 8 + written, area.end(), [](uint8_t b) {
                return b == 0xA5;
            })) << "written beyond the count reported";
            if (result == 0) {
                EXPECT_TRUE(taken == given || written + reserve >= outSpace)
                    << "stopped with input left and room left";
            }
            run.output.insert(run.output.end(), area.begin() + 8, area.begin() + 8 + written);
            offset += taken;
            if (run.calls > maxCalls) {
                ADD_FAILURE() << "no end after " << run.calls << " calls";
                return run;
            }
        } while (result == 0 && (offset < chunk || last));
        at += chunk;
        if (result != 0) {
            run.ended = true;
            return run;
        }
        if (last) return run;
    }
}

}  // namespace legacytest
