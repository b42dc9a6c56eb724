/*
 * qvarc32.h - the public interface of the QvArc32 ZIP archive library.
 *
 * Plain C, usable from C, C++ and any foreign-function interface. Every export returns
 * its result in the low half of a 32-bit value; archive operations return a ResultCode
 * (signed 16 bits). On 32-bit Windows every export uses the stdcall convention and is
 * exported under its plain name, as Visual Basic Declare statements expect.
 */
#ifndef QVARC32_H
#define QVARC32_H

#include <stdint.h>

#ifdef __cplusplus
#define QV_EXTERN_C extern "C"
#else
#define QV_EXTERN_C
#endif

#if defined(_WIN32)
#if defined(QV_BUILDING_LIBRARY)
#define QV_VISIBILITY __declspec(dllexport)
#else
#define QV_VISIBILITY
#endif
#if defined(__i386__) || defined(_M_IX86)
/* 32-bit hosts keep the stack 4-byte aligned: realign on entry. */
#if defined(__GNUC__)
#define QV_CALL __stdcall __attribute__((force_align_arg_pointer))
#else
#define QV_CALL __stdcall
#endif
#else
#define QV_CALL
#endif
#else
#define QV_VISIBILITY __attribute__((visibility("default")))
#define QV_CALL
#endif

/* QV_API marks an exported function: C linkage, exported, stdcall on 32-bit Windows. */
#define QV_API QV_EXTERN_C QV_VISIBILITY

/* Signed 16-bit result of every archive operation. */
typedef int16_t ResultCode;

/* The operating-system handle of an open archive file; -1 means none. */
typedef uint32_t ArchiveHandle;
#define QV_NO_HANDLE ((ArchiveHandle)0xFFFFFFFFu)

/* ---- Result codes ------------------------------------------------------------------ */
enum {
    QV_OK = 0,
    QV_E_BAD_NAME = 102,          /* bad or missing file name */
    QV_E_PATH = 103,              /* a directory cannot be made or a path component is missing */
    QV_E_FILE = 105,              /* a file cannot be opened, created, positioned, read or written */
    QV_E_HANDLE = 106,            /* no open archive has this handle */
    QV_E_MEMORY = 108,            /* out of memory */
    QV_E_NOT_ARCHIVE = -1,        /* not an archive of a known kind, or a wrong header */
    QV_E_NO_DIRECTORY = -2,       /* no valid directory structure where one is expected */
    QV_E_METHOD = -3,             /* compression method or level not available */
    QV_E_CANCELLED = -4,          /* cancelled by the host or the user */
    QV_E_NOTHING = -7,            /* nothing (more) to do */
    QV_W_SKIPPED = -8,            /* finished with members skipped, or incomplete input */
    QV_E_OPTIONS = -9,            /* malformed option string */
    QV_E_WRITE = -10,             /* writing failed */
    QV_E_EOF = -11,               /* unexpected end of data */
    QV_E_TOO_LONG = -18,          /* too long for the buffer or limit (also a warning: cut) */
    QV_E_NOTHING_NAMED = -19,     /* nothing was named */
    QV_E_CONFLICT = -20,          /* options repeated or in conflict */
    QV_E_TOO_MANY = -21,          /* too many members */
    QV_E_BAD_DATE = -22,          /* bad date */
    QV_E_ACCESS_MODE = -23,       /* operation not allowed in this access mode */
    QV_E_PASSWORD = -24,          /* wrong password */
    QV_E_DATA = -25,              /* data error */
    QV_E_UNCHANGEABLE = -26,      /* archive of this kind cannot be changed */
    QV_E_NOT_STARTED = -27,       /* enumeration not started */
    QV_E_NOT_REMOVABLE = -28,     /* not a removable drive */
    QV_E_VERSION = -29,           /* unsupported format version */
    QV_E_PASSWORD_MISMATCH = -12345 /* password does not match */
};

