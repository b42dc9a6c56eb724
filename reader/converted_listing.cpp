#include "converted_listing.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include "file_primitives.h"
#include "format_facts.h"
#include "open_names.h"
#include "os.h"
#include "volume_change.h"
#include "zip_records.h"

namespace qv {
namespace {

// ---- The listing file -------------------------------------------------------------------

// The temporary file the listing is written to; removed again unless Release()d.
class ListingFile {
public:
    ListingFile() {
        name_ = MakeTempName();
        if (!name_.empty())
            handle_ = CreateOemFile(name_, os::kGenericReadWrite, os::kShareNone, os::kOpenAlways,
                                    os::kFlagRandomAccess);
    }
    ~ListingFile() {
        if (handle_ != kInvalidHandle) os::CloseHandle(handle_);
        if (!name_.empty()) {
            DeleteOemFile(name_);
            RemoveOpenName(name_);
        }
    }
    ListingFile(const ListingFile&) = delete;
    ListingFile& operator=(const ListingFile&) = delete;

    bool ok() const { return handle_ != kInvalidHandle; }
    FileHandle handle() const { return handle_; }

    Result Write(const void* data, uint32_t size) {
        if (size == 0) return QV_OK;
        return WriteBytes(handle_, data, size) == 0 ? Result(QV_OK) : Result(QV_E_WRITE);
    }
    Result Write(std::string_view text) { return Write(text.data(), static_cast<uint32_t>(text.size())); }

    // One central record with its name and comment; counts it for the end record.
    Result AddRecord(CentralRecord rec, std::string_view name, std::string_view comment = {}) {
        rec.signature = format::kCentralHeaderSignature;
        rec.nameLength = static_cast<uint16_t>(name.size());
        rec.extraLength = 0;
        rec.commentLength = static_cast<uint16_t>(comment.size());
        uint8_t fixed[format::kCentralHeaderSize];
        EncodeCentralRecord(rec, fixed);
        QV_TRY(Write(fixed, sizeof fixed));
        QV_TRY(Write(name));
        QV_TRY(Write(comment));
        ++count_;
        size_ += format::kCentralHeaderSize + rec.VariableLength();
        return QV_OK;
    }

    // The end record for the records written: disks 0, offset 0.
    Result Finish(std::string_view comment = {}) {
        EndRecord end;
        end.entriesOnDisk = end.entriesTotal = count_;
        end.directorySize = size_;
        end.commentLength = static_cast<uint16_t>(comment.size());
        return WriteEndRecord(handle_, end, comment);
    }

    // Hands the open file and its name to the caller.
    void Release(FileHandle* handle, std::string* name) {
        *handle = handle_;
        *name = name_;
        handle_ = kInvalidHandle;
        name_.clear();
    }

