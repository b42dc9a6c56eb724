// DOS date and time: the field conversions, the file-time conversions other components use,
// and a file's last-write time read and set through the exports under chosen time zones.
#include "dos_time.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "os.h"
#include "qvarc32.h"
#include "test_support.h"

namespace {

using qvtest::ScratchDir;

// ---- Field conversions ------------------------------------------------------------------

struct TimeCase {
    int hour, minute, second;
    uint16_t packed;
};

TEST(DosFields, CompressTimePacksAndSpills) {
    // clang-format off
    const TimeCase cases[] = {
        {13, 45, 30, 0x6DAF},
        {13, 45, 31, 0x6DAF},  // an odd second rounds down
        {23, 59, 59, 0xBF7D},
        {0, 0, 0, 0x0000},
        {24, 0, 0, 0xC000},  // unchecked: hour 24 is kept as it is
        {0, 64, 0, 0x0800},  // minute 64 spills into the hour
        {-1, 0, 0, 0xF800},  // a negative field is not masked either
    };
    // clang-format on
    for (const auto& c : cases) {
        uint16_t packed = 0x1234;
        Qv4CompressDosTime(c.hour, c.minute, c.second, &packed);
        EXPECT_EQ(packed, c.packed) << c.hour << ":" << c.minute << ":" << c.second;
    }
}

TEST(DosFields, ExpandTimeGivesEvenSeconds) {
    uint16_t packed = 0;
    Qv4CompressDosTime(13, 45, 59, &packed);
    uint16_t h = 0, m = 0, s = 0;
    Qv4ExpandDosTime(packed, &h, &m, &s);
    EXPECT_EQ(h, 13);
    EXPECT_EQ(m, 45);
    EXPECT_EQ(s, 58);
    // Only the low half of the 32-bit slot is the value.
    Qv4ExpandDosTime(0xABCD0000u | 0x6DAF, &h, &m, &s);
    EXPECT_EQ(h, 13);
    EXPECT_EQ(m, 45);
    EXPECT_EQ(s, 30);
}

struct DateCase {
    int month, day, year;
    uint16_t packed;
};

TEST(DosFields, CompressDateHandlesTwoDigitYears) {
    // clang-format off
    const DateCase cases[] = {
        {12, 31, 96, 0x219F},
        {12, 31, 1996, 0x219F},
        {1, 1, 80, 0x0021},      // 80 is 1980
        {1, 1, 79, 0xC621},      // 79 is 2079
        {1, 1, 0, 0x2821},       // 0 is 2000
        {12, 31, 2107, 0xFF9F},  // the last DOS day
        {16, 1, 1980, 0x0201},   // month 16 spills into the year
        {1, 1, 1979, 0xFE21},    // a year before 1980 wraps
    };
    // clang-format on
    for (const auto& c : cases) {
        uint16_t packed = 0x1234;
        Qv4CompressDosDate(c.month, c.day, c.year, &packed);
        EXPECT_EQ(packed, c.packed) << c.month << "/" << c.day << "/" << c.year;
    }
}

TEST(DosFields, ExpandDate) {
    struct {
        uint32_t packed;
        uint16_t month, day, year;
    } const cases[] = {
        {0x0000, 0, 0, 1980},
        {0x219F, 12, 31, 1996},
        {0xFF9F, 12, 31, 2107},
        {0x0001219F, 12, 31, 1996},  // the high half of the slot is not part of the date
    };
    for (const auto& c : cases) {
        uint16_t m = 99, d = 99, y = 99;
        Qv4ExpandDosDate(c.packed, &m, &d, &y);
        EXPECT_EQ(m, c.month) << std::hex << c.packed;
        EXPECT_EQ(d, c.day) << std::hex << c.packed;
        EXPECT_EQ(y, c.year) << std::hex << c.packed;
    }
}

// ---- File-time conversions --------------------------------------------------------------

qv::os::FileTime Calendar(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi,
                          uint16_t s) {
    qv::os::SystemTime t{};
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    qv::os::FileTime ft = 0;
    EXPECT_TRUE(qv::os::SystemTimeToFileTime(t, &ft));
    return ft;
}

TEST(DosFileTime, ConvertsBothWays) {
    struct {
        qv::os::FileTime time;
        bool ok;
        uint16_t date, dosTime;
    } const cases[] = {
        {Calendar(1996, 12, 31, 13, 45, 30), true, 0x219F, 0x6DAF},
        {Calendar(2107, 12, 31, 23, 59, 59), true, 0xFF9F, 0xBF7D},
        {Calendar(1980, 1, 1, 0, 0, 0), true, 0x0021, 0x0000},
        // Before 1980: date 0, the time of day kept.
        {Calendar(1975, 6, 15, 13, 45, 30), true, 0x0000, 0x6DAF},
        {Calendar(1601, 1, 1, 23, 59, 58), true, 0x0000, 0xBF7D},
        // After 2107 there is no DOS form.
        {Calendar(2108, 1, 1, 0, 0, 0), false, 0, 0},
    };
    for (const auto& c : cases) {
        uint16_t date = 0x5555, time = 0x5555;
        ASSERT_EQ(qv::FileTimeToDos(c.time, &date, &time), c.ok) << c.time;
        if (!c.ok) continue;
        EXPECT_EQ(date, c.date) << c.time;
        EXPECT_EQ(time, c.dosTime) << c.time;
    }

    qv::os::FileTime back = 0;
    ASSERT_TRUE(qv::DosToFileTime(0x219F, 0x6DAF, &back));
    EXPECT_EQ(back, Calendar(1996, 12, 31, 13, 45, 30));
    // Date 0 reads back as 1 January 1980.
    ASSERT_TRUE(qv::DosToFileTime(0, 0x6DAF, &back));
    EXPECT_EQ(back, Calendar(1980, 1, 1, 13, 45, 30));
    // Values that name no date or time.
    EXPECT_FALSE(qv::DosToFileTime(0x0001, 0, &back));       // month 0
    EXPECT_FALSE(qv::DosToFileTime(0x0021, 0x001E, &back));  // second 60
    EXPECT_FALSE(qv::DosToFileTime(0x005E, 0, &back));       // 30 February 1980
}

// ---- Files ----------------------------------------------------------------------------------

#if !defined(_WIN32)

// Runs a test under a chosen TZ and restores the previous one.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> old_;
};