/* ---- Archive types (Qv4IdentifyFile) ----------------------------------------------- */
enum {
    QV_TYPE_NONE = 0,
    QV_TYPE_ZIP = 1,
    QV_TYPE_SPLIT12 = 2,
    QV_TYPE_SPANNED = 3,
    QV_TYPE_DIRVOLUME = 4,
    QV_TYPE_LHA = 5,
    QV_TYPE_ARJ = 6,
    QV_TYPE_ZOO = 7,
    QV_TYPE_ARC = 8,
    QV_TYPE_SQS = 9,
    QV_TYPE_SPLIT3 = 10,
    QV_TYPE_TAR = 11,
    QV_TYPE_GZIP = 12,
    QV_TYPE_EXE = 13
};

/* ---- Status reporting -------------------------------------------------------------- */
#pragma pack(push, 1)
typedef struct StatusBlock {
    char archiveName[260];   /* the archive's name (ANSI) */
    char fileName[260];      /* current member or file (ANSI; when extracting, the output path) */
    int16_t operation;       /* 0 Zipping, 1 UnZipping, 2 Deleting, 3 Testing, 4 Indexing; -1 reset */
    uint32_t totalSize;      /* uncompressed size of the member or file */
    uint32_t processedSize;  /* bytes of it processed so far */
    uint32_t packedSize;     /* compressed size of the member being extracted */
    uint16_t method;         /* method code (extracting) or level code (compressing) */
    uint16_t reserved1;
    uint32_t reserved2;
    int16_t kind;            /* 0 notice, 1 question, 2 progress */
    int16_t code;            /* notice: the result code; question: 1 insert disk, 2 overwrite, 3 last disk */
    int16_t disk;            /* volume number for question 1 */
} StatusBlock;
#pragma pack(pop)

enum { QV_OP_ZIPPING = 0, QV_OP_UNZIPPING = 1, QV_OP_DELETING = 2, QV_OP_TESTING = 3, QV_OP_INDEXING = 4 };
enum { QV_STATUS_NOTICE = 0, QV_STATUS_QUESTION = 1, QV_STATUS_PROGRESS = 2 };
enum { QV_ASK_INSERT_DISK = 1, QV_ASK_OVERWRITE = 2, QV_ASK_LAST_DISK = 3 };
/* Answers are message-box results; QV_ANSWER_DEFAULT_BOX asks the library to show its own box. */
enum { QV_ANSWER_OK = 1, QV_ANSWER_CANCEL = 2, QV_ANSWER_YES = 6, QV_ANSWER_NO = 7, QV_ANSWER_DEFAULT_BOX = -10000 };

/* The host's status callback: one StatusBlock by value, a 16-bit answer. */
typedef int16_t(QV_CALL* QvStatusCallback)(StatusBlock block);

/* ---- Archive handles and the open/close cycle ---------------------------------------- */
#define QV_OPEN_CHOOSE 0
#define QV_OPEN_READ 1
#define QV_OPEN_UPDATE 2
#define QV_OPEN_CREATE 3
#define QV_OPEN_LONGNAMES 0x100

QV_API ResultCode QV_CALL Qv4ZipOpen(const char* name, uint32_t mode, ArchiveHandle* handleOut);
QV_API void QV_CALL Qv4ZipClose(ArchiveHandle* handlePtr);
QV_API uint32_t QV_CALL Qv4ZipPercent(int32_t total, int32_t remaining);

