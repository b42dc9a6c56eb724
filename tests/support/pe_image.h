// pe_image.h - small PE images with a version resource, for the tests of file versions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "le_bytes.h"
#include "test_support.h"

namespace qvtest {

// A minimal image: DOS header, PE header, one ".rsrc" section holding a version resource
// (type 16, name 1, language 0x409) whose block has the wide key of 32-bit images.
inline Bytes MakePeImage(bool pe32Plus, uint32_t versionMs, uint32_t versionLs,
                         uint32_t type = 16) {
    Bytes b(0x200, 0);
    b[0] = 'M', b[1] = 'Z';
    Set32(b, 0x3C, 0x40);
    Set32(b, 0x40, 0x00004550);  // "PE\0\0"
    const uint32_t coff = 0x44;
    const uint16_t optionalSize = pe32Plus ? 240 : 224;
    Set16(b, coff, pe32Plus ? 0x8664 : 0x14C);
    Set16(b, coff + 2, 1);  // one section
    Set16(b, coff + 16, optionalSize);
    const uint32_t opt = coff + 20;
    Set16(b, opt, pe32Plus ? 0x20B : 0x10B);
    const uint32_t dirs = pe32Plus ? 112 : 96;
    Set32(b, opt + dirs - 4, 16);  // NumberOfRvaAndSizes
    Set32(b, opt + dirs + 16, 0x1000);
    Set32(b, opt + dirs + 20, 0x100);
    const uint32_t section = opt + optionalSize;
    const char name[8] = {'.', 'r', 's', 'r', 'c'};
    for (int i = 0; i < 8; ++i) b[section + i] = static_cast<uint8_t>(name[i]);
    Set32(b, section + 8, 0x100);    // virtual size
    Set32(b, section + 12, 0x1000);  // virtual address
    Set32(b, section + 16, 0x100);   // raw size
    Set32(b, section + 20, 0x200);   // raw offset

    Bytes r(0x100, 0);
    Set16(r, 14, 1);  // root: one id entry
    Set32(r, 16, type);
    Set32(r, 20, 0x80000000u | 0x18);
    Set16(r, 0x18 + 14, 1);  // names
    Set32(r, 0x18 + 16, 1);
    Set32(r, 0x18 + 20, 0x80000000u | 0x30);
    Set16(r, 0x30 + 14, 1);  // languages
    Set32(r, 0x30 + 16, 0x409);
    Set32(r, 0x30 + 20, 0x48);
    Set32(r, 0x48, 0x1000 + 0x58);  // data entry: RVA and size
    Set32(r, 0x4C, 92);
    const uint32_t v = 0x58;
    Set16(r, v, 92);
    Set16(r, v + 2, 52);
    const std::string key = "VS_VERSION_INFO";
    for (size_t i = 0; i < key.size(); ++i) Set16(r, v + 6 + 2 * i, key[i]);
    Set32(r, v + 40, 0xFEEF04BD);
    Set32(r, v + 44, 0x00010000);
    Set32(r, v + 48, versionMs);
    Set32(r, v + 52, versionLs);
    b.insert(b.end(), r.begin(), r.end());
    return b;
}

}  // namespace qvtest
