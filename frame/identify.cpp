#include "identify.h"

#include <cstring>

#include "file_primitives.h"
#include "format_facts.h"
#include "os.h"

namespace qv {
namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

// Closes the handle when identification ends, however it ends.
class HandleGuard {
public:
    explicit HandleGuard(FileHandle h) : h_(h) {}
    ~HandleGuard() {
        if (h_ != kInvalidHandle) os::CloseHandle(h_);
    }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;
    FileHandle get() const { return h_; }

private:
    FileHandle h_;
};

bool ReadAt(FileHandle h, uint32_t offset, void* buffer, uint32_t count) {
    if (os::SetFilePointer(h, static_cast<int32_t>(offset), os::kFileBegin) == os::kInvalidPosition)
        return false;
    return ReadBytes(h, buffer, count) == count;
}

// True when the last 22 bytes of the file are an end record; its disk number goes to *disk.
bool EndRecordAtEnd(FileHandle h, uint32_t size, uint16_t* disk) {
    if (size < format::kEndRecordSize) return false;
    uint8_t rec[format::kEndRecordSize];
    if (!ReadAt(h, size - format::kEndRecordSize, rec, sizeof rec)) return false;
    if (Le32(rec) != format::kEndRecordSignature) return false;
    if (disk) *disk = static_cast<uint16_t>(rec[4] | (rec[5] << 8));
    return true;
}

bool ExtensionIs(std::string_view oemName, std::string_view ext) {
    const PathParts parts = SplitPath(oemName);
    return CompareNames(parts.extension, ext) == 0;
}

// The tests on the first bytes, in their fixed order; -1 when none matched.
Result Classify(FileHandle h, uint32_t size, std::string_view oemName, uint16_t* type,
                bool* fellThrough) {
    uint8_t head[4];
    if (ReadBytes(h, head, 4) != 4) return QV_E_NOT_ARCHIVE;
    const uint32_t sig = Le32(head);
    if (std::memcmp(head, format::kSqsMagic, 4) == 0) {
        *type = QV_TYPE_SQS;
        return QV_OK;
    }
    if ((head[0] | (head[1] << 8)) == format::kExeMagic) {
        uint8_t mark[6];
        if (!ReadAt(h, format::kPkliteMarkOffset, mark, 6)) return QV_E_NOT_ARCHIVE;
        if (std::memcmp(mark, format::kPkliteMark, 6) == 0 || EndRecordAtEnd(h, size, nullptr)) {
            *type = QV_TYPE_EXE;  // PKLITE program or self-extracting ZIP
            return QV_OK;
        }
        return QV_E_NOT_ARCHIVE;
    }
    if (std::memcmp(head, format::kSplitMagic, 4) == 0) {
        uint8_t ver[2];
        if (ReadBytes(h, ver, 2) != 2) return QV_E_NOT_ARCHIVE;
        const uint16_t version = static_cast<uint16_t>(ver[0] | (ver[1] << 8));
        if (version == 1 || version == 2) *type = QV_TYPE_SPLIT12;
        else if (version == 3) *type = QV_TYPE_SPLIT3;
        else return QV_E_NOT_ARCHIVE;
        return QV_OK;
    }
    if (sig == format::kCentralHeaderSignature) {
        *type = QV_TYPE_DIRVOLUME;
        return QV_OK;
    }
    if (sig == format::kSpanningMarker) {
        *type = QV_TYPE_SPANNED;
        return QV_OK;
    }
    if (sig == format::kLocalHeaderSignature || sig == format::kEndRecordSignature) {
        *type = QV_TYPE_ZIP;
        return QV_OK;
    }
    if ((head[0] | (head[1] << 8)) == format::kArjHeaderId) {
        *type = QV_TYPE_ARJ;
        return QV_OK;
    }
    if (std::memcmp(head, format::kGzipMagic, 3) == 0) {
        *type = QV_TYPE_GZIP;
        return QV_OK;
    }
    if (head[0] == format::kArcMark && head[1] < 32 && head[2] != 0) {
        *type = QV_TYPE_ARC;
        return QV_OK;
    }
    // The tests at fixed offsets; when they fail, however they fail, the spanned-volume test
    // runs.
    *fellThrough = true;
    uint8_t lh[3];
    if (!ReadAt(h, format::kLhaMethodOffset, lh, 3)) return QV_E_NOT_ARCHIVE;
    if (std::memcmp(lh, "-lh", 3) == 0) {
        *type = QV_TYPE_LHA;
        return QV_OK;
    }
    uint8_t zoo[4];
    if (!ReadAt(h, format::kZooTagOffset, zoo, 4)) return QV_E_NOT_ARCHIVE;
    if (Le32(zoo) == format::kZooTag) {
        *type = QV_TYPE_ZOO;
        return QV_OK;
    }
    uint8_t ustar[6];
    if (!ReadAt(h, format::kTarMagicOffset, ustar, 6)) return QV_E_NOT_ARCHIVE;
    if (std::memcmp(ustar, "ustar\0", 6) == 0 || ExtensionIs(oemName, ".TAR")) {
        *type = QV_TYPE_TAR;
        return QV_OK;
    }
    return QV_E_NOT_ARCHIVE;
}

}  // namespace

Result IdentifyFile(std::string_view ansiName, uint16_t* type) {
    *type = QV_TYPE_NONE;
    const std::string oemName = os::AnsiToOem(ansiName);
    HandleGuard file(os::CreateFile(ansiName, os::kGenericRead, os::kShareRead, os::kOpenExisting,
                                    os::kFlagRandomAccess));
    if (file.get() == kInvalidHandle) return QV_E_FILE;
    const uint32_t size = os::GetFileSize(file.get());
    if (size == os::kInvalidPosition) return QV_E_NOT_ARCHIVE;
    if (size == 0) {
        // An empty file is a new archive: ".SQS" for the single-file format, else ZIP.
        *type = ExtensionIs(oemName, ".SQS") ? QV_TYPE_SQS : QV_TYPE_ZIP;
        return QV_OK;
    }
    bool fellThrough = false;
    Result result = Classify(file.get(), size, oemName, type, &fellThrough);
    if (fellThrough) {
        // A later volume of a spanned set starts with continued member data and ends with an
        // end record whose disk number is not 0.
        uint16_t disk = 0;
        if (EndRecordAtEnd(file.get(), size, &disk) && disk != 0) {
            *type = QV_TYPE_SPANNED;
            return QV_OK;
        }
    }
    if (!result.ok()) *type = QV_TYPE_NONE;
    return result;
}

}  // namespace qv

QV_API ResultCode QV_CALL Qv4IdentifyFile(const char* name, uint16_t* typeOut) {
    return qv::Guarded([&]() -> qv::Result {
        uint16_t type = 0;
        if (name == nullptr) {
            if (typeOut) *typeOut = 0;
            return QV_E_FILE;
        }
        qv::Result r = qv::IdentifyFile(name, &type);
        if (typeOut) *typeOut = type;
        return r;
    });
}