/* ---- Settings and status --------------------------------------------------------------- */
QV_API void QV_CALL Qv4SetCPrint(int32_t on);
QV_API int32_t QV_CALL Qv4GetCPrint(void);
QV_API void QV_CALL Qv4CPrintHook(QvStatusCallback callback);
QV_API int32_t QV_CALL Qv4ExtendedCPrintInfo(int32_t count, void* destination);
QV_API void QV_CALL Qv4SetDoEvents(int32_t on);
QV_API int32_t QV_CALL Qv4GetDoEvents(void);
QV_API void QV_CALL Qv4Cancel(void);
QV_API void QV_CALL Qv4SetParseType(int32_t on);
QV_API int32_t QV_CALL Qv4GetParseType(void);
QV_API uint32_t QV_CALL Qv4GetParsePlace(void);
QV_API uint32_t QV_CALL QvFarAddr(uint32_t segment, uint32_t offset);
QV_API uint32_t QV_CALL QvLongLow(uint32_t value);
QV_API uint32_t QV_CALL QvLongHigh(uint32_t value);
QV_API uint32_t QV_CALL LSeg(uint32_t value);
QV_API uint32_t QV_CALL VarSeg(uint32_t value);
QV_API uint32_t QV_CALL VarPtr(uint32_t value);

/* ---- Identification ------------------------------------------------------------------ */
QV_API ResultCode QV_CALL Qv4IdentifyFile(const char* name, uint16_t* typeOut);

/* ---- Directory records and enumeration ------------------------------------------------ */
/* One central directory record as handed to hosts: the 46 fixed bytes of the ZIP central
 * directory file header, packed, signature included. External attributes are reported as 0
 * for records made on a host other than MS-DOS (version-made-by high byte not 0); with
 * effective names (open mode bit 0x100) nameLength is that of the reported name. */
#pragma pack(push, 1)
typedef struct DirectoryRecord {
    uint32_t signature;          /* 0x02014B50 */
    uint16_t versionMadeBy;      /* low byte version, high byte host system (0 MS-DOS) */
    uint16_t versionNeeded;
    uint16_t flags;              /* bit 0 encrypted; bits 1-2 deflate option */
    uint16_t method;
    uint16_t time;               /* DOS time */
    uint16_t date;               /* DOS date */
    uint32_t crc32;
    uint32_t compressedSize;     /* includes the 12-byte encryption header */
    uint32_t uncompressedSize;
    uint16_t nameLength;
    uint16_t extraLength;
    uint16_t commentLength;
    uint16_t diskStart;
    uint16_t internalAttributes;
    uint32_t externalAttributes; /* DOS attribute byte in the low byte */
    uint32_t localHeaderOffset;
} DirectoryRecord;

/* The same fields for Visual Basic hosts, 32-bit fields first so each lies on a 4-byte
 * boundary. */
typedef struct DirectoryRecordVB {
    uint32_t signature;
    uint32_t crc32;
    uint32_t compressedSize;
    uint32_t uncompressedSize;
    uint32_t externalAttributes;
    uint32_t localHeaderOffset;
    uint16_t versionMadeBy;
    uint16_t versionNeeded;
    uint16_t flags;
    uint16_t method;
    uint16_t time;
    uint16_t date;
    uint16_t nameLength;
    uint16_t extraLength;
    uint16_t commentLength;
    uint16_t diskStart;
    uint16_t internalAttributes;
} DirectoryRecordVB;
#pragma pack(pop)

/* Name buffers handed to the directory readers hold at least this many bytes. */
#define QV_NAME_BUFFER_SIZE 261

/* The end record's total number of entries (0 on failure). */
QV_API ResultCode QV_CALL Qv4ZipCount(ArchiveHandle handle, uint16_t* count);
/* The archive comment (ANSI, zero-terminated), cut to size - 1 bytes with QV_E_TOO_LONG. */
QV_API ResultCode QV_CALL Qv4ZipComment(ArchiveHandle handle, char* comment, uint32_t size);
/* Offset of the first central record, or -1 when the handle is not open. Call after a Find. */
QV_API int32_t QV_CALL Qv4GetCDR(ArchiveHandle handle);
/* Offset of the record the next Qv4ZipFindNext reads, or -1 when the handle is not open. */
QV_API int32_t QV_CALL Qv4GetNextCDR(ArchiveHandle handle);
/* Reads the central record at *position and advances *position past it. name: at least
 * QV_NAME_BUFFER_SIZE bytes, receives the name in ANSI with "\" separators. extra and comment
 * may be null (skipped); when given they are filled up to their sizes (extra: raw bytes;
 * comment: ANSI, zero-terminated, at most size - 1 bytes). Anything cut gives the warning
 * QV_E_TOO_LONG with the record valid and the position advanced; QV_E_NOTHING ends the
 * directory. */
