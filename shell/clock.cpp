#include "clock.h"

#if defined(__APPLE__) || defined(VOSKELD_MACH_CLOCK)

#include <mach/mach_time.h>

// Every Mac has this clock, from 10.0 on; clock_gettime came only with 10.12.
// It stops while the Mac sleeps, so a check the Mac slept through is not a
// hang. Scaled in double: no 64-bit division helper in 32-bit code, and a
// double counts milliseconds exactly far beyond any uptime.
long long NowMilliseconds() {
    static double millisecondsPerTick = 0;
    if (millisecondsPerTick == 0) {
        mach_timebase_info_data_t timebase{};
        // It fails only when handed a null pointer.
        (void)mach_timebase_info(&timebase);
        millisecondsPerTick = static_cast<double>(timebase.numer) / timebase.denom / 1e6;
    }
    return static_cast<long long>(static_cast<double>(mach_absolute_time()) * millisecondsPerTick);
}

#else

#include <time.h>

// The monotonic clock: a change of the wall clock neither ends nor stretches
// a capture, and on Linux it stops during suspend as the Mac's does in sleep.
// 64 bits even in 32-bit code: a long overflows after 25 days of uptime.
long long NowMilliseconds() {
    timespec now{};
    // It fails only for a clock the system lacks, and every Linux has this one.
    (void)clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

#endif
