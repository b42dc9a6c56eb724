// Fuzz target for the option parsers. The first byte picks the grammar (bit 0), the date
// order (bits 1-2, where 3 is no valid order) and a preset multi-volume flag (bit 3); the
// rest is the option text. Besides crashes and memory errors, a result outside the codes a
// parse may give, a parse place that points past the text, a success without 65535 there,
// a level or password out of range, or a changed caller's text stops the run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "option_parser.h"
#include "os.h"
#include "qvarc32.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckPlace(int result, size_t length) {
    const uint32_t place = Qv4GetParsePlace();
    if (result == QV_OK) {
        Check(place == qv::kParsePlaceNone);
    } else {
        Check(place <= length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t control = data[0];
    Qv4SetParseType(control & 1);
    qv::os::SetDateOrderOverride((control >> 1) & 3);
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string original = text;
    const size_t length = std::strlen(text.c_str());

    qv::ZipOptionSet zip;
    zip.flags = (control & 8) ? qv::ZIPOPT_MULTI_VOLUME : 0;
    const int z = qv::ParseOptionsZip(text.c_str(), &zip).code;
    Check(z == QV_OK || z == QV_E_OPTIONS || z == QV_E_TOO_LONG || z == QV_E_CONFLICT ||
          z == QV_E_BAD_DATE || z == QV_E_UNCHANGEABLE);
    CheckPlace(z, length);
    Check(zip.level >= 0 && zip.level <= 9);
    Check(zip.password.size() < qv::kMaxOptionText);
    Check(zip.labelDrive.size() == 3);
    Check(!(zip.flags & qv::ZIPOPT_MOVE) || !(zip.flags & qv::ZIPOPT_CLEAR_ARCHIVE_BIT));
    if (z == QV_OK)
        Check(!(zip.flags & (qv::ZIPOPT_FRESHEN | qv::ZIPOPT_UPDATE)) ||
              !(zip.flags & qv::ZIPOPT_DELETE));

    qv::UnzipOptionSet unzip;
    const int u = qv::ParseOptionsUnzip(text.c_str(), &unzip).code;
    Check(u == QV_OK || u == QV_E_OPTIONS || u == QV_E_TOO_LONG || u == QV_E_CONFLICT);
    CheckPlace(u, length);
    Check(unzip.password.size() < qv::kMaxOptionText);

    size_t cursor = 0;
    uint16_t date = 0;
    const int d = qv::ParseOptionDate(text, &cursor, &date).code;
    Check(d == QV_OK || d == QV_E_BAD_DATE);
    Check(d == QV_OK ? cursor <= text.size() : cursor == 0);

    Check(text == original);
    return 0;
}