QV_API ResultCode QV_CALL Qv4ReadCDR(ArchiveHandle handle, uint32_t* position,
                                     DirectoryRecord* record, char* name, void* extra,
                                     uint32_t extraSize, char* comment, uint32_t commentSize);
/* The first record of the directory, then the following ones, as Qv4ReadCDR reads them. */
QV_API ResultCode QV_CALL Qv4ZipFindFirst(ArchiveHandle handle, DirectoryRecord* record, char* name,
                                          void* extra, uint32_t extraSize, char* comment,
                                          uint32_t commentSize);
QV_API ResultCode QV_CALL Qv4ZipFindNext(ArchiveHandle handle, DirectoryRecord* record, char* name,
                                         void* extra, uint32_t extraSize, char* comment,
                                         uint32_t commentSize);
QV_API ResultCode QV_CALL Qv4ZipFindFirstVB32(ArchiveHandle handle, DirectoryRecordVB* record,
                                              char* name, void* extra, uint32_t extraSize,
                                              char* comment, uint32_t commentSize);
QV_API ResultCode QV_CALL Qv4ZipFindNextVB32(ArchiveHandle handle, DirectoryRecordVB* record,
                                             char* name, void* extra, uint32_t extraSize,
                                             char* comment, uint32_t commentSize);
/* The effective (long) name carried in the library's private extra field, or the stored name
 * when there is none, into output (at least QV_NAME_BUFFER_SIZE bytes, ANSI). The result only
 * tells whether the name had to be cut (QV_E_TOO_LONG). */
QV_API ResultCode QV_CALL Qv4EffectiveFileName(const char* storedName, const void* extra,
                                               uint32_t extraLength, char* output);

/* ---- Extraction ------------------------------------------------------------------------ */
/* 1 when path (ANSI) names an existing directory, else 0 (a plain file is not one). */
QV_API int32_t QV_CALL Qv4DirExist(const char* path);
/* Registers a path filter for the next extraction with the drive option: output paths whose
 * drive and leading directory are "from" get those of "to" instead (first matching pair wins;
 * drives compare ignoring case, directories exactly). Either may be null or empty, not both
 * (QV_E_NOTHING_NAMED); a separator is appended to a part without one. The filters are
 * emptied when Qv4UnZip ends. */
QV_API ResultCode QV_CALL Qv4AddUnZipPathFilter(const char* from, const char* to);

/* Extracts (or with "-t" tests) the members of an open archive whose names match specs (a
 * list of tokens with "*" and "?"; exclusions, which may be null, takes matches out again)
 * below destination (null or empty: the current directory), as the unzip option string
 * says. *handle may change when a multi-volume set moves to another volume. Problems with
 * single members are notices to the status callback (wrong password -24, unknown method -3,
 * CRC mismatch -25, access denied 105, an output path longer than 259 characters -18,
 * unsafe name components dropped 103). Result: 0; QV_W_SKIPPED when members were skipped;
 * QV_E_NOTHING when none was selected; or the first error. The path filters are emptied. */
QV_API ResultCode QV_CALL Qv4UnZip(ArchiveHandle* handle, const char* destination,
                                   const char* specs, const char* exclusions, const char* options);
/* Opens the archive read-only, Qv4UnZip without exclusions, and closes it. */
QV_API ResultCode QV_CALL Qv4QUnZip(const char* archiveName, const char* destination,
                                    const char* specs, const char* options);
