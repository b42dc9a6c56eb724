// option_parser.cpp - the two option grammars and the option date syntax.
#include "option_parser.h"

#include <array>
#include <cstring>

#include "os.h"
#include "qvarc32.h"
#include "status_reporting.h"

namespace qv {
namespace {

// Blanks are skipped between options: every character whose code, read as a signed byte, is
// 32 or less, so bytes 0x80 to 0xFF count as blanks too.
bool IsBlank(char c) {
    return static_cast<signed char>(c) <= 32;
}
bool IsSwitch(char c) {
    return c == '-' || c == '/';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The parser's private copy of the option text and its cursor. The copy may be written to
// (ParseType 1 turns "-rp" into "--p" while reading); the caller's text never is.
class OptionCursor {
public:
    OptionCursor(const char* text, size_t length) : length_(length) {
        std::memcpy(buffer_.data(), text, length);
        buffer_[length] = '\0';
    }

    bool AtEnd() const { return pos_ >= length_; }
    // The character at the cursor, '\0' at the end.
    char Peek() const { return AtEnd() ? '\0' : buffer_[pos_]; }
    // Reads the character at the cursor and steps behind it; at the end the cursor stays.
    char Take() { return AtEnd() ? '\0' : buffer_[pos_++]; }
    void SkipBlanks() {
        while (!AtEnd() && IsBlank(buffer_[pos_])) ++pos_;
    }
    // ParseType 1: lets the character before the cursor stand for a switch, so that the
    // next character is read as an option letter.
    void InsertSwitch() { buffer_[--pos_] = '-'; }

    std::string_view Text() const { return {buffer_.data(), length_}; }
    size_t pos() const { return pos_; }
    void set_pos(size_t pos) { pos_ = pos; }

private:
    std::array<char, kMaxOptionText> buffer_;
    size_t length_;
    size_t pos_ = 0;
};

void SetParsePlace(size_t place) {
    Status().parsePlace = static_cast<uint16_t>(place);
}

bool AlternativeGrammar() {
    return Status().parseType != 0;
}

// The current drive's letter, or 0 on systems without drive letters.
char CurrentDriveLetter() {
    const std::string dir = os::GetCurrentDirectory();
    if (dir.size() >= 2 && dir[1] == ':' && IsAsciiLetter(dir[0])) return dir[0];
    return 0;
}

// Attribute letters to mask bits (H hidden, S system, R read-only, N normal); 0 otherwise.
uint32_t AttributeBit(char c) {
    switch (Upper(c)) {
        case 'H':
            return 0x02;
        case 'S':
            return 0x04;
        case 'R':
            return 0x08;
        case 'N':
            return 0x10;
        default:
            return 0;
    }
}

// ParseType 0 attribute word after "j": the characters up to the next space or the end, each
// one of H, N, R, S in either case.
Result ReadAttributeWord(OptionCursor& c, uint32_t* flags) {
    if (c.AtEnd() || c.Peek() == ' ') return QV_E_OPTIONS;
    while (!c.AtEnd() && c.Peek() != ' ') {
        const uint32_t bit = AttributeBit(c.Take());
        if (bit == 0) return QV_E_OPTIONS;
        *flags |= bit;
    }
    return QV_OK;
}

// ParseType 1 attribute letters: H, N, R, S in either case, up to the first other character.
uint32_t ReadAttributeLetters(OptionCursor& c) {
    uint32_t bits = 0;
    while (uint32_t bit = AttributeBit(c.Peek())) {
        c.Take();
        bits |= bit;
    }
    return bits;
}

// A password delimited by the character right after "s" (in ParseType 1 a double quote).
// The cursor stays just behind the opening delimiter when the password is empty or has no
// closing delimiter.
Result ReadDelimitedPassword(OptionCursor& c, std::string* password) {
    if (c.AtEnd()) return QV_E_OPTIONS;
    const char delimiter = c.Take();
    const std::string_view text = c.Text();
    const size_t start = c.pos();
    const size_t end = text.find(delimiter, start);
    if (end == std::string_view::npos || end == start) return QV_E_OPTIONS;
    password->assign(text.substr(start, end - start));
    c.set_pos(end + 1);
    return QV_OK;
}

// ParseType 1 password: quoted (sets *quoted) or bare. A bare password is the run of
// characters whose signed code is 33 or more and may be empty.
Result ReadAlternativePassword(OptionCursor& c, std::string* password, bool* quoted) {
    *quoted = false;
    if (c.AtEnd()) return QV_E_OPTIONS;
    if (c.Peek() == '"') {
        QV_TRY(ReadDelimitedPassword(c, password));
        *quoted = true;
        return QV_OK;
    }
    password->clear();
    while (!c.AtEnd() && !IsBlank(c.Peek())) *password += c.Take();
    return QV_OK;
}

Result ReadDate(OptionCursor& c, uint32_t* date) {
    size_t pos = c.pos();
    uint16_t dosDate = 0;
    QV_TRY(ParseOptionDate(c.Text(), &pos, &dosDate));
    c.set_pos(pos);
    *date = dosDate;
    return QV_OK;
}

// The common frame of all four grammars: options separated by blanks, each a switch
// character and a letter handed to option(). Stops at the end, at the first error, or (with
// no error) at a character that cannot start an option, which the caller reports as text
// left over.
template <typename OptionFn>
Result ReadOptions(OptionCursor& c, bool alternative, OptionFn&& option) {
    c.SkipBlanks();
    bool first = true;
    while (!c.AtEnd()) {
        if (!IsSwitch(c.Peek())) {
            if (!alternative || first) return QV_OK;
            c.InsertSwitch();
        }
        c.Take();  // the switch
        QV_TRY(option(c.Take()));
        c.SkipBlanks();
        first = false;
    }
    return QV_OK;
}

// ---- Archiving -------------------------------------------------------------------------

// Refusals shared by "d", "f" and "u": the excluding flags give -20, a multi-volume set -26.
Result CheckAction(uint32_t flags, uint32_t excluding) {
    if (flags & excluding) return QV_E_CONFLICT;
    if (flags & ZIPOPT_MULTI_VOLUME) return QV_E_UNCHANGEABLE;
    return QV_OK;
}

// Compression levels by their letter after "-e" (either case).
struct LevelLetter {
    char letter;
    int16_t level;
};
constexpr LevelLetter kDefaultLevels[] = {{'T', 0}, {'C', 5}, {'I', 6},
                                          {'H', 7}, {'M', 8}, {'S', 9}};
constexpr LevelLetter kAlternativeLevels[] = {{'0', 0}, {'S', 1}, {'F', 2}, {'N', 3}, {'X', 4}};
// ParseType 1 names the reserved levels with a "T" before the letter.
constexpr LevelLetter kAlternativeReservedLevels[] = {
    {'C', 5}, {'I', 6}, {'H', 7}, {'M', 8}, {'S', 9}};

template <size_t N>
Result LevelOf(const LevelLetter (&table)[N], char letter, int16_t* level) {
    for (const LevelLetter& l : table) {
        if (l.letter == Upper(letter)) {
            *level = l.level;
            return QV_OK;
        }
    }
    return QV_E_OPTIONS;
}

Result ZipLevel(OptionCursor& c, bool alternative, int16_t* level) {
    const char letter = Upper(c.Take());
    if (alternative) {
        if (letter == 'T') return LevelOf(kAlternativeReservedLevels, c.Take(), level);
        return LevelOf(kAlternativeLevels, letter, level);
    }
    if (letter == 'D') {
        // "-ed0" to "-ed3" are levels 1 to 4; "-ed" alone is the normal level and leaves
        // the next character unread.
        *level = 3;
        if (c.Peek() >= '0' && c.Peek() <= '3') *level = static_cast<int16_t>(c.Take() - '0' + 1);
        return QV_OK;
    }
    return LevelOf(kDefaultLevels, letter, level);
}

Result ZipOption(OptionCursor& c, bool alternative, char letter, ZipOptionSet& o) {
    uint32_t& flags = o.flags;
    // Letters whose meaning depends on their case in the alternative grammar.
    if (alternative) {
        switch (letter) {
            case 'j': {
                flags |= ReadAttributeLetters(c);
                return flags & kAttributeMaskBits ? QV_OK : QV_E_OPTIONS;
            }
            case 'w':
                for (char h = Upper(c.Peek()); h == 'H' || h == 'S'; h = Upper(c.Peek())) {
                    c.Take();
                    flags |= h == 'H' ? ZIPOPT_HIDDEN : ZIPOPT_SYSTEM;
                }
                return flags & (ZIPOPT_HIDDEN | ZIPOPT_SYSTEM) ? QV_OK : QV_E_OPTIONS;
            case 'P':
                flags |= ZIPOPT_FULL_DIRS;
                return QV_OK;
            case 'p':
                flags |= ZIPOPT_RELATIVE_DIRS;
                return QV_OK;
            case 't':
                QV_TRY(ReadDate(c, &o.afterDate));
                flags |= ZIPOPT_AFTER_DATE;
                return QV_OK;
            case 'T':
                QV_TRY(ReadDate(c, &o.beforeDate));
                flags |= ZIPOPT_BEFORE_DATE;
                return QV_OK;
            case 'J':
            case 'W':
            case 'n':
            case 'N':
                return QV_E_OPTIONS;
            default:
                break;
        }
    }
    switch (Upper(letter)) {
        case '$':
            if (flags & ZIPOPT_VOLUME_LABEL) return QV_E_CONFLICT;
            flags |= ZIPOPT_VOLUME_LABEL;
            if (IsAsciiLetter(c.Peek())) {
                o.labelDrive[0] = c.Take();
            } else if (const char drive = CurrentDriveLetter()) {
                o.labelDrive[0] = drive;
            }
            return QV_OK;
        case '.':
            switch (Upper(c.Take())) {
                case 'C':
                    return QV_OK;
                case 'D':
                    flags |= ZIPOPT_DRIVE;
                    return QV_OK;
                case 'L':
                    flags |= ZIPOPT_LONG_NAMES;
                    if (Upper(c.Peek()) == 'R') {
                        c.Take();
                        flags |= ZIPOPT_LONG_NAMES_AS_IS;
                    }
                    return QV_OK;
                case 'V':
                    flags |= ZIPOPT_VERSION_INFO;
                    return QV_OK;
                default:
                    return QV_E_OPTIONS;
            }
        case 'A':
            if (c.Peek() == '+') {
                c.Take();
                if (flags & ZIPOPT_MOVE) return QV_E_CONFLICT;
                flags |= ZIPOPT_CLEAR_ARCHIVE_BIT;
            }
            return QV_OK;
        case 'D':
            QV_TRY(CheckAction(flags, ZIPOPT_FRESHEN | ZIPOPT_UPDATE));
            flags |= ZIPOPT_DELETE;
            return QV_OK;
        case 'E':
            return ZipLevel(c, alternative, &o.level);
        case 'F':
            QV_TRY(CheckAction(flags, ZIPOPT_UPDATE | ZIPOPT_DELETE));
            flags |= ZIPOPT_FRESHEN;
            return QV_OK;
        case 'I':
            flags |= ZIPOPT_ARCHIVE_BIT_ONLY;
            if (c.Peek() == '-') {
                c.Take();
                flags &= ~ZIPOPT_CLEAR_ARCHIVE_BIT;
            } else {
                flags |= ZIPOPT_CLEAR_ARCHIVE_BIT;
            }
            return QV_OK;
        case 'J':
            return ReadAttributeWord(c, &flags);
        case 'K':
            if (flags & ZIPOPT_LATEST_DATE) return QV_E_CONFLICT;
            flags |= ZIPOPT_KEEP_DATE;
            return QV_OK;
        case 'M':
            flags |= ZIPOPT_MOVE;
            return QV_OK;
        case 'N':
            flags |= ZIPOPT_FULL_DIRS;
            return QV_OK;
        case 'O':
            if (flags & ZIPOPT_KEEP_DATE) return QV_E_CONFLICT;
            flags |= ZIPOPT_LATEST_DATE;
            return QV_OK;
        case 'P':
            flags |= ZIPOPT_RELATIVE_DIRS;
            return QV_OK;
        case 'R':
            flags |= ZIPOPT_RECURSE;
            return QV_OK;
        case 'S': {
            if (flags & ZIPOPT_PASSWORD) return QV_E_CONFLICT;
            if (!alternative) {
                QV_TRY(ReadDelimitedPassword(c, &o.password));
                flags |= ZIPOPT_PASSWORD;
                return QV_OK;
            }
            bool quoted = false;
            QV_TRY(ReadAlternativePassword(c, &o.password, &quoted));
            if (quoted) flags |= ZIPOPT_PASSWORD;
            return QV_OK;
        }
        case 'T': {
            const char which = Upper(c.Take());
            if (which == 'A') {
                QV_TRY(ReadDate(c, &o.afterDate));
                flags |= ZIPOPT_AFTER_DATE;
                return QV_OK;
            }
            if (which == 'B') {
                QV_TRY(ReadDate(c, &o.beforeDate));
                flags |= ZIPOPT_BEFORE_DATE;
                return QV_OK;
            }
            return QV_E_OPTIONS;
        }
        case 'U':
            QV_TRY(CheckAction(flags, ZIPOPT_DELETE));
            flags |= ZIPOPT_UPDATE;
            flags &= ~ZIPOPT_FRESHEN;
            return QV_OK;
        case 'W':
            while (!c.AtEnd() && !IsBlank(c.Peek())) {
                const char h = Upper(c.Take());
                if (h == 'H') {
                    flags |= ZIPOPT_HIDDEN;
                } else if (h == 'S') {
                    flags |= ZIPOPT_SYSTEM;
                } else {
                    return QV_E_OPTIONS;
                }
            }
            return QV_OK;
        default:
            return QV_E_OPTIONS;
    }
}

// ---- Extracting ------------------------------------------------------------------------

Result UnzipOption(OptionCursor& c, bool alternative, char letter, UnzipOptionSet& o) {
    uint32_t& flags = o.flags;
    if (alternative) {
        switch (letter) {
            case 'J':
                flags &= ~ReadAttributeLetters(c);
                return (flags & kAttributeMaskBits) == kAttributeMaskBits ? QV_E_OPTIONS : QV_OK;
            case 'j':
            case 'T':
                return QV_E_OPTIONS;
            default:
                break;
        }
    }
    switch (Upper(letter)) {
        case '$':
            if (flags & UNZIPOPT_VOLUME_LABEL) return QV_E_CONFLICT;
            flags |= UNZIPOPT_VOLUME_LABEL;
            return QV_OK;
        case '.':
            switch (Upper(c.Take())) {
                case 'D':
                    flags |= UNZIPOPT_DOT_D;
                    return QV_OK;
                case 'L':
                    flags |= UNZIPOPT_DOT_L;
                    return QV_OK;
                case 'O':
                    flags |= UNZIPOPT_DOT_O;
                    return QV_OK;
                case 'V':
                    if (Upper(c.Peek()) == 'E') {
                        c.Take();
                        flags |= UNZIPOPT_DOT_VE;
                    } else {
                        flags |= UNZIPOPT_DOT_V;
                    }
                    return QV_OK;
                default:
                    return QV_E_OPTIONS;
            }
        case 'D':
            flags |= UNZIPOPT_DIRS;
            return QV_OK;
        case 'F':
            if (flags & UNZIPOPT_NEWER) return QV_E_CONFLICT;
            flags |= UNZIPOPT_FRESHEN;
            return QV_OK;
        case 'J':
            return ReadAttributeWord(c, &flags);
        case 'N':
            flags |= UNZIPOPT_NEWER;
            flags &= ~UNZIPOPT_FRESHEN;
            return QV_OK;
        case 'O':
            if (c.Peek() == '-') {
                c.Take();
                flags |= UNZIPOPT_NO_OVERWRITE;
                flags &= ~UNZIPOPT_OVERWRITE;
            } else {
                flags |= UNZIPOPT_OVERWRITE;
                flags &= ~UNZIPOPT_NO_OVERWRITE;
            }
            return QV_OK;
        case 'R':
            flags &= ~(UNZIPOPT_R_PLUS | UNZIPOPT_R_MINUS);
            if (c.Peek() == '+') {
                c.Take();
                flags |= UNZIPOPT_R_PLUS;
            } else if (c.Peek() == '-') {
                c.Take();
                flags |= UNZIPOPT_R_MINUS;
            }
            return QV_OK;
        case 'S': {
            if (flags & UNZIPOPT_PASSWORD) return QV_E_CONFLICT;
            bool quoted = true;
            if (alternative) {
                QV_TRY(ReadAlternativePassword(c, &o.password, &quoted));
            } else {
                QV_TRY(ReadDelimitedPassword(c, &o.password));
            }
            if (quoted) flags |= UNZIPOPT_PASSWORD;
            return QV_OK;
        }
        case 'T':
            flags |= UNZIPOPT_TEST;
            return QV_OK;
        default:
            return QV_E_OPTIONS;
    }
}

// Length of an option text, or kMaxOptionText when it is that long or longer (never reads
// further than that).
size_t OptionLength(const char* text) {
    return strnlen(text, kMaxOptionText);
}

// Fields of an option date, each with the largest value the separated form reads.
enum class DateField { kMonth, kDay, kYear };

uint32_t FieldLimit(DateField f) {
    return f == DateField::kMonth ? 12 : f == DateField::kDay ? 31 : 2099;
}

}  // namespace

Result ParseOptionDate(std::string_view text, size_t* cursor, uint16_t* dosDate) {
    size_t pos = *cursor;
    size_t digits = 0;
    while (pos + digits < text.size() && IsDigit(text[pos + digits])) ++digits;
    if (digits == 0) {
        // No date given: today.
        os::SystemTime now{};
        os::GetLocalTime(&now);
        *dosDate = now.year >= 1980 && now.year <= 2107
                       ? static_cast<uint16_t>((now.year - 1980) * 512 + now.month * 32 + now.day)
                       : 0;
        return QV_OK;
    }

    // The system's short-date order: 0 month-day-year, 1 day-month-year, 2 year-month-day.
    static constexpr DateField kOrders[3][3] = {
        {DateField::kMonth, DateField::kDay, DateField::kYear},
        {DateField::kDay, DateField::kMonth, DateField::kYear},
        {DateField::kYear, DateField::kMonth, DateField::kDay}};
    const int dateOrder = os::DateOrder();
    if (dateOrder < 0 || dateOrder > 2) return QV_E_BAD_DATE;
    const DateField(&order)[3] = kOrders[dateOrder];

    uint32_t value[3] = {};  // indexed by DateField
    if (digits == 6 || digits == 8) {
        // Compact form: two digits a field, four for the year in the eight-digit form.
        for (DateField f : order) {
            const size_t width = f == DateField::kYear && digits == 8 ? 4 : 2;
            uint32_t v = 0;
            for (size_t i = 0; i < width; ++i)
                v = v * 10 + static_cast<uint32_t>(text[pos++] - '0');
            value[static_cast<int>(f)] = v;
        }
    } else {
        // Separated form: three numbers, each of the first two followed by one character of
        // any kind. A number is read while digits follow and it is not yet above its limit.
        for (int i = 0; i < 3; ++i) {
            const DateField f = order[i];
            uint32_t v = 0;
            size_t read = 0;
            while (pos < text.size() && IsDigit(text[pos]) && v <= FieldLimit(f)) {
                v = v * 10 + static_cast<uint32_t>(text[pos++] - '0');
                ++read;
            }
            // A field without digits is no date (a missing year would otherwise read as 2000).
            if (read == 0) return QV_E_BAD_DATE;
            value[static_cast<int>(f)] = v;
            if (i < 2 && pos < text.size()) ++pos;
        }
    }
    const uint32_t month = value[static_cast<int>(DateField::kMonth)];
    const uint32_t day = value[static_cast<int>(DateField::kDay)];
    uint32_t year = value[static_cast<int>(DateField::kYear)];
    // Both forms refuse fields out of range; in the compact form they would otherwise spill
    // into the neighbouring fields of the packed date.
    if (month < 1 || month > 12 || day < 1 || day > 31 || year > 2099) return QV_E_BAD_DATE;
    if (year < 80) {
        year += 2000;
    } else if (year < 100) {
        year += 1900;
    }
    // DOS date: bits 15-9 years since 1980, 8-5 month, 4-0 day. Dates before 1980 are 0.
    *dosDate = year >= 1980 && year <= 2107
                   ? static_cast<uint16_t>((year - 1980) * 512 + month * 32 + day)
                   : 0;
    *cursor = pos;
    return QV_OK;
}

Result ParseOptionsZip(const char* text, ZipOptionSet* options) {
    options->level = 3;
    options->password.clear();
    options->labelDrive = "x:\\";
    SetParsePlace(kParsePlaceNone);
    if (!text || !*text) return QV_OK;
    const size_t length = OptionLength(text);
    if (length >= kMaxOptionText) {
        SetParsePlace(0);
        return QV_E_TOO_LONG;
    }
    OptionCursor c(text, length);
    const bool alternative = AlternativeGrammar();
    const Result result = ReadOptions(
        c, alternative, [&](char letter) { return ZipOption(c, alternative, letter, *options); });
    // Moving the files away leaves no archive bit to clear.
    if (options->flags & ZIPOPT_MOVE) options->flags &= ~ZIPOPT_CLEAR_ARCHIVE_BIT;
    if (!result.ok() || !c.AtEnd()) {
        SetParsePlace(c.pos());
        return result.ok() ? Result(QV_E_OPTIONS) : result;
    }
    // Relative paths only mean something below a recursive search.
    if ((options->flags & ZIPOPT_RELATIVE_DIRS) && !(options->flags & ZIPOPT_RECURSE))
        options->flags &= ~ZIPOPT_RELATIVE_DIRS;
    return QV_OK;
}

Result ParseOptionsUnzip(const char* text, UnzipOptionSet* options) {
    options->password.clear();
    SetParsePlace(kParsePlaceNone);
    const bool alternative = AlternativeGrammar();
    if (alternative) options->flags |= kAttributeMaskBits;
    if (!text || !*text) return QV_OK;
    const size_t length = OptionLength(text);
    if (length >= kMaxOptionText) {
        SetParsePlace(0);
        return QV_E_TOO_LONG;
    }
    OptionCursor c(text, length);
    const Result result = ReadOptions(
        c, alternative, [&](char letter) { return UnzipOption(c, alternative, letter, *options); });
    if (!result.ok()) {
        SetParsePlace(c.pos());
        return result;
    }
    // Freshening and newer-only decide about existing files themselves.
    if (options->flags & (UNZIPOPT_FRESHEN | UNZIPOPT_NEWER))
        options->flags &= ~(UNZIPOPT_OVERWRITE | UNZIPOPT_NO_OVERWRITE);
    if (!c.AtEnd()) {
        SetParsePlace(c.pos());
        return QV_E_OPTIONS;
    }
    return QV_OK;
}

}  // namespace qv
