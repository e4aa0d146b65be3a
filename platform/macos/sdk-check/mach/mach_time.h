#pragma once

// Declaration-only stand-in for part of Apple's SDK, used only to type-check our macOS sources on other
// systems. Written from Apple's documentation, not copied from the SDK; unverified until a Mac build
// confirms it. Declares only what our sources use.

// mach/mach_time.h: the host clock in ticks, and the ticks-to-nanoseconds ratio.
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int kern_return_t;
struct mach_timebase_info {
    uint32_t numer;
    uint32_t denom;
};
typedef struct mach_timebase_info mach_timebase_info_data_t;
typedef struct mach_timebase_info* mach_timebase_info_t;

kern_return_t mach_timebase_info(mach_timebase_info_t info);
uint64_t mach_absolute_time(void);

#ifdef __cplusplus
}
#endif