    uint16_t count_ = 0;
    uint32_t size_ = 0;

private:
    std::string name_;
    FileHandle handle_ = kInvalidHandle;
};

// ---- Reading the source ---------------------------------------------------------------------

bool ReadAt(FileHandle file, uint32_t offset, void* buffer, uint32_t count, uint32_t* got) {
    if (!SeekTo(file, offset)) return false;
    *got = ReadBytes(file, buffer, count);
    return true;
}

// A zero-terminated string inside a fixed field.
std::string_view CString(const uint8_t* p, size_t max) {
    const auto* end = static_cast<const uint8_t*>(std::memchr(p, 0, max));
    return {reinterpret_cast<const char*>(p), end ? static_cast<size_t>(end - p) : max};
}

// Octal text of a TAR field (leading blanks allowed, ends at a blank or zero).
uint64_t Octal(const uint8_t* p, size_t size) {
    size_t i = 0;
    while (i < size && p[i] == ' ') ++i;
    uint64_t v = 0;
    for (; i < size && p[i] >= '0' && p[i] <= '7'; ++i) v = (v << 3) | (p[i] - '0');
    return v;
}

// A Unix time as local DOS date and time; date 0 for years before 1980 (and after 2107).
void UnixToDos(int64_t secs, uint16_t* date, uint16_t* time) {
    *date = 0;
    *time = 0;
    const os::FileTime utc = static_cast<os::FileTime>((secs + 11644473600LL) * 10000000LL);
    if (secs < 0) return;
    os::FileTime local = 0;
    if (!os::FileTimeToLocalFileTime(utc, &local)) return;
    if (!os::FileTimeToDosDateTime(local, date, time)) {
        *date = 0;
        *time = 0;
    }
}

// ---- Own split sets (header versions 1 to 3) -----------------------------------------------

Result ListSplitSet(FileHandle archive, ListingFile& out, uint16_t* volume) {
    uint8_t header[12];
    uint32_t got = 0;
    if (!ReadAt(archive, 0, header, sizeof header, &got) || got != sizeof header) return QV_E_FILE;
    const uint16_t version = GetLe16(header + 4);
    if (std::memcmp(header, format::kSplitMagic, 4) != 0 || version < 1 || version > 3)
        return QV_E_NOT_ARCHIVE;
    const uint16_t count = GetLe16(header + 6);
    const uint32_t first = GetLe16(header + 10);
    uint32_t varPos = first + uint32_t{count} * format::kCentralHeaderSize;
    uint16_t lastDisk = 0;
    std::vector<uint8_t> variable;
    for (uint16_t i = 0; i < count; ++i) {
        uint8_t fixed[format::kCentralHeaderSize];
        if (!ReadAt(archive, first + uint32_t{i} * format::kCentralHeaderSize, fixed, sizeof fixed, &got))
            return QV_E_FILE;
        if (got != sizeof fixed) return QV_E_EOF;
        CentralRecord rec = DecodeCentralRecord(fixed);
        rec.signature = format::kCentralHeaderSignature;
        if (rec.diskStart > lastDisk) lastDisk = static_cast<uint16_t>(rec.diskStart + 1);
        EncodeCentralRecord(rec, fixed);
        QV_TRY(out.Write(fixed, sizeof fixed));
        if (!SeekTo(archive, varPos)) return QV_E_FILE;
        QV_TRY(CopyBytes(archive, out.handle(), static_cast<int32_t>(rec.VariableLength())));
        varPos += rec.VariableLength();
        ++out.count_;
        out.size_ += format::kCentralHeaderSize + rec.VariableLength();
    }
    EndRecord end;
    // Which value a reader expects as "this disk" is not fixed by the format: the listing
    // carries the number that follows the highest disk a member starts on.
    end.diskNumber = lastDisk;
    end.directoryDisk = 1;
    end.entriesOnDisk = end.entriesTotal = count;
    end.directorySize = out.size_;
    *volume = 1;
    return WriteEndRecord(out.handle(), end, {});
}

// ---- Spanned ZIP sets -------------------------------------------------------------------------

// Asks for a volume; a refusal ends the listing.
Result Ask(uint16_t number, const std::string& oemName, FileHandle* archive) {
    uint16_t n = number;
    return RequestVolume(&n, oemName, archive);
}

// Copies count bytes of a directory that may run over several volumes into the listing,
// starting at the current position of *archive on volume *volume.
Result CopyAcrossVolumes(FileHandle* archive, const std::string& oemName, uint16_t* volume,
                         uint32_t count, ListingFile& out) {
    while (count > 0) {
        const uint32_t pos = os::SetFilePointer(*archive, 0, os::kFileCurrent);
        const uint32_t size = os::GetFileSize(*archive);
        if (pos == os::kInvalidPosition || size == os::kInvalidPosition) return QV_E_FILE;
        const uint32_t here = std::min(count, size > pos ? size - pos : 0);
        QV_TRY(CopyBytes(*archive, out.handle(), static_cast<int32_t>(here)));
        count -= here;
        if (count > 0) {
            ++*volume;
            QV_TRY(Ask(*volume, oemName, archive));
        }
    }
    return QV_OK;
}

Result ListSpannedSet(FileHandle* archive, const std::string& oemName, ListingFile& out,
                      uint16_t* volume) {
    uint8_t tail[format::kEndRecordSize];
    for (;;) {
        const uint32_t size = os::GetFileSize(*archive);
        uint32_t got = 0;
        if (size != os::kInvalidPosition && size >= format::kEndRecordSize &&
            ReadAt(*archive, size - format::kEndRecordSize, tail, sizeof tail, &got) &&
            got == sizeof tail && GetLe32(tail) == format::kEndRecordSignature)
            break;
        QV_TRY(Ask(10000, oemName, archive));  // the last volume holds the end record
    }
    EndRecord end = DecodeEndRecord(tail);
    *volume = static_cast<uint16_t>(end.diskNumber + 1);
    if (end.directoryDisk + 1 != *volume) {
        *volume = static_cast<uint16_t>(end.directoryDisk + 1);
        QV_TRY(Ask(*volume, oemName, archive));
    }
    if (!SeekTo(*archive, end.directoryOffset)) return QV_E_FILE;
    QV_TRY(CopyAcrossVolumes(archive, oemName, volume, end.directorySize, out));
    end.directoryOffset = 0;
    end.commentLength = 0;
    return WriteEndRecord(out.handle(), end, {});
}

// A volume that begins with central records: copy them, following them onto later volumes.
Result ListDirectoryVolume(FileHandle* archive, const std::string& oemName, ListingFile& out,
                           uint16_t* volume) {
    if (!SeekTo(*archive, 0)) return QV_E_FILE;
    *volume = 1;
    for (;;) {
        uint8_t fixed[format::kCentralHeaderSize];
        uint32_t got = ReadBytes(*archive, fixed, sizeof fixed);
        if (got == 0) {
            // The volume ended after a whole record: the directory goes on on the next one.
            ++*volume;
            QV_TRY(Ask(*volume, oemName, archive));
            continue;
        }
        // A filler or end record behind the last central record ends the directory, even when
        // fewer than 46 bytes follow it.
        if (got < 4 || GetLe32(fixed) != format::kCentralHeaderSignature) break;
        if (got < sizeof fixed) {
            ++*volume;
            QV_TRY(Ask(*volume, oemName, archive));
            const uint32_t rest = sizeof fixed - got;
            if (ReadBytes(*archive, fixed + got, rest) != rest) return QV_E_EOF;
        }
        const CentralRecord rec = DecodeCentralRecord(fixed);
        QV_TRY(out.Write(fixed, sizeof fixed));
        QV_TRY(CopyAcrossVolumes(archive, oemName, volume, rec.VariableLength(), out));
        ++out.count_;
        out.size_ += format::kCentralHeaderSize + rec.VariableLength();
    }
    return out.Finish();
}

// ---- Foreign archives -------------------------------------------------------------------------

// Level-2 headers (LHA 2.x and later) are laid out differently: a 16-bit total header size,
// a Unix time, the CRC at 21 and the names in extended headers. Read with the level-0/1
// layout they would list garbage and lose the way to the next header.
Result ListLhaLevel2(FileHandle archive, const uint8_t* h, uint32_t* pos, ListingFile& out) {
    const uint32_t headerSize = GetLe16(h);
    if (headerSize < 26) return QV_E_NO_DIRECTORY;
    std::vector<uint8_t> header(headerSize);
    uint32_t got = 0;
    if (!ReadAt(archive, *pos, header.data(), headerSize, &got)) return QV_E_FILE;
    if (got != headerSize) return QV_E_EOF;
    std::string directory, name;
    // Extended headers: a 16-bit size (including itself and the type byte), a type, data.
    for (uint32_t at = 24; at + 2 <= headerSize;) {
        const uint32_t size = GetLe16(&header[at]);
        if (size == 0) break;
        if (size < 3 || at + size > headerSize) return QV_E_NO_DIRECTORY;
        const uint8_t extType = header[at + 2];
        const std::string_view data(reinterpret_cast<const char*>(&header[at + 3]), size - 3);
        if (extType == 0x01) name = data;
        if (extType == 0x02) {
            directory = data;
            std::replace(directory.begin(), directory.end(), '\xff', '\\');  // LHA's separator
        }
        at += size;
    }
    const std::string full = directory + name;
    if (full.size() >= 260) return QV_E_TOO_LONG;
    CentralRecord rec;
    rec.method = static_cast<uint16_t>(h[5] - '0');
    UnixToDos(GetLe32(h + 15), &rec.date, &rec.time);
    rec.crc = GetLe16(&header[21]);  // behind the 22 bytes the caller read
    rec.compressedSize = GetLe32(h + 7);
    rec.uncompressedSize = GetLe32(h + 11);
    rec.externalAttributes = h[19];
    QV_TRY(out.AddRecord(rec, full));
    const uint64_t next = uint64_t{*pos} + headerSize + rec.compressedSize;
    if (next > 0xFFFFFFFFull) return QV_E_NO_DIRECTORY;
    *pos = static_cast<uint32_t>(next);
    return QV_OK;
}

Result ListLha(FileHandle archive, ListingFile& out) {
    uint32_t pos = 0;
    for (;;) {
        uint8_t h[22];
        uint32_t got = 0;
        if (!ReadAt(archive, pos, h, sizeof h, &got)) return QV_E_FILE;
        if (got != sizeof h) break;  // the archive's end (its closing zero byte)
        if (std::memcmp(h + 2, "-lh", 3) != 0 || h[6] != '-') return QV_E_NO_DIRECTORY;
        if (h[20] == 2) {
            QV_TRY(ListLhaLevel2(archive, h, &pos, out));
            continue;
        }
        const uint32_t nameLength = h[21];
        if (nameLength >= 260) return QV_E_TOO_LONG;
        uint8_t name[260 + 2];
        if (ReadBytes(archive, name, nameLength + 2) != nameLength + 2) return QV_E_EOF;
        CentralRecord rec;
        rec.method = static_cast<uint16_t>(h[5] - '0');
        rec.time = GetLe16(h + 15);
        rec.date = GetLe16(h + 17);
        rec.crc = GetLe16(name + nameLength);
        rec.compressedSize = GetLe32(h + 7);
        rec.uncompressedSize = GetLe32(h + 11);
        rec.externalAttributes = h[19];
        QV_TRY(out.AddRecord(rec, {reinterpret_cast<char*>(name), nameLength}));
        const uint64_t next = uint64_t{pos} + h[0] + 2 + rec.compressedSize;
        if (h[0] == 0 || next > 0xFFFFFFFFull) break;  // no progress or past what offsets hold
        pos = static_cast<uint32_t>(next);
    }
    return out.Finish();
}

Result ListArj(FileHandle archive, ListingFile& out) {
    uint32_t pos = 0;
    std::string archiveComment;
    for (;;) {
        uint8_t h[34];
        uint32_t got = 0;
        if (!ReadAt(archive, pos, h, sizeof h, &got)) return QV_E_FILE;
        const uint16_t basicSize = got >= 4 ? GetLe16(h + 2) : 0;
        if (got < sizeof h && basicSize == 0) break;
        if (GetLe16(h) != format::kArjHeaderId) return QV_E_NO_DIRECTORY;
        if (basicSize == 0) break;
        if (got < sizeof h) return QV_E_EOF;
        const uint8_t firstSize = h[4];
        const uint8_t arjFlags = h[8];
        const uint32_t extData = (arjFlags & 0x08) ? 4 : 0;
        // The first header holds 30 bytes after the 4-byte id and size fields.
        if (firstSize < 30 || basicSize < firstSize + extData) return QV_E_NO_DIRECTORY;
        const uint32_t area = basicSize - firstSize - extData;
        if (area > 260) return QV_E_TOO_LONG;
        const uint32_t areaPos = pos + 4 + firstSize + extData;
        uint8_t buf[260 + 6];
        if (!ReadAt(archive, areaPos, buf, area + 6, &got)) return QV_E_FILE;
        if (got != area + 6) return QV_E_EOF;
        const std::string_view name = CString(buf, area);
        const size_t commentStart = std::min<size_t>(name.size() + 1, area);
        const std::string_view comment = CString(buf + commentStart, area - commentStart);
        const uint16_t extSize = GetLe16(buf + area + 4);
        const uint8_t fileType = h[10];
        const uint32_t compressed = GetLe32(h + 16);
        uint64_t skip = 0;
        if (fileType == 0 || fileType == 1) skip = (extSize ? uint64_t{extSize} + 4 : 0) + compressed;
        if (fileType == 2) {
            archiveComment = comment.empty() ? std::string() : std::string(comment.substr(0, comment.size() - 1));
        } else {
            CentralRecord rec;
            rec.flags = arjFlags & 0x01;
            rec.method = h[9];
            rec.time = GetLe16(h + 12);
            rec.date = GetLe16(h + 14);
            // ARJ on Unix (and NeXT) stores a Unix time where MS-DOS hosts store a DOS date and
            // time; read literally it would list a date from the wrong century.
            const uint8_t hostOs = h[7];
            if (hostOs == 2 || hostOs == 8) UnixToDos(GetLe32(h + 12), &rec.date, &rec.time);
            rec.crc = GetLe32(h + 24);
            rec.compressedSize = compressed;
            rec.uncompressedSize = GetLe32(h + 20);
            rec.internalAttributes = fileType & 1;
            rec.externalAttributes = fileType == 3 ? 0x10 : fileType == 4 ? 0x08 : 0x20;
            // The stored comment keeps all but its last character.
            QV_TRY(out.AddRecord(rec, name, comment.empty() ? comment : comment.substr(0, comment.size() - 1)));
        }
        const uint64_t next = uint64_t{areaPos} + area + 6 + skip;
        if (next > 0xFFFFFFFFull) break;
        pos = static_cast<uint32_t>(next);
    }
    return out.Finish(archiveComment);
}

Result ListZoo(FileHandle archive, ListingFile& out) {
    uint8_t start[4];
    uint32_t got = 0;
    if (!ReadAt(archive, 24, start, 4, &got)) return QV_E_FILE;
    if (got != 4) return QV_E_NO_DIRECTORY;
    uint32_t pos = GetLe32(start);
    std::vector<uint32_t> seen;
    for (;;) {
        uint8_t e[51];
        if (!ReadAt(archive, pos, e, sizeof e, &got)) return QV_E_FILE;
        if (got != sizeof e || GetLe32(e) != format::kZooTag) return QV_E_NO_DIRECTORY;
        const uint32_t next = GetLe32(e + 6);
        if (next == 0) break;
        // A chain that comes back to an entry it has passed would never end.
        if (std::find(seen.begin(), seen.end(), pos) != seen.end()) return QV_E_NO_DIRECTORY;
        seen.push_back(pos);
        const uint16_t commentSize = GetLe16(e + 36);
        std::string comment;
        if (commentSize != 0) {
            const uint32_t length = commentSize - 1u;
            if (length >= 260) return QV_E_TOO_LONG;
            comment.resize(length);
            if (!ReadAt(archive, GetLe32(e + 32), comment.data(), length, &got)) return QV_E_FILE;
            if (got != length) return QV_E_EOF;
        }
        if (e[30] == 0) {  // not deleted
            CentralRecord rec;
            rec.method = e[5];
            rec.time = GetLe16(e + 16);
            rec.date = GetLe16(e + 14);
            rec.crc = GetLe16(e + 18);
            rec.compressedSize = GetLe32(e + 24);
            rec.uncompressedSize = GetLe32(e + 20);
            QV_TRY(out.AddRecord(rec, CString(e + 38, 13), comment));
        }
        pos = next;
    }
    return out.Finish();
}

Result ListArc(FileHandle archive, ListingFile& out) {
    uint32_t pos = 0;
    for (;;) {
        uint8_t h[29];
        uint32_t got = 0;
        if (!ReadAt(archive, pos, h, sizeof h, &got)) return QV_E_FILE;
        if (got != sizeof h || h[1] == 0 || h[2] == 0 || h[2] == 26) break;
        CentralRecord rec;
        rec.method = h[1];
        rec.time = GetLe16(h + 21);
        rec.date = GetLe16(h + 19);
        rec.crc = GetLe16(h + 23);
        rec.compressedSize = GetLe32(h + 15);
        rec.uncompressedSize = GetLe32(h + 25);
        QV_TRY(out.AddRecord(rec, CString(h + 2, 13)));
        const uint64_t next = uint64_t{pos} + sizeof h + rec.compressedSize;
        if (next > 0xFFFFFFFFull) break;
        pos = static_cast<uint32_t>(next);
    }
    return out.Finish();
}

Result ListTar(FileHandle archive, ListingFile& out) {
    uint32_t pos = 0;
    const uint32_t fileSize = os::GetFileSize(archive);
    for (;;) {
        uint8_t h[512];
        uint32_t got = 0;
        if (!ReadAt(archive, pos, h, sizeof h, &got) || got != sizeof h) return QV_E_FILE;
        if (h[0] == 0 && h[157] == 0 && h[257] == 0) break;
        const std::string_view prefix = CString(h + 345, 155);
        const std::string_view field = CString(h, 100);
        const std::string name = prefix.empty() ? std::string(field) : std::string(prefix) + "\\" + std::string(field);
        if (name.size() >= 260) return QV_E_TOO_LONG;
        const uint64_t size = Octal(h + 124, 12);
        CentralRecord rec;
        UnixToDos(static_cast<int64_t>(Octal(h + 136, 12)), &rec.date, &rec.time);
        rec.crc = static_cast<uint32_t>(Octal(h + 148, 8));
        rec.compressedSize = rec.uncompressedSize = static_cast<uint32_t>(std::min<uint64_t>(size, 0xFFFFFFFFu));
        rec.externalAttributes = 0x20;
        if (h[156] == '5' || (!name.empty() && name.back() == '/')) rec.externalAttributes |= 0x10;
        if (Octal(h + 100, 8) & 0x100) rec.externalAttributes |= 0x01;
        rec.localHeaderOffset = pos + 512;
        QV_TRY(out.AddRecord(rec, name));
        const uint64_t next = uint64_t{pos} + 512 + ((size + 511) / 512) * 512;
        // A size field that points past the end cannot lead to another header.
        if (fileSize == os::kInvalidPosition || next >= fileSize) break;
        pos = static_cast<uint32_t>(next);
    }
    return out.Finish();
}

Result ListGzip(FileHandle archive, const std::string& oemName, ListingFile& out) {
    uint8_t h[10];
    uint32_t got = 0;
    if (!ReadAt(archive, 0, h, sizeof h, &got) || got != sizeof h) return QV_E_FILE;
    const uint8_t flags = h[3];
    if (flags & (0x02 | 0x20)) return QV_E_UNCHANGEABLE;  // header CRC, reserved bit
    if (flags & 0x04) {
        uint8_t len[2];
        if (ReadBytes(archive, len, 2) != 2) return QV_E_EOF;
        if (os::SetFilePointer(archive, GetLe16(len), os::kFileCurrent) == os::kInvalidPosition)
            return QV_E_FILE;
    }
    auto readZeroTerminated = [&](std::string* text) -> Result {
        for (;;) {
            uint8_t c;
            if (ReadBytes(archive, &c, 1) != 1) return QV_E_EOF;
            if (c == 0) return QV_OK;
            if (text) {
                if (text->size() >= 259) return QV_E_TOO_LONG;
                text->push_back(static_cast<char>(c));
            }
        }
    };
    std::string name;
    if (flags & 0x08) {
        QV_TRY(readZeroTerminated(&name));
    } else {
        const PathParts parts = SplitPath(oemName);
        name = parts.baseName;
        if (CompareNames(parts.extension, ".TGZ") == 0) name += ".tar";
    }
    if (flags & 0x10) QV_TRY(readZeroTerminated(nullptr));
    const uint32_t dataStart = os::SetFilePointer(archive, 0, os::kFileCurrent);
    const uint32_t size = os::GetFileSize(archive);
    if (dataStart == os::kInvalidPosition || size == os::kInvalidPosition) return QV_E_FILE;
    if (size < dataStart + 8) return QV_E_EOF;
    uint8_t trailer[8];
    if (!ReadAt(archive, size - 8, trailer, 8, &got)) return QV_E_FILE;
    if (got != 8) return QV_E_EOF;
    CentralRecord rec;
    rec.versionNeeded = 20;
    rec.method = 8;
    UnixToDos(GetLe32(h + 4), &rec.date, &rec.time);
    rec.crc = GetLe32(trailer);
    rec.uncompressedSize = GetLe32(trailer + 4);
    rec.compressedSize = size - dataStart - 8;
    rec.internalAttributes = flags & 0x01;
    rec.externalAttributes = 0x20;
    rec.localHeaderOffset = dataStart;
    QV_TRY(out.AddRecord(rec, name));
    return out.Finish();
}

}  // namespace

Result BuildListing(FileHandle* archive, const std::string& oemName, uint16_t type,
                    FileHandle* listingHandle, std::string* listingName, uint16_t* volume) {
    *listingHandle = kInvalidHandle;
    listingName->clear();
    *volume = 0;
    ListingFile out;
    if (!out.ok()) return QV_E_FILE;
    Result r;
    switch (type) {
        case QV_TYPE_SPLIT12:
        case QV_TYPE_SPLIT3: r = ListSplitSet(*archive, out, volume); break;
        case QV_TYPE_SPANNED: r = ListSpannedSet(archive, oemName, out, volume); break;
        case QV_TYPE_DIRVOLUME: r = ListDirectoryVolume(archive, oemName, out, volume); break;
        case QV_TYPE_LHA: r = ListLha(*archive, out); break;
        case QV_TYPE_ARJ: r = ListArj(*archive, out); break;
        case QV_TYPE_ZOO: r = ListZoo(*archive, out); break;
        case QV_TYPE_ARC: r = ListArc(*archive, out); break;
        case QV_TYPE_TAR: r = ListTar(*archive, out); break;
        case QV_TYPE_GZIP: r = ListGzip(*archive, oemName, out); break;
        default: r = QV_E_NOT_ARCHIVE; break;
    }
    QV_TRY(r);
    out.Release(listingHandle, listingName);
    return QV_OK;
}

namespace {
// Read-only opens of converted kinds build their listing here.
const bool kRegistered = (SetListingBuilder(&BuildListing), true);
}  // namespace

}  // namespace qv
