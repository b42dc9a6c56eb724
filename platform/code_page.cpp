// code_page.cpp - ANSI (UTF-8) and OEM (CP437) names on POSIX systems.
//
// ZIP archives made on MS-DOS and Windows store names in the OEM code page 437, and other
// tools expect that, so the OEM side is CP437. The ANSI side is the file system's UTF-8.
#ifndef _WIN32

#include <array>
#include <cstring>

#include "os.h"

namespace qv::os {
namespace {

// Unicode code points of CP437 bytes 0x80 to 0xFF.
constexpr std::array<uint16_t, 128> kCp437High = {
    0xc7,   0xfc,   0xe9,   0xe2,   0xe4,   0xe0,   0xe5,   0xe7,   0xea,   0xeb,   0xe8,
    0xef,   0xee,   0xec,   0xc4,   0xc5,   0xc9,   0xe6,   0xc6,   0xf4,   0xf6,   0xf2,
    0xfb,   0xf9,   0xff,   0xd6,   0xdc,   0xa2,   0xa3,   0xa5,   0x20a7, 0x192,  0xe1,
    0xed,   0xf3,   0xfa,   0xf1,   0xd1,   0xaa,   0xba,   0xbf,   0x2310, 0xac,   0xbd,
    0xbc,   0xa1,   0xab,   0xbb,   0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
    0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255d, 0x255c, 0x255b, 0x2510, 0x2514, 0x2534,
    0x252c, 0x251c, 0x2500, 0x253c, 0x255e, 0x255f, 0x255a, 0x2554, 0x2569, 0x2566, 0x2560,
    0x2550, 0x256c, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256b,
    0x256a, 0x2518, 0x250c, 0x2588, 0x2584, 0x258c, 0x2590, 0x2580, 0x3b1,  0xdf,   0x393,
    0x3c0,  0x3a3,  0x3c3,  0xb5,   0x3c4,  0x3a6,  0x398,  0x3a9,  0x3b4,  0x221e, 0x3c6,
    0x3b5,  0x2229, 0x2261, 0xb1,   0x2265, 0x2264, 0x2320, 0x2321, 0xf7,   0x2248, 0xb0,
    0x2219, 0xb7,   0x221a, 0x207f, 0xb2,   0x25a0, 0xa0};

// Decodes one UTF-8 sequence at s[i]; returns the code point and advances i. Malformed
// bytes decode as 0xFFFD one byte at a time.
uint32_t DecodeUtf8(std::string_view s, size_t& i) {
    const auto b0 = static_cast<uint8_t>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = b0 >= 0xF0 && b0 < 0xF5 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 && b0 < 0xE0 ? 2 : 0;
    if (len == 0 || i + len > s.size()) {
        ++i;
        return 0xFFFD;
    }
    uint32_t cp = b0 & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<uint8_t>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms and surrogates are malformed.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += len;
    return cp;
}

void EncodeUtf8(uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

int OemByteOf(uint32_t cp) {
    if (cp < 0x80) return static_cast<int>(cp);
    for (size_t k = 0; k < kCp437High.size(); ++k)
        if (kCp437High[k] == cp) return static_cast<int>(0x80 + k);
    return -1;
}

// Upper case of the letters the OEM page can hold (Latin-1 and the few Greek letters).
uint32_t UpperOf(uint32_t cp) {
    if (cp >= 'a' && cp <= 'z') return cp - 32;
    if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 32;
    if (cp == 0xFF) return 0x178;
    if (cp >= 0x3B1 && cp <= 0x3C9 && cp != 0x3C2) return cp - 32;
    return cp;
}

}  // namespace

std::string AnsiToOem(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (size_t i = 0; i < ansi.size();) {
        const int b = OemByteOf(DecodeUtf8(ansi, i));
        // A wildcard would change what a name means, so "_" stands for what CP437 lacks.
        out += b < 0 ? '_' : static_cast<char>(b);
    }
    return out;
}

std::string OemToAnsi(std::string_view oem) {
    std::string out;
    out.reserve(oem.size());
    for (char c : oem) {
        const auto b = static_cast<uint8_t>(c);
        if (b < 0x80)
            out += c;
        else
            EncodeUtf8(kCp437High[b - 0x80], out);
    }
    return out;
}

std::string CharUpper(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (size_t i = 0; i < ansi.size();) {
        const size_t start = i;
        const uint32_t cp = DecodeUtf8(ansi, i);
        if (cp == 0xFFFD && i == start + 1 && static_cast<uint8_t>(ansi[start]) >= 0x80)
            out += ansi[start];  // keep malformed bytes as they are
        else
            EncodeUtf8(UpperOf(cp), out);
    }
    return out;
}

bool CopyAnsiCut(std::string_view ansi, char* buffer, size_t capacity) {
    if (capacity == 0) return ansi.empty();
    size_t n = ansi.size();
    bool cut = false;
    if (n > capacity - 1) {
        n = capacity - 1;
        cut = true;
        // Step back to the start of a character.
        while (n > 0 && (static_cast<uint8_t>(ansi[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(buffer, ansi.data(), n);
    buffer[n] = '\0';
    return !cut;
}

}  // namespace qv::os

#endif  // !_WIN32
