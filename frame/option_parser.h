// option_parser.h - the option strings of the archiving and extracting calls.
//
// Qv4Zip and Qv4UnZip (and the calls built on them) take their switches as one short text in
// the manner of a command line ("-r -p -ex", "/o /d"). Before any file is touched the text is
// parsed into a ZipOptionSet or an UnzipOptionSet. Two grammars exist; the library-wide
// ParseType (Qv4SetParseType) picks one at every parse:
//
//   ParseType 0  every option needs its own switch character ("-" or "/"); letters in either
//                case; passwords are delimited by the character after "s" ("-s'secret'").
//   ParseType 1  only the first option needs a switch, so "-rp" means "-r -p"; some letters
//                differ by case ("-P" full paths, "-p" relative paths, "-t"/"-T" dates);
//                passwords are quoted ("-s\"two words\"") or bare ("-ssecret").
//
// A failed parse returns -9 (malformed), -18 (text of 128 characters or more), -20 (option
// repeated or in conflict), -22 (bad date) or -26 (delete, freshen or update on a
// multi-volume set) and records in Status().parsePlace, read by hosts through
// Qv4GetParsePlace, how many characters of the text (leading blanks included) lay before
// the parse cursor when the error was found; a successful parse leaves 65535 there. The
// cursor stands behind the option letter and behind every further character it has read,
// never beyond the end of the text: a text that is too long is reported at 0 (nothing of it
// is parsed), an unknown letter behind the letter, a bad level or date letter behind that
// letter, a missing switch character at the offending character, an unterminated or empty
// password just behind its opening delimiter, and a bad date at its first character. Flags
// set before the error stay set. On systems without drive letters "-$" without a letter
// leaves the placeholder "x:\" in labelDrive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "result.h"