/* Decodes the first member named `name` (wildcards allowed) into destination: `count` bytes
 * (negative: all) of its uncompressed data from `offset`, and never more than its size less
 * the offset. Stored, deflated and imploded members (shrunk ones give QV_E_METHOD), TAR and
 * GZIP members too. No CRC is checked. QV_E_NOTHING when no member matches,
 * QV_E_PASSWORD_MISMATCH for a wrong or missing password (after a -24 notice). */
QV_API ResultCode QV_CALL Qv4UnZipPtr(ArchiveHandle handle, void* destination, uint32_t offset,
                                      int32_t count, const char* name, const char* options);
/* Checks password against the 12-byte encryption header at the archive's position for the
 * member of record: 0 (unencrypted members pass without a read; an accepted password leaves
 * the file at the data, the keys ready for it, and record->compressedSize less 12),
 * QV_E_PASSWORD_MISMATCH (wrong, empty or null password), or QV_E_EOF (header cut short).
 * The VB32 form takes the aligned record and leaves it unchanged. */
QV_API ResultCode QV_CALL Qv4ZipCheckPassword(ArchiveHandle archive, DirectoryRecord* record,
                                              const char* password);
QV_API ResultCode QV_CALL Qv4ZipCheckPasswordVB32(ArchiveHandle archive, DirectoryRecordVB* record,
                                                  const char* password);

/* ---- Creation and editing -------------------------------------------------------------- */
/* (declared by the writer) */

/* ---- Codecs: CRC-32 and traditional encryption ----------------------------------------- */
/* CRC-32 register update (polynomial 0xEDB88320, as ZIP uses it): the register after `length`
 * bytes of `buffer`, starting from `crc`. The register is not complemented on entry or exit: the
 * CRC-32 of a stream is the complement of the register after starting at 0xFFFFFFFF and passing
 * every piece in order. */
QV_API uint32_t QV_CALL QvCrc32A(const void* buffer, uint32_t length, uint32_t crc);
/* Traditional PKWARE encryption. One key state serves the whole process: QvInitKeys starts a
 * stream from the password's bytes (the low 16 bits of `length` count them; pass the text's
 * length without its terminator), and every QvEncryptData or QvDecryptData call continues it,
 * in place, from where the previous call stopped. Only one stream can be in progress at a time.
 */
QV_API void QV_CALL QvInitKeys(const void* password, uint32_t length);
QV_API void QV_CALL QvEncryptData(void* buffer, uint32_t length);
QV_API void QV_CALL QvDecryptData(void* buffer, uint32_t length);
/* Builds the plain 12-byte encryption header: ten bytes from a generator seeded with the system
 * clock's milliseconds, then bits 16-23 and 24-31 of `check` (the member's CRC-32). It touches
 * neither the keys nor the header's encryption, which the caller does with QvEncryptData. */
QV_API void QV_CALL QvInitHeader(void* header, uint32_t check);

/* ---- Codecs: inflate --------------------------------------------------------------------- */
/* Resumable decoder of raw deflate data (RFC 1951). The caller allocates QvInflateUCBufSize()
 * bytes of state (any alignment) and calls QvInflateUCInit once per stream. Each QvInflateUC
 * call reads from input + inputOffset (*inputCount bytes available; on return the bytes taken)
 * and writes to output + outputOffset (*outputCount bytes of space; on return the bytes
 * written). finalInput (low 16 bits) is nonzero when the bytes given end the stream. Result 0:
 * call again, with the input not yet taken once the output area is full, or with more input
 * once all was taken. Result -1: the stream has ended (last block delivered, or bad data). */
#define QV_INFLATE_STATE_SIZE 39028u
QV_API uint32_t QV_CALL QvInflateUCBufSize(void);
QV_API void QV_CALL QvInflateUCInit(void* state);
QV_API int32_t QV_CALL QvInflateUC(const uint8_t* input, uint32_t inputOffset, uint32_t* inputCount,
                                   uint8_t* output, uint32_t outputOffset, uint32_t* outputCount,
                                   void* state, uint32_t finalInput);