int64_t ModifiedSeconds(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return static_cast<int64_t>(st.st_mtime);
}

void SetModifiedSeconds(const std::string& path, int64_t seconds) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(DosFileTimeOnFiles, SetThenGetInLocalTime) {
    struct {
        const char* tz;
        uint16_t date, time;
        int64_t utcSeconds;
    } const cases[] = {
        {"UTC0", 0x2821, 0x6000, 946728000},                         // 2000-01-01 12:00:00
        {"QVT-3", 0x2821, 0x6000, 946717200},                        // UTC+3
        {"CET-1CEST,M3.5.0,M10.5.0/3", 0x52EF, 0x43C5, 1626330610},  // summer: UTC+2
        {"CET-1CEST,M3.5.0,M10.5.0/3", 0x522F, 0x43C5, 1610695810},  // winter: UTC+1
    };
    ScratchDir dir;
    const std::string file = dir.file("stamp.txt");
    qvtest::WriteFile(file, std::string("x"));
    for (const auto& c : cases) {
        ScopedTimeZone zone(c.tz);
        ASSERT_EQ(Qv4DosSetFileTime(file.c_str(), c.date, c.time), QV_OK) << c.tz;
        EXPECT_EQ(ModifiedSeconds(file), c.utcSeconds) << c.tz;
        uint16_t date = 0, time = 0;
        ASSERT_EQ(Qv4DosGetFileTime(file.c_str(), &date, &time), QV_OK) << c.tz;
        EXPECT_EQ(date, c.date) << c.tz;
        EXPECT_EQ(time, c.time) << c.tz;
    }
}

TEST(DosFileTimeOnFiles, DatesOutsideTheDosRange) {
    ScopedTimeZone zone("QVT-3");
    ScratchDir dir;
    const std::string file = dir.file("old.txt");
    qvtest::WriteFile(file, std::string("x"));

    // Date 0 sets 1 January 1980 (local).
    ASSERT_EQ(Qv4DosSetFileTime(file.c_str(), 0, 0x6DAF), QV_OK);
    EXPECT_EQ(ModifiedSeconds(file), 315532800 - 3 * 3600 + 13 * 3600 + 45 * 60 + 30);

    // 1975-06-15 13:45:30 local reads as date 0 with its time of day.
    SetModifiedSeconds(file, 172061130);
    uint16_t date = 0xFFFF, time = 0xFFFF;
    ASSERT_EQ(Qv4DosGetFileTime(file.c_str(), &date, &time), QV_OK);
    EXPECT_EQ(date, 0);
    EXPECT_EQ(time, 0x6DAF);

    // After 2107 there are no DOS values: both read as 0, and the call still succeeds.
    SetModifiedSeconds(file, 4417977600);
    date = time = 0xFFFF;
    ASSERT_EQ(Qv4DosGetFileTime(file.c_str(), &date, &time), QV_OK);
    EXPECT_EQ(date, 0);
    EXPECT_EQ(time, 0);
}

TEST(DosFileTimeOnFiles, FailuresLeaveEverythingAlone) {
    ScratchDir dir;
    const std::string file = dir.file("kept.txt");
    qvtest::WriteFile(file, std::string("x"));
    SetModifiedSeconds(file, 1000000000);

    // Values that name no time: 105, and the file's time is unchanged.
    EXPECT_EQ(Qv4DosSetFileTime(file.c_str(), 0x219F, 0x001E), QV_E_FILE);  // second 60
    EXPECT_EQ(Qv4DosSetFileTime(file.c_str(), 0x0001, 0), QV_E_FILE);       // month 0
    EXPECT_EQ(ModifiedSeconds(file), 1000000000);

    const std::string missing = dir.file("missing.txt");
    uint16_t date = 0x1111, time = 0x2222;
    EXPECT_EQ(Qv4DosGetFileTime(missing.c_str(), &date, &time), QV_E_FILE);
    EXPECT_EQ(date, 0x1111);  // outputs untouched
    EXPECT_EQ(time, 0x2222);
    EXPECT_EQ(Qv4DosSetFileTime(missing.c_str(), 0x219F, 0x6DAF), QV_E_FILE);
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(Qv4DosGetFileTime(nullptr, &date, &time), QV_E_FILE);
}

#endif

}  // namespace
