// dos_time.cpp - DOS date and time packing, and a file's last-write time as DOS values.
#include "dos_time.h"

#include "file_primitives.h"
#include "owned_file.h"
#include "qvarc32.h"
#include "result.h"

namespace qv {

bool DosToFileTime(uint16_t dosDate, uint16_t dosTime, os::FileTime* fileTime) {
    if (dosDate == 0) dosDate = kDosDateFirstDay;
    return os::DosDateTimeToFileTime(dosDate, dosTime, fileTime);
}

bool FileTimeToDos(os::FileTime fileTime, uint16_t* dosDate, uint16_t* dosTime) {
    os::SystemTime calendar;
    if (!os::FileTimeToSystemTime(fileTime, &calendar)) return false;
    if (calendar.year >= 1980) return os::FileTimeToDosDateTime(fileTime, dosDate, dosTime);
    // DOS dates start in 1980: keep the time of day on the first DOS day and mark the date 0.
    calendar.year = 1980;
    calendar.month = 1;
    calendar.day = 1;
    os::FileTime firstDay;
    uint16_t date, time;
    if (!os::SystemTimeToFileTime(calendar, &firstDay) ||
        !os::FileTimeToDosDateTime(firstDay, &date, &time))
        return false;
    if (dosDate) *dosDate = 0;
    if (dosTime) *dosTime = time;
    return true;
}

}  // namespace qv

using namespace qv;

// Field values arrive in 32-bit slots; only the low half is the value. Null outputs are
// skipped rather than written through.

QV_API void QV_CALL Qv4ExpandDosTime(uint32_t time, uint16_t* hour, uint16_t* minute,
                                     uint16_t* second) {
    const uint16_t t = static_cast<uint16_t>(time);
    if (hour) *hour = static_cast<uint16_t>(t >> 11);
    if (minute) *minute = static_cast<uint16_t>((t >> 5) & 63);
    if (second) *second = static_cast<uint16_t>((t & 31) * 2);
}

QV_API void QV_CALL Qv4ExpandDosDate(uint32_t date, uint16_t* month, uint16_t* day,
                                     uint16_t* year) {
    const uint16_t d = static_cast<uint16_t>(date);
    if (month) *month = static_cast<uint16_t>((d >> 5) & 15);
    if (day) *day = static_cast<uint16_t>(d & 31);
    if (year) *year = static_cast<uint16_t>((d >> 9) + 1980);
}

// The fields are neither checked nor masked: an out-of-range value spills into its neighbour,
// as hosts that pack their own values rely on.
QV_API void QV_CALL Qv4CompressDosTime(int32_t hour, int32_t minute, int32_t second,
                                       uint16_t* time) {
    const auto h = static_cast<uint32_t>(static_cast<int16_t>(hour));
    const auto m = static_cast<uint32_t>(static_cast<int16_t>(minute));
    const auto s = static_cast<int16_t>(second);
    if (time) *time = static_cast<uint16_t>((h << 11) | (m << 5) | static_cast<uint32_t>(s >> 1));
}

QV_API void QV_CALL Qv4CompressDosDate(int32_t month, int32_t day, int32_t year, uint16_t* date) {
    int32_t y = static_cast<int16_t>(year);
    // Two-digit years: 00-79 are 2000-2079, 80-99 are 1980-1999.
    if (y < 80)
        y += 2000;
    else if (y <= 99)
        y += 1900;
    const auto m = static_cast<uint32_t>(static_cast<int16_t>(month));
    const auto d = static_cast<uint32_t>(static_cast<int16_t>(day));
    if (date) *date = static_cast<uint16_t>((static_cast<uint32_t>(y - 1980) << 9) | (m << 5) | d);
}

QV_API ResultCode QV_CALL Qv4DosGetFileTime(const char* name, uint16_t* date, uint16_t* time) {
    return Guarded([&]() -> Result {
        if (!name) return QV_E_FILE;
        OwnedFile file(CreateOemFile(name, os::kGenericRead, os::kShareRead, os::kOpenExisting,
                                     os::kFlagRandomAccess));
        if (!file.valid()) return QV_E_FILE;
        os::FileTime written, local;
        if (!os::GetFileTime(file.get(), nullptr, nullptr, &written)) return QV_E_FILE;
        uint16_t d = 0, t = 0;
        // A time with no DOS form (after 2107) reads as date 0, time 0.
        if (!os::FileTimeToLocalFileTime(written, &local) || !FileTimeToDos(local, &d, &t))
            d = t = 0;
        if (date) *date = d;
        if (time) *time = t;
        return QV_OK;
    });
}

QV_API ResultCode QV_CALL Qv4DosSetFileTime(const char* name, uint32_t date, uint32_t time) {
    return Guarded([&]() -> Result {
        if (!name) return QV_E_FILE;
        OwnedFile file(CreateOemFile(name, os::kGenericReadWrite, os::kShareRead, os::kOpenExisting,
                                     os::kFlagRandomAccess));
        if (!file.valid()) return QV_E_FILE;
        os::FileTime local, utc;
        if (!DosToFileTime(static_cast<uint16_t>(date), static_cast<uint16_t>(time), &local) ||
            !os::LocalFileTimeToFileTime(local, &utc) ||
            !os::SetFileTime(file.get(), nullptr, nullptr, &utc))
            return QV_E_FILE;
        return QV_OK;
    });
}