/* ---- Codecs: deflate --------------------------------------------------------------------- */
/* A resumable raw deflate compressor (RFC 1951, no zlib or gzip wrapper) that allocates
 * nothing: the caller provides three blocks of the sizes QvDeflateBufSize reports (state,
 * links, items) and keeps them at fixed addresses for the whole stream. */
QV_API void QV_CALL QvDeflateBufSize(uint32_t* stateSize, uint32_t* linkSize, uint32_t* itemSize);
/* Starts a stream in the state block (links and items are not used); required before the first
 * QvDeflate of every stream. */
QV_API void QV_CALL QvDeflateInit(void* state, void* links, void* items);
/* Compresses *inCount bytes at inBase + inOffset (fewer than 65536) into at most *outCount
 * bytes (at least 1) at outBase + outOffset; on return the counts hold the bytes consumed and
 * written. chainLimit (16 bits) sets the search effort: 0-7 act as 10, above 2048 as 2048.
 * dynamicTrees (16 bits) nonzero codes every block with its own Huffman codes, zero with the
 * fixed codes. finish (16 bits) nonzero says no input follows this call's.
 * Result: 0 call again (more input or more output space needed), -1 the stream is complete
 * (the output ends on a byte boundary). */
QV_API int32_t QV_CALL QvDeflate(uint32_t chainLimit, uint32_t dynamicTrees, const uint8_t* inBase,
                                 uint32_t inOffset, uint32_t* inCount, uint8_t* outBase,
                                 uint32_t outOffset, uint32_t* outCount, uint32_t finish,
                                 void* state, void* links, void* items);

/* ---- Utilities: DOS date and time -------------------------------------------------------- */
/* DOS time: bits 15-11 hour, 10-5 minute, 4-0 seconds / 2. DOS date: bits 15-9 year - 1980,
 * 8-5 month, 4-0 day; date 0 stands for a time before 1980 and reads back as 1 January 1980.
 * DOS values are local time. 16-bit arguments travel in the low half of a 32-bit slot; the
 * field conversions check nothing (an out-of-range field spills into its neighbour). */
QV_API void QV_CALL Qv4ExpandDosTime(uint32_t time, uint16_t* hour, uint16_t* minute, uint16_t* second);
QV_API void QV_CALL Qv4ExpandDosDate(uint32_t date, uint16_t* month, uint16_t* day, uint16_t* year);
QV_API void QV_CALL Qv4CompressDosTime(int32_t hour, int32_t minute, int32_t second, uint16_t* time);
/* Years 0-79 mean 2000-2079, 80-99 mean 1980-1999. */
QV_API void QV_CALL Qv4CompressDosDate(int32_t month, int32_t day, int32_t year, uint16_t* date);
/* A file's last-write time as DOS values (name in the OEM code page): 0, or QV_E_FILE. A time
 * after 2107 reads as date 0, time 0. */
QV_API ResultCode QV_CALL Qv4DosGetFileTime(const char* name, uint16_t* date, uint16_t* time);
QV_API ResultCode QV_CALL Qv4DosSetFileTime(const char* name, uint32_t date, uint32_t time);

/* ---- Utilities: line endings and UUencode ------------------------------------------------ */
/* Copy a text file into a new file, converting line endings (names in the OEM code page).
 * Qv4LfToCrLf turns every LF into CR LF and, when endMark is nonzero, appends one Ctrl-Z;
 * Qv4CrLfToLf turns CR LF and a lone CR into LF and stops at the first Ctrl-Z. The destination
 * is replaced, and deleted again after any failure. */
