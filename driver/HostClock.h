#pragma once

// The host clock the audio server schedules against: mach ticks on macOS; CLOCK_MONOTONIC nanoseconds with
// a 1/1 timebase elsewhere, which is what every host of this module on Linux assumes.

#include "driver/abi/CoreAudioABI.h"

#if defined(ORLEA_APPLE_SDK)
#include <mach/mach_time.h>

inline UInt64 hostClockNow()
{
    return mach_absolute_time();
}

inline void hostClockTimebase(UInt32& numerator, UInt32& denominator)
{
    mach_timebase_info_data_t info;
    mach_timebase_info(&info);
    numerator = info.numer;
    denominator = info.denom;
}

#else
#include <time.h>

inline UInt64 hostClockNow()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return UInt64(now.tv_sec) * 1000000000ull + UInt64(now.tv_nsec);
}

inline void hostClockTimebase(UInt32& numerator, UInt32& denominator)
{
    numerator = 1;
    denominator = 1;
}

#endif
