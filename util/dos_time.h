// dos_time.h - DOS date and time values and their conversions to file times.
//
// ZIP records keep a member's modification time as a packed 16-bit DOS date (bits 15-9 year
// since 1980, 8-5 month, 4-0 day) and a 16-bit DOS time (bits 15-11 hour, 10-5 minute, 4-0
// seconds / 2). DOS values always stand for local time. A date of 0 stands for "before 1980"
// and reads back as 1 January 1980.
#pragma once

#include <cstdint>

#include "os.h"

namespace qv {

// 1 January 1980, the date a DOS date of 0 reads back as.
inline constexpr uint16_t kDosDateFirstDay = (0 << 9) | (1 << 5) | 1;

// A (local) file time from DOS values, taken as they stand (no time-zone change). A date of 0
// means 1 January 1980. False when the values name no valid date and time.
bool DosToFileTime(uint16_t dosDate, uint16_t dosTime, os::FileTime* fileTime);

// DOS values of a (local) file time. A time before 1980 gives date 0 with the time of day
// kept. False when the time has no DOS form (after 2107, or not a valid file time).
bool FileTimeToDos(os::FileTime fileTime, uint16_t* dosDate, uint16_t* dosTime);

}  // namespace qv
