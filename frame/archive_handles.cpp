#include "archive_handles.h"

#include <cstring>
#include <memory>
#include <new>

#include "format_facts.h"
#include "identify.h"
#include "open_names.h"
#include "os.h"

namespace qv {
namespace {

// The open archives, newest first, and what lives while any of them is open.
struct OpenArchives {
    ArchiveRecord* head = nullptr;
    uint16_t count = 0;
    std::unique_ptr<uint8_t[]> buffers[2];

    ~OpenArchives();
};

// Installed during static initialisation by the listing converter: a constant-initialised
// pointer, so it is there whatever order the library's objects start in.
constinit ListingBuilder gListingBuilder = nullptr;

OpenArchives& Archives() {
    static OpenArchives archives;
    return archives;
}

bool AllocateBuffers() {
    auto& a = Archives();
    for (auto& b : a.buffers) {
        b.reset(new (std::nothrow) uint8_t[kTransferBufferSize]);
        if (!b) {
            a.buffers[0].reset();
            a.buffers[1].reset();
            return false;
        }
    }
    return true;
}

void FreeBuffers() {
    for (auto& b : Archives().buffers) b.reset();
}

// Types whose read-only open needs a converted listing.
bool NeedsListing(uint16_t type) {
    return type != QV_TYPE_ZIP && type != QV_TYPE_SQS && type != QV_TYPE_EXE;
}

// Types that cannot be opened for update.
bool Unwritable(uint16_t type) {
    return (type >= QV_TYPE_SPLIT12 && type <= QV_TYPE_ARC) || type == QV_TYPE_SPLIT3 ||
           type == QV_TYPE_EXE;
}

Result Identify(const std::string& oemName, uint16_t* type) {
    return IdentifyFile(os::OemToAnsi(oemName), type);
}

Result OpenArchive(const char* rawName, uint32_t rawMode, ArchiveHandle* handleOut) {
    *handleOut = QV_NO_HANDLE;
    if (rawName == nullptr) return QV_E_BAD_NAME;
    std::string_view ansi(rawName);
    if (ansi.find_first_of("?*") != std::string_view::npos) return QV_E_BAD_NAME;
    size_t start = 0;
    while (start < ansi.size() && static_cast<uint8_t>(ansi[start]) >= 1 &&
           static_cast<uint8_t>(ansi[start]) <= 32)
        ++start;
    if (start == ansi.size()) return QV_E_BAD_NAME;

    std::string name = os::AnsiToOem(ansi.substr(start));
    if (!HasExtension(name)) name += ".ZIP";
    const std::string ansiName = os::OemToAnsi(name);

    uint16_t mode = static_cast<uint16_t>(rawMode);
    uint16_t flags = 0;
    if (mode & QV_OPEN_LONGNAMES) {
        mode &= ~QV_OPEN_LONGNAMES;
        flags |= AR_LONGNAMES;
    }

    uint16_t type = 0;
    bool identified = false;
    if ((mode & 7) == 0) {
        const uint32_t attrs = os::GetFileAttributes(ansiName);
        uint32_t size = 0;
        bool exists = false;
        if (attrs != os::kInvalidAttributes && !(attrs & os::kAttrDirectory)) {
            os::FindData fd;
            const os::FindHandle search = os::FindFirstFile(ansiName, &fd);
            if (search != os::kInvalidFind) {
                os::FindClose(search);
                exists = true;
                size = fd.size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(fd.size);
            }
        }
        if (exists && size >= format::kEndRecordSize) {
            QV_TRY(Identify(name, &type));
            identified = true;
            flags |= FlagOfType(type);
            const bool readOnly = (attrs & os::kAttrReadOnly) != 0;
            if (type == QV_TYPE_ZIP || type == QV_TYPE_SQS)
                mode = readOnly ? QV_OPEN_READ : QV_OPEN_UPDATE;
            else
                mode = QV_OPEN_READ;
        } else {
            mode = QV_OPEN_CREATE;
        }
    }

    FileHandle h = kInvalidHandle;
    uint32_t access = 0, shareMode = 0;
    FileHandle listingHandle = kInvalidHandle;
    std::string listingName;
    uint16_t diskNumber = 0;
    bool created = false;

    // Whatever fails after the file is open closes it, and deletes it only if this call made it.
    auto failOpen = [&](Result r) -> Result {
        if (h != kInvalidHandle) os::CloseHandle(h);
        if (created) os::DeleteFile(ansiName);
        return r;
    };

    switch (mode) {
        case QV_OPEN_READ: {
            const uint32_t attrs = os::GetFileAttributes(ansiName);
            if (attrs == os::kInvalidAttributes || (attrs & os::kAttrDirectory)) return QV_E_BAD_NAME;
            if (!identified) {
                QV_TRY(Identify(name, &type));
                flags |= FlagOfType(type);
            }
            access = os::kGenericRead;
            shareMode = os::kShareRead;
            h = os::CreateFile(ansiName, access, shareMode, os::kOpenAlways, os::kFlagRandomAccess);
            if (h == kInvalidHandle) return QV_E_FILE;
            if (NeedsListing(type)) {
                ListingBuilder build = gListingBuilder;
                // Without the listing converter these kinds cannot be read.
                if (!build) return failOpen(QV_E_NO_DIRECTORY);
                Result r = build(&h, name, type, &listingHandle, &listingName, &diskNumber);
                if (!r.ok()) return failOpen(r);
            }
            break;
        }
        case QV_OPEN_UPDATE: {
            const uint32_t attrs = os::GetFileAttributes(ansiName);
            if (attrs == os::kInvalidAttributes || (attrs & os::kAttrDirectory)) return QV_E_BAD_NAME;
            if (!identified) QV_TRY(Identify(name, &type));
            if (Unwritable(type)) return QV_E_UNCHANGEABLE;
            access = os::kGenericReadWrite;
            shareMode = os::kShareNone;
            h = os::CreateFile(ansiName, access, shareMode, os::kOpenAlways, os::kFlagRandomAccess);
            if (h == kInvalidHandle) return QV_E_FILE;
            break;
        }
        case QV_OPEN_CREATE: {
            access = os::kGenericReadWrite;
            shareMode = os::kShareNone;
            h = os::CreateFile(ansiName, access, shareMode, os::kCreateAlways,
                               os::kAttrArchive | os::kFlagRandomAccess);
            if (h == kInvalidHandle) return QV_E_FILE;
            os::CloseHandle(h);
            h = os::CreateFile(ansiName, access, shareMode, os::kOpenAlways, os::kFlagRandomAccess);
            if (h == kInvalidHandle) return QV_E_FILE;  // the empty file stays
            created = true;
            flags |= AR_CREATED;
            break;
        }
        default: return QV_E_ACCESS_MODE;
    }

    auto& list = Archives();
    auto dropListing = [&]() {
        if (listingHandle != kInvalidHandle) os::CloseHandle(listingHandle);
        if (!listingName.empty()) {
            DeleteOemFile(listingName);
            RemoveOpenName(listingName);
        }
    };
    if (list.count == 0 && !AllocateBuffers()) {
        dropListing();
        return failOpen(QV_E_MEMORY);
    }
    auto* record = new (std::nothrow) ArchiveRecord;
    if (!record) {
        dropListing();
        if (list.count == 0) FreeBuffers();
        return failOpen(QV_E_MEMORY);
    }
    record->next = list.head;
    record->name = name;
    record->access = access;
    record->shareMode = shareMode;
    record->handle = h;
    record->flags = flags;
    record->listingHandle = listingHandle;
    record->listingName = listingName;
    record->diskNumber = diskNumber;
    list.head = record;
    ++list.count;
    *handleOut = h;
    (void)AddOpenName(name);  // cannot fail: the name is not empty
    return QV_OK;
}

void CloseArchive(ArchiveHandle* handlePtr) {
    if (handlePtr == nullptr) return;
    auto& list = Archives();
    ArchiveRecord* prev = nullptr;
    ArchiveRecord* rec = list.head;
    for (uint16_t i = 0; rec != nullptr && i < list.count; ++i) {
        if (rec->handle == *handlePtr) break;
        prev = rec;
        rec = rec->next;
    }
    if (rec == nullptr || rec->handle != *handlePtr) return;

    rec->flags &= ~AR_LOCATED;
    if (!(rec->flags & (AR_SPANNED | AR_SPLIT12 | AR_DIRVOLUME))) {
        // A new archive that never received a member is removed again.
        uint8_t head[4];
        bool empty = false;
        if (os::SetFilePointer(rec->handle, 0, os::kFileBegin) != os::kInvalidPosition &&
            ReadBytes(rec->handle, head, 4) == 4) {
            const uint32_t sig = head[0] | (head[1] << 8) | (head[2] << 16) | (uint32_t(head[3]) << 24);
            empty = sig == format::kEndRecordSignature;
        }
        const uint32_t size = os::GetFileSize(rec->handle);
        if (size != os::kInvalidPosition && size <= format::kEndRecordSize) empty = true;
        os::CloseHandle(rec->handle);
        if (empty && (rec->flags & AR_CREATED)) DeleteOemFile(rec->name);
    } else {
        os::CloseHandle(rec->handle);
    }
    RemoveOpenName(rec->name);
    if ((rec->flags & AR_LISTED) && !(rec->access & os::kGenericWrite)) {
        if (rec->listingHandle != kInvalidHandle) os::CloseHandle(rec->listingHandle);
        if (!rec->listingName.empty()) {
            DeleteOemFile(rec->listingName);
            RemoveOpenName(rec->listingName);
        }
    }
    (prev ? prev->next : list.head) = rec->next;
    delete rec;
    if (--list.count == 0) FreeBuffers();
}

OpenArchives::~OpenArchives() {
    // The library is being unloaded: close what the host left open, at most 255 archives.
    for (int i = 0; i < 255 && head != nullptr; ++i) {
        ArchiveHandle h = head->handle;
        CloseArchive(&h);
    }
}

}  // namespace

uint16_t FlagOfType(uint16_t type) {
    switch (type) {
        case QV_TYPE_SPLIT12: return AR_SPLIT12;
        case QV_TYPE_SPANNED: return AR_SPANNED;
        case QV_TYPE_DIRVOLUME: return AR_DIRVOLUME;
        case QV_TYPE_LHA:
        case QV_TYPE_ARJ:
        case QV_TYPE_ZOO:
        case QV_TYPE_ARC: return AR_FOREIGN;
        case QV_TYPE_SQS: return AR_SQS;
        case QV_TYPE_SPLIT3: return AR_SPLIT3;
        case QV_TYPE_TAR: return AR_TAR;
        case QV_TYPE_GZIP: return AR_GZIP;
        case QV_TYPE_EXE: return AR_EXE;
        default: return 0;
    }
}

ArchiveRecord* FindArchive(FileHandle h) {
    for (ArchiveRecord* r = Archives().head; r != nullptr; r = r->next)
        if (r->handle == h) return r;
    return nullptr;
}

Result FindArchive(FileHandle h, ArchiveRecord** out) {
    *out = FindArchive(h);
    return *out ? QV_OK : QV_E_HANDLE;
}

uint8_t* TransferBuffer(int which) { return Archives().buffers[which & 1].get(); }
uint16_t OpenArchiveCount() { return Archives().count; }
ArchiveRecord* FirstArchive() { return Archives().head; }
void SetListingBuilder(ListingBuilder builder) { gListingBuilder = builder; }

}  // namespace qv

QV_API ResultCode QV_CALL Qv4ZipOpen(const char* name, uint32_t mode, ArchiveHandle* handleOut) {
    ArchiveHandle ignored;
    ArchiveHandle* out = handleOut ? handleOut : &ignored;
    *out = QV_NO_HANDLE;
    return qv::Guarded([&]() { return qv::OpenArchive(name, mode, out); });
}

QV_API void QV_CALL Qv4ZipClose(ArchiveHandle* handlePtr) {
    try {
        qv::CloseArchive(handlePtr);
    } catch (...) {
    }
}

QV_API uint32_t QV_CALL Qv4ZipPercent(int32_t total, int32_t remaining) {
    if (total < 1 || remaining >= total) return 0;
    if (remaining < 0) return 100;
    while (remaining > 21474836) {
        total >>= 1;
        remaining >>= 1;
    }
    if (total == 0) return 100;
    const int32_t pct = remaining * 100 / total;
    return static_cast<uint32_t>(100 - (pct > 100 ? 100 : pct));
}