namespace qv {

// ---- Archiving options -----------------------------------------------------------------
inline constexpr uint32_t ZIPOPT_DELETE = 0x00000001;             // -d
inline constexpr uint32_t ZIPOPT_MASK_HIDDEN = 0x00000002;        // -j H: hidden not stored
inline constexpr uint32_t ZIPOPT_MASK_SYSTEM = 0x00000004;        // -j S: system not stored
inline constexpr uint32_t ZIPOPT_MASK_READONLY = 0x00000008;      // -j R: read-only not stored
inline constexpr uint32_t ZIPOPT_MASK_NORMAL = 0x00000010;        // -j N: "normal" not stored
inline constexpr uint32_t ZIPOPT_KEEP_DATE = 0x00000020;          // -k
inline constexpr uint32_t ZIPOPT_RECURSE = 0x00000040;            // -r
inline constexpr uint32_t ZIPOPT_MOVE = 0x00000080;               // -m
inline constexpr uint32_t ZIPOPT_FRESHEN = 0x00000100;            // -f
inline constexpr uint32_t ZIPOPT_UPDATE = 0x00000200;             // -u
inline constexpr uint32_t ZIPOPT_PASSWORD = 0x00000400;           // -s
inline constexpr uint32_t ZIPOPT_VOLUME_LABEL = 0x00000800;       // -$
inline constexpr uint32_t ZIPOPT_FULL_DIRS = 0x00001000;          // -n (type 0), -P (type 1)
inline constexpr uint32_t ZIPOPT_RELATIVE_DIRS = 0x00002000;      // -p
inline constexpr uint32_t ZIPOPT_HIDDEN = 0x00004000;             // -w H
inline constexpr uint32_t ZIPOPT_SYSTEM = 0x00008000;             // -w S
inline constexpr uint32_t ZIPOPT_LATEST_DATE = 0x00010000;        // -o
inline constexpr uint32_t ZIPOPT_CLEAR_ARCHIVE_BIT = 0x00020000;  // -a+, -i
inline constexpr uint32_t ZIPOPT_ARCHIVE_BIT_ONLY = 0x00040000;   // -i, -i-
inline constexpr uint32_t ZIPOPT_AFTER_DATE = 0x00080000;         // -tA (type 0), -t (type 1)
inline constexpr uint32_t ZIPOPT_BEFORE_DATE = 0x00100000;        // -tB (type 0), -T (type 1)
inline constexpr uint32_t ZIPOPT_MULTI_VOLUME = 0x00200000;       // preset by the caller
inline constexpr uint32_t ZIPOPT_DRIVE = 0x00400000;              // -.D
inline constexpr uint32_t ZIPOPT_VERSION_INFO = 0x00800000;       // -.V
inline constexpr uint32_t ZIPOPT_SHORT_NAMES = 0x01000000;        // set by the caller
inline constexpr uint32_t ZIPOPT_LONG_NAMES = 0x02000000;         // -.L
inline constexpr uint32_t ZIPOPT_LONG_NAMES_AS_IS = 0x04000000;   // -.LR

// The four attribute mask bits, shared by both option sets.
inline constexpr uint32_t kAttributeMaskBits = 0x0000001E;

struct ZipOptionSet {
    uint32_t flags = 0;    // preset by the caller (ZIPOPT_MULTI_VOLUME); the parser adds to it
    int16_t level = 3;     // 0 stored, 1-4 deflate (super fast .. maximum), 5-9 reserved
    std::string password;  // at most 127 characters
    std::string labelDrive = "x:\\";  // root whose volume label "-$" stores
    uint32_t afterDate = 0;           // DOS date, in force with ZIPOPT_AFTER_DATE
    uint32_t beforeDate = 0;          // DOS date, in force with ZIPOPT_BEFORE_DATE
};

// ---- Extracting options ----------------------------------------------------------------
inline constexpr uint32_t UNZIPOPT_DIRS = 0x00000001;           // -d
inline constexpr uint32_t UNZIPOPT_MASK_HIDDEN = 0x00000002;    // -j H (type 0), -J H clears
inline constexpr uint32_t UNZIPOPT_MASK_SYSTEM = 0x00000004;    // -j S (type 0), -J S clears
inline constexpr uint32_t UNZIPOPT_MASK_READONLY = 0x00000008;  // -j R (type 0), -J R clears
inline constexpr uint32_t UNZIPOPT_MASK_NORMAL = 0x00000010;    // -j N (type 0), -J N clears
inline constexpr uint32_t UNZIPOPT_OVERWRITE = 0x00000020;      // -o
inline constexpr uint32_t UNZIPOPT_NO_OVERWRITE = 0x00000040;   // -o-
inline constexpr uint32_t UNZIPOPT_TEST = 0x00000080;           // -t
inline constexpr uint32_t UNZIPOPT_FRESHEN = 0x00000100;        // -f
inline constexpr uint32_t UNZIPOPT_NEWER = 0x00000200;          // -n
inline constexpr uint32_t UNZIPOPT_PASSWORD = 0x00000400;       // -s (type 1: quoted form)
inline constexpr uint32_t UNZIPOPT_VOLUME_LABEL = 0x00000800;   // -$
inline constexpr uint32_t UNZIPOPT_R_PLUS = 0x00200000;         // -r+
inline constexpr uint32_t UNZIPOPT_DOT_D = 0x00400000;          // -.D
inline constexpr uint32_t UNZIPOPT_DOT_VE = 0x00800000;         // -.VE
inline constexpr uint32_t UNZIPOPT_DOT_V = 0x01000000;          // -.V
inline constexpr uint32_t UNZIPOPT_DOT_L = 0x02000000;          // -.L
inline constexpr uint32_t UNZIPOPT_R_MINUS = 0x04000000;        // -r-
inline constexpr uint32_t UNZIPOPT_DOT_O = 0x08000000;          // -.O

struct UnzipOptionSet {
    uint32_t flags = 0;    // preset by the caller, normally 0
    std::string password;  // at most 127 characters
};

// Option texts must be shorter than this.
inline constexpr size_t kMaxOptionText = 128;
// The parse place after a parse that succeeded.
inline constexpr uint16_t kParsePlaceNone = 0xFFFF;

// Parses text (may be null) with the current ParseType. Resets level to 3, the password to
// empty and labelDrive to "x:\" first; the dates are left as the caller set them.
Result ParseOptionsZip(const char* text, ZipOptionSet* options);

// Parses text (may be null) with the current ParseType. Resets the password first; under
// ParseType 1 the four attribute mask bits start set and "-J" clears them.
Result ParseOptionsUnzip(const char* text, UnzipOptionSet* options);

// Reads an option date at text[*cursor] into *dosDate and moves *cursor behind it; on
// failure (-22) *cursor is left where it was. With no digit there the date is today's and
// the cursor stays. Six or eight digits are the compact form (MMDDYY, DDMMYYYY, YYMMDD...);
// anything else is three numbers with one separator character after each of the first two.
// The field order is the system's short-date order (os::DateOrder). Two-digit years below 80
// are 20xx, 80 to 99 are 19xx; a year before 1980 gives the date 0.
Result ParseOptionDate(std::string_view text, size_t* cursor, uint16_t* dosDate);

}  // namespace qv
