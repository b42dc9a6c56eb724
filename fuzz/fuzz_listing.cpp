// Fuzz target: the converters that turn foreign archives into a ZIP listing. The first byte
// picks the kind; the rest is the archive. Every input must end in a result code, with the
// listing file removed on failure and no endless loop.
#include <cstdint>
#include <cstdio>
#include <string>

#include "archive_handles.h"
#include "converted_listing.h"
#include "file_primitives.h"
#include "open_names.h"
#include "os.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const uint16_t kinds[] = {QV_TYPE_SPLIT12, QV_TYPE_SPANNED, QV_TYPE_DIRVOLUME,
                                     QV_TYPE_LHA,     QV_TYPE_ARJ,     QV_TYPE_ZOO,
                                     QV_TYPE_ARC,     QV_TYPE_SPLIT3,  QV_TYPE_TAR,
                                     QV_TYPE_GZIP};
    const uint16_t type = kinds[data[0] % (sizeof kinds / sizeof kinds[0])];
    static const std::string path = qv::os::GetTempPath() + "qv-fuzz-listing.tgz";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    }
    qv::FileHandle archive = qv::os::CreateFile(path, qv::os::kGenericRead, qv::os::kShareRead,
                                                qv::os::kOpenExisting, 0);
    if (archive == qv::kInvalidHandle) return 0;
    qv::FileHandle listing = qv::kInvalidHandle;
    std::string listingName;
    uint16_t volume = 0;
    // Status reporting is off, so a volume request is refused rather than waited for.
    const qv::Result r = qv::BuildListing(&archive, qv::os::AnsiToOem(path), type, &listing, &listingName, &volume);
    if (r.ok()) {
        qv::os::CloseHandle(listing);
        qv::DeleteOemFile(listingName);
        qv::RemoveOpenName(listingName);
    }
    if (archive != qv::kInvalidHandle) qv::os::CloseHandle(archive);
    if (!qv::OpenNames().empty()) __builtin_trap();  // a failed listing must leave nothing behind
    return 0;
}
