// Option strings of both grammars: flags, level, password, dates, results and parse places.
#include "option_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "os.h"
#include "qvarc32.h"
#include "status_reporting.h"

namespace {

using namespace qv;

constexpr uint16_t kNone = kParsePlaceNone;

// DOS dates used below: bits 15-9 years since 1980, 8-5 month, 4-0 day.
constexpr uint32_t Dos(unsigned year, unsigned month, unsigned day) {
    return (year - 1980) * 512 + month * 32 + day;
}

uint16_t Today() {
    os::SystemTime now{};
    os::GetLocalTime(&now);
    return static_cast<uint16_t>(Dos(now.year, now.month, now.day));
}

// Parse type and date order for one table; both are restored afterwards.
class OptionGrammar : public ::testing::Test {
protected:
    void TearDown() override {
        Qv4SetParseType(0);
        os::SetDateOrderOverride(-1);
    }
    static void Use(int parseType, int dateOrder) {
        Qv4SetParseType(parseType);
        os::SetDateOrderOverride(dateOrder);
    }
};

struct ZipCase {
    int parseType;
    const char* text;
    int result;
    uint32_t flags;
    uint16_t place = kNone;
    int level = 3;
    const char* password = "";
    uint32_t after = 0;
    uint32_t before = 0;
    int dateOrder = 0;
    uint32_t preset = 0;
    const char* labelDrive = "x:\\";
};

constexpr uint32_t kMv = ZIPOPT_MULTI_VOLUME;

const ZipCase kZipCases[] = {
    // Absent, empty and blank texts give the defaults.
    {0, nullptr, 0, 0},
    {0, "", 0, 0},
    {0, "  \t ", 0, 0},
    {1, "", 0, 0},
    // One switch per option; letters in either case.
    {0, "-r -p", 0, ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS},
    {0, "/R /P", 0, ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS},
    {0, "  -r\xA0-p", 0, ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS},  // 0xA0 counts as a blank
    {0, "-p", 0, 0},                                              // relative only with -r
    {0, "-rp", QV_E_OPTIONS, ZIPOPT_RECURSE, 2},
    {0, "-p x", QV_E_OPTIONS, ZIPOPT_RELATIVE_DIRS, 3},  // left over: no adjustment
    {0, "r", QV_E_OPTIONS, 0, 0},
    {0, "  x", QV_E_OPTIONS, 0, 2},
    {0, "-", QV_E_OPTIONS, 0, 1},
    {0, "-q", QV_E_OPTIONS, 0, 2},
    {0, "-r -q", QV_E_OPTIONS, ZIPOPT_RECURSE, 5},
    {0, "-n -N -m", 0, ZIPOPT_FULL_DIRS | ZIPOPT_MOVE},
    // Levels.
    {0, "-ed", 0, 0, kNone, 3},
    {0, "-ed0", 0, 0, kNone, 1},
    {0, "-eD3", 0, 0, kNone, 4},
    {0, "-et", 0, 0, kNone, 0},
    {0, "-ec", 0, 0, kNone, 5},
    {0, "-eI", 0, 0, kNone, 6},
    {0, "-eh", 0, 0, kNone, 7},
    {0, "-em", 0, 0, kNone, 8},
    {0, "-es", 0, 0, kNone, 9},
    {0, "-ed5", QV_E_OPTIONS, 0, 3},
    {0, "-ex", QV_E_OPTIONS, 0, 3},
    {0, "-e", QV_E_OPTIONS, 0, 2},
    {1, "-ex", 0, 0, kNone, 4},
    {1, "-etm", 0, 0, kNone, 8},
    {1, "-e0", 0, 0, kNone, 0},
    {1, "-eS", 0, 0, kNone, 1},
    {1, "-ef", 0, 0, kNone, 2},
    {1, "-en", 0, 0, kNone, 3},
    {1, "-eTC", 0, 0, kNone, 5},
    {1, "-eti", 0, 0, kNone, 6},
    {1, "-eth", 0, 0, kNone, 7},
    {1, "-ets", 0, 0, kNone, 9},
    {1, "-exr", 0, ZIPOPT_RECURSE, kNone, 4},
    {1, "-eT", QV_E_OPTIONS, 0, 3},
    {1, "-etq", QV_E_OPTIONS, 0, 4},
    {1, "-ed", QV_E_OPTIONS, 0, 3},
    // Update, freshen and delete exclude each other; a multi-volume set refuses all three.
    {0, "-f -u", 0, ZIPOPT_UPDATE},
    {0, "-u -f", QV_E_CONFLICT, ZIPOPT_UPDATE, 5},
    {0, "-d -f", QV_E_CONFLICT, ZIPOPT_DELETE, 5},
    {0, "-f -d", QV_E_CONFLICT, ZIPOPT_FRESHEN, 5},
    {0, "-d -u", QV_E_CONFLICT, ZIPOPT_DELETE, 5},
    {0, "-r -d", QV_E_UNCHANGEABLE, kMv | ZIPOPT_RECURSE, 5, 3, "", 0, 0, 0, kMv},
    {0, "-f", QV_E_UNCHANGEABLE, kMv, 2, 3, "", 0, 0, 0, kMv},
    {1, "-ru", QV_E_UNCHANGEABLE, kMv | ZIPOPT_RECURSE, 3, 3, "", 0, 0, 0, kMv},
    {0, "-r", 0, kMv | ZIPOPT_RECURSE, kNone, 3, "", 0, 0, 0, kMv},
    // Archive bits.
    {0, "-m -a+", QV_E_CONFLICT, ZIPOPT_MOVE, 6},
    {0, "-a+ -m", 0, ZIPOPT_MOVE},
    {0, "-a", 0, 0},
    {0, "-a+", 0, ZIPOPT_CLEAR_ARCHIVE_BIT},
    {0, "-i", 0, ZIPOPT_ARCHIVE_BIT_ONLY | ZIPOPT_CLEAR_ARCHIVE_BIT},
    {0, "-a+ -i-", 0, ZIPOPT_ARCHIVE_BIT_ONLY},
    {0, "-m -i", 0, ZIPOPT_MOVE | ZIPOPT_ARCHIVE_BIT_ONLY},
    {0, "-i -m -q", QV_E_OPTIONS, ZIPOPT_MOVE | ZIPOPT_ARCHIVE_BIT_ONLY, 8},  // cleared anyway
    // Archive dates.
    {0, "-k -o", QV_E_CONFLICT, ZIPOPT_KEEP_DATE, 5},
    {0, "-o -k", QV_E_CONFLICT, ZIPOPT_LATEST_DATE, 5},
    // Attribute words and hidden or system files.
    {0, "-jHSRN", 0, 0x1E},
    {0, "-jhs -r", 0, ZIPOPT_MASK_HIDDEN | ZIPOPT_MASK_SYSTEM | ZIPOPT_RECURSE},
    {0, "-j", QV_E_OPTIONS, 0, 2},
    {0, "-j -r", QV_E_OPTIONS, 0, 2},
    {0, "-jHx", QV_E_OPTIONS, ZIPOPT_MASK_HIDDEN, 4},
    {0, "-jH\t-r", QV_E_OPTIONS, ZIPOPT_MASK_HIDDEN, 4},  // only a space ends the word
    {0, "-w", 0, 0},
    {0, "-wHs", 0, ZIPOPT_HIDDEN | ZIPOPT_SYSTEM},
    {0, "-wHx", QV_E_OPTIONS, ZIPOPT_HIDDEN, 4},
    {1, "-jh", 0, ZIPOPT_MASK_HIDDEN},
    {1, "-jRnu", 0, ZIPOPT_MASK_READONLY | ZIPOPT_MASK_NORMAL | ZIPOPT_UPDATE},
    {1, "-jrsr", 0, ZIPOPT_MASK_READONLY | ZIPOPT_MASK_SYSTEM},  // "r" is read as a letter R
    {1, "-j", QV_E_OPTIONS, 0, 2},
    {1, "-J", QV_E_OPTIONS, 0, 2},
    {1, "-jhx", QV_E_OPTIONS, ZIPOPT_MASK_HIDDEN, 4},
    {1, "-ws", 0, ZIPOPT_SYSTEM},
    {1, "-w", QV_E_OPTIONS, 0, 2},
    {1, "-W", QV_E_OPTIONS, 0, 2},
    // Paths, drive, long names, version information.
    {1, "-P", 0, ZIPOPT_FULL_DIRS},
    {1, "-rp", 0, ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS},
    {1, "-r p", 0, ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS},
    {1, "/r/p", 0, ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS},
    {1, "-r -p", 0, ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS},
    {1, "-p", 0, 0},
    {1, "-n", QV_E_OPTIONS, 0, 2},
    {1, "-N", QV_E_OPTIONS, 0, 2},
    {1, "r", QV_E_OPTIONS, 0, 0},
    {1, "-rq", QV_E_OPTIONS, ZIPOPT_RECURSE, 3},
    {0, "-.d -.V -.lr", 0,
     ZIPOPT_DRIVE | ZIPOPT_VERSION_INFO | ZIPOPT_LONG_NAMES | ZIPOPT_LONG_NAMES_AS_IS},
    {0, "-.c -.L", 0, ZIPOPT_LONG_NAMES},
    {0, "-.x", QV_E_OPTIONS, 0, 3},
    {0, "-.", QV_E_OPTIONS, 0, 2},
    // Volume label.
    {0, "-$d", 0, ZIPOPT_VOLUME_LABEL, kNone, 3, "", 0, 0, 0, 0, "d:\\"},
    {0, "-$ -$", QV_E_CONFLICT, ZIPOPT_VOLUME_LABEL, 5},
    // Passwords.
    {0, "-s'secret'", 0, ZIPOPT_PASSWORD, kNone, 3, "secret"},
    {0, "-s|two words| -r", 0, ZIPOPT_PASSWORD | ZIPOPT_RECURSE, kNone, 3, "two words"},
    {0, "-s'abc", QV_E_OPTIONS, 0, 3},
    {0, "-r -s'abc", QV_E_OPTIONS, ZIPOPT_RECURSE, 6},
    {0, "-s''", QV_E_OPTIONS, 0, 3},
    {0, "-s", QV_E_OPTIONS, 0, 2},
    {0, "-s'a' -s'b'", QV_E_CONFLICT, ZIPOPT_PASSWORD, 8, 3, "a"},
    {1, "-s\"two words\"", 0, ZIPOPT_PASSWORD, kNone, 3, "two words"},
    {1, "-ssecret -r", 0, ZIPOPT_RECURSE, kNone, 3, "secret"},  // bare: no flag
    {1, "-s -r", 0, ZIPOPT_RECURSE},
    {1, "-s", QV_E_OPTIONS, 0, 2},
    {1, "-s\"abc", QV_E_OPTIONS, 0, 3},
    {1, "-sone -s\"two\"", 0, ZIPOPT_PASSWORD, kNone, 3, "two"},
    {1, "-s\"one\" -stwo", QV_E_CONFLICT, ZIPOPT_PASSWORD, 10, 3, "one"},
    // Dates, by the three date orders.
    {0, "-tA1/2/96", 0, ZIPOPT_AFTER_DATE, kNone, 3, "", Dos(1996, 1, 2)},
    {0, "-tA010296", 0, ZIPOPT_AFTER_DATE, kNone, 3, "", Dos(1996, 1, 2)},
    {0, "-tA01021996", 0, ZIPOPT_AFTER_DATE, kNone, 3, "", Dos(1996, 1, 2)},
    {0, "-tA1/2/1979", 0, ZIPOPT_AFTER_DATE, kNone, 3, "", 0},
    {0, "-ta1-2-79 -tb12.31.2099", 0, ZIPOPT_AFTER_DATE | ZIPOPT_BEFORE_DATE, kNone, 3, "",
     Dos(2079, 1, 2), Dos(2099, 12, 31)},
    {0, "-tA13/1/96", QV_E_BAD_DATE, 0, 3},
    {0, "-tA1/32/96", QV_E_BAD_DATE, 0, 3},
    {0, "-tA0/1/96", QV_E_BAD_DATE, 0, 3},
    {0, "-tA1/2/2100", QV_E_BAD_DATE, 0, 3},
    {0, "-tA1/2/", QV_E_BAD_DATE, 0, 3},
    {0, "-tA1", QV_E_BAD_DATE, 0, 3},
    {0, "-tA133196", QV_E_BAD_DATE, 0, 3},  // compact fields are range-checked too
    {0, "-tA1/2/96x", QV_E_OPTIONS, ZIPOPT_AFTER_DATE, 9, 3, "", Dos(1996, 1, 2)},
    {0, "-tC", QV_E_OPTIONS, 0, 3},
    {0, "-t", QV_E_OPTIONS, 0, 2},
    {0, "-tA25/12/95", 0, ZIPOPT_AFTER_DATE, kNone, 3, "", Dos(1995, 12, 25), 0, 1},
    {0, "-tA12/25/95", QV_E_BAD_DATE, 0, 3, 3, "", 0, 0, 1},
    {0, "-tB96/12/25", 0, ZIPOPT_BEFORE_DATE, kNone, 3, "", 0, Dos(1996, 12, 25), 2},
    {0, "-tB19961225", 0, ZIPOPT_BEFORE_DATE, kNone, 3, "", 0, Dos(1996, 12, 25), 2},
    {0, "-tB961225", 0, ZIPOPT_BEFORE_DATE, kNone, 3, "", 0, Dos(1996, 12, 25), 2},
    {0, "-tA1/2/96", QV_E_BAD_DATE, 0, 3, 3, "", 0, 0, 3},  // no such date order
    {1, "-t1/2/96 -T1/3/96", 0, ZIPOPT_AFTER_DATE | ZIPOPT_BEFORE_DATE, kNone, 3, "",
     Dos(1996, 1, 2), Dos(1996, 1, 3)},
};

TEST_F(OptionGrammar, ZipTable) {
    for (const ZipCase& c : kZipCases) {
        Use(c.parseType, c.dateOrder);
        ZipOptionSet o;
        o.flags = c.preset;
        o.level = 7;
        o.password = "stale";
        o.labelDrive = "q:\\";
        Status().parsePlace = 1234;
        const std::string name = std::string("type ") + std::to_string(c.parseType) + " \"" +
                                 (c.text ? c.text : "(null)") + "\"";
        EXPECT_EQ(ParseOptionsZip(c.text, &o).code, c.result) << name;
        EXPECT_EQ(o.flags, c.flags) << name;
        EXPECT_EQ(Status().parsePlace, c.place) << name;
        EXPECT_EQ(Qv4GetParsePlace(), c.place) << name;
        EXPECT_EQ(o.level, c.level) << name;
        EXPECT_EQ(o.password, c.password) << name;
        EXPECT_EQ(o.afterDate, c.after) << name;
        EXPECT_EQ(o.beforeDate, c.before) << name;
        EXPECT_EQ(o.labelDrive, c.labelDrive) << name;
    }
}

TEST_F(OptionGrammar, NoDigitsMeansToday) {
    for (int type : {0, 1}) {
        Use(type, 3);  // the date order is not read without digits
        ZipOptionSet o;
        ASSERT_EQ(ParseOptionsZip(type == 0 ? "-tA -tB" : "-t -T", &o).code, QV_OK);
        EXPECT_EQ(o.flags, ZIPOPT_AFTER_DATE | ZIPOPT_BEFORE_DATE);
        EXPECT_EQ(o.afterDate, Today());
        EXPECT_EQ(o.beforeDate, Today());
    }
}

TEST_F(OptionGrammar, DateCursorMovesOnlyOnSuccess) {
    Use(0, 0);
    struct {
        const char* text;
        int result;
        size_t cursor;
        uint16_t date;
    } cases[] = {
        {"x1/2/96", QV_OK, 0, Today()},
        {"1/2/96 rest", QV_OK, 6, static_cast<uint16_t>(Dos(1996, 1, 2))},
        {"010296rest", QV_OK, 6, static_cast<uint16_t>(Dos(1996, 1, 2))},
        {"12312107", QV_E_BAD_DATE, 0, 0},  // beyond the last year the options take
        {"123/1/96", QV_E_BAD_DATE, 0, 0},  // the month reads on past its limit
        {"1.2.3", QV_OK, 5, static_cast<uint16_t>(Dos(2003, 1, 2))},
        {"1/2/80", QV_OK, 6, static_cast<uint16_t>(Dos(1980, 1, 2))},
        {"1/2/99", QV_OK, 6, static_cast<uint16_t>(Dos(1999, 1, 2))},
    };
    for (const auto& c : cases) {
        size_t cursor = 0;
        uint16_t date = 0xFFFF;
        EXPECT_EQ(ParseOptionDate(c.text, &cursor, &date).code, c.result) << c.text;
        EXPECT_EQ(cursor, c.cursor) << c.text;
        if (c.result == QV_OK) {
            EXPECT_EQ(date, c.date) << c.text;
        }
    }
}

TEST_F(OptionGrammar, LengthLimit) {
    for (int type : {0, 1}) {
        Use(type, 0);
        // 127 characters: a password of 123 between its delimiters.
        const std::string password(123, 'p');
        const std::string longest = "-s\"" + password + "\"";
        ASSERT_EQ(longest.size(), 127u);
        ZipOptionSet o;
        EXPECT_EQ(ParseOptionsZip(longest.c_str(), &o).code, QV_OK);
        EXPECT_EQ(o.password, password);
        EXPECT_EQ(Qv4GetParsePlace(), kNone);

        const std::string tooLong = longest + " ";
        ZipOptionSet z;
        EXPECT_EQ(ParseOptionsZip(tooLong.c_str(), &z).code, QV_E_TOO_LONG);
        EXPECT_EQ(z.flags, 0u);
        EXPECT_EQ(z.password, "");
        EXPECT_EQ(Qv4GetParsePlace(), 0u);

        UnzipOptionSet u;
        const std::string unzipTooLong = "-t" + std::string(126, ' ');
        EXPECT_EQ(ParseOptionsUnzip(unzipTooLong.c_str(), &u).code, QV_E_TOO_LONG);
        EXPECT_EQ(u.flags & UNZIPOPT_TEST, 0u);
        EXPECT_EQ(Qv4GetParsePlace(), 0u);
        EXPECT_EQ(ParseOptionsUnzip(unzipTooLong.substr(1).c_str(), &u).code, QV_E_OPTIONS);
    }
}

TEST_F(OptionGrammar, CallersTextIsNeverChanged) {
    Use(1, 0);
    char text[] = "-rp -ex";
    ZipOptionSet o;
    ASSERT_EQ(ParseOptionsZip(text, &o).code, QV_OK);
    EXPECT_STREQ(text, "-rp -ex");
    EXPECT_EQ(o.flags, ZIPOPT_RECURSE | ZIPOPT_RELATIVE_DIRS);
}

struct UnzipCase {
    int parseType;
    const char* text;
    int result;
    uint32_t flags;
    uint16_t place = kNone;
    const char* password = "";
};

constexpr uint32_t kMasks = kAttributeMaskBits;

const UnzipCase kUnzipCases[] = {
    {0, nullptr, 0, 0},
    {0, "", 0, 0},
    {0, "-o", 0, UNZIPOPT_OVERWRITE},
    {0, "-o-", 0, UNZIPOPT_NO_OVERWRITE},
    {0, "-o -O-", 0, UNZIPOPT_NO_OVERWRITE},
    {0, "-o- -o", 0, UNZIPOPT_OVERWRITE},
    {0, "-f -o", 0, UNZIPOPT_FRESHEN},
    {0, "-o- -n", 0, UNZIPOPT_NEWER},
    {0, "-n -f", QV_E_CONFLICT, UNZIPOPT_NEWER, 5},
    {0, "-f -n", 0, UNZIPOPT_NEWER},
    {0, "-f -o x", QV_E_OPTIONS, UNZIPOPT_FRESHEN, 6},  // adjusted before the leftover check
    {0, "-f -o -x", QV_E_OPTIONS, UNZIPOPT_FRESHEN | UNZIPOPT_OVERWRITE, 8},
    {0, "-r+", 0, UNZIPOPT_R_PLUS},
    {0, "-r+ -r-", 0, UNZIPOPT_R_MINUS},
    {0, "-r- -r", 0, 0},
    {0, "-.d -.L -.o -.v", 0, UNZIPOPT_DOT_D | UNZIPOPT_DOT_L | UNZIPOPT_DOT_O | UNZIPOPT_DOT_V},
    {0, "-.vE", 0, UNZIPOPT_DOT_VE},
    {0, "-.c", QV_E_OPTIONS, 0, 3},
    {0, "-jhs", 0, UNZIPOPT_MASK_HIDDEN | UNZIPOPT_MASK_SYSTEM},
    {0, "-JNR", 0, UNZIPOPT_MASK_NORMAL | UNZIPOPT_MASK_READONLY},
    {0, "-j", QV_E_OPTIONS, 0, 2},
    {0, "-$ -d -T", 0, UNZIPOPT_VOLUME_LABEL | UNZIPOPT_DIRS | UNZIPOPT_TEST},
    {0, "-$ -$", QV_E_CONFLICT, UNZIPOPT_VOLUME_LABEL, 5},
    {0, "-s/pw/", 0, UNZIPOPT_PASSWORD, kNone, "pw"},
    {0, "-s/pw", QV_E_OPTIONS, 0, 3},
    {0, "-s/a/ -s/b/", QV_E_CONFLICT, UNZIPOPT_PASSWORD, 8, "a"},
    {0, "-dt", QV_E_OPTIONS, UNZIPOPT_DIRS, 2},
    {0, "-k", QV_E_OPTIONS, 0, 2},
    {1, nullptr, 0, kMasks},
    {1, "", 0, kMasks},
    {1, "-JH", 0, kMasks & ~UNZIPOPT_MASK_HIDDEN},
    {1, "-Jhsrn", 0, 0},
    {1, "-J", QV_E_OPTIONS, kMasks, 2},
    {1, "-j", QV_E_OPTIONS, kMasks, 2},
    {1, "-T", QV_E_OPTIONS, kMasks, 2},
    {1, "-otd", 0, kMasks | UNZIPOPT_OVERWRITE | UNZIPOPT_TEST | UNZIPOPT_DIRS},
    {1, "-sabc -t", 0, kMasks | UNZIPOPT_TEST, kNone, "abc"},  // bare: no flag
    {1, "-s\"a b\"", 0, kMasks | UNZIPOPT_PASSWORD, kNone, "a b"},
    {1, "-s", QV_E_OPTIONS, kMasks, 2},
    {1, "t", QV_E_OPTIONS, kMasks, 0},
};

TEST_F(OptionGrammar, UnzipTable) {
    for (const UnzipCase& c : kUnzipCases) {
        Use(c.parseType, 0);
        UnzipOptionSet o;
        o.password = "stale";
        Status().parsePlace = 1234;
        const std::string name = std::string("type ") + std::to_string(c.parseType) + " \"" +
                                 (c.text ? c.text : "(null)") + "\"";
        EXPECT_EQ(ParseOptionsUnzip(c.text, &o).code, c.result) << name;
        EXPECT_EQ(o.flags, c.flags) << name;
        EXPECT_EQ(Qv4GetParsePlace(), c.place) << name;
        EXPECT_EQ(o.password, c.password) << name;
    }
}

TEST_F(OptionGrammar, GrammarIsChosenAtEachParse) {
    ZipOptionSet o;
    Use(1, 0);
    EXPECT_EQ(ParseOptionsZip("-rp", &o).code, QV_OK);
    Use(0, 0);
    o.flags = 0;
    EXPECT_EQ(ParseOptionsZip("-rp", &o).code, QV_E_OPTIONS);
}

}  // namespace