QV_API ResultCode QV_CALL Qv4LfToCrLf(const char* source, const char* destination, int32_t endMark);
QV_API ResultCode QV_CALL Qv4CrLfToLf(const char* source, const char* destination);
/* UUencode a file (ANSI names) into "output" (default: the source's name with ".uue"), or,
 * when splitSize is set and the text would not fit, into the parts "base.1", "base.2", ...
 * each smaller than the split size. splitSize: 0 or less no limit, 1-2047 kilobytes, 2048 and
 * up bytes. separators nonzero frames the text with cut-here lines. *partCount receives the
 * number of files written. */
QV_API ResultCode QV_CALL Qv4UUEncode(const char* source, const char* output, int32_t splitSize,
                                      int32_t separators, uint16_t* partCount);
/* UUdecode a file, or a series when the source ends in ".1", into outputDirectory (default:
 * the source's directory) under the file name the text records (its directory dropped). */
QV_API ResultCode QV_CALL Qv4UUDecode(const char* source, const char* outputDirectory);

#ifdef __cplusplus
static_assert(sizeof(StatusBlock) == 548, "StatusBlock is 548 bytes");
static_assert(__builtin_offsetof(StatusBlock, operation) == 520, "StatusBlock layout");
static_assert(__builtin_offsetof(StatusBlock, totalSize) == 522, "StatusBlock layout");
static_assert(__builtin_offsetof(StatusBlock, processedSize) == 526, "StatusBlock layout");
static_assert(__builtin_offsetof(StatusBlock, packedSize) == 530, "StatusBlock layout");
static_assert(__builtin_offsetof(StatusBlock, method) == 534, "StatusBlock layout");
static_assert(__builtin_offsetof(StatusBlock, reserved1) == 536, "StatusBlock layout");
static_assert(__builtin_offsetof(StatusBlock, reserved2) == 538, "StatusBlock layout");
static_assert(__builtin_offsetof(StatusBlock, kind) == 542, "StatusBlock layout");
static_assert(__builtin_offsetof(StatusBlock, code) == 544, "StatusBlock layout");
static_assert(__builtin_offsetof(StatusBlock, disk) == 546, "StatusBlock layout");
static_assert(sizeof(DirectoryRecord) == 46, "DirectoryRecord is 46 bytes");
static_assert(__builtin_offsetof(DirectoryRecord, versionMadeBy) == 4, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, versionNeeded) == 6, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, flags) == 8, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, method) == 10, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, time) == 12, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, date) == 14, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, crc32) == 16, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, compressedSize) == 20, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, uncompressedSize) == 24, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, nameLength) == 28, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, extraLength) == 30, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, commentLength) == 32, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, diskStart) == 34, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, internalAttributes) == 36, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, externalAttributes) == 38, "DirectoryRecord layout");
static_assert(__builtin_offsetof(DirectoryRecord, localHeaderOffset) == 42, "DirectoryRecord layout");
static_assert(sizeof(DirectoryRecordVB) == 46, "DirectoryRecordVB is 46 bytes");
static_assert(__builtin_offsetof(DirectoryRecordVB, crc32) == 4, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, compressedSize) == 8, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, uncompressedSize) == 12, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, externalAttributes) == 16, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, localHeaderOffset) == 20, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, versionMadeBy) == 24, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, versionNeeded) == 26, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, flags) == 28, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, method) == 30, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, time) == 32, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, date) == 34, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, nameLength) == 36, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, extraLength) == 38, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, commentLength) == 40, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, diskStart) == 42, "DirectoryRecordVB layout");
static_assert(__builtin_offsetof(DirectoryRecordVB, internalAttributes) == 44, "DirectoryRecordVB layout");
#else
_Static_assert(sizeof(StatusBlock) == 548, "StatusBlock is 548 bytes");
_Static_assert(sizeof(DirectoryRecord) == 46, "DirectoryRecord is 46 bytes");
_Static_assert(sizeof(DirectoryRecordVB) == 46, "DirectoryRecordVB is 46 bytes");
#endif

#endif /* QVARC32_H */
