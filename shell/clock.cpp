#include "clock.h"

#if defined(__APPLE__) || defined(VOSKELD_MACH_CLOCK)

#include <mach/mach_time.h>

// Every Mac has this clock; clock_gettime came with 10.12. It stops while the
// Mac sleeps, so a check slept through is no hang. In double: 32-bit code has
// no 64-bit division, and a double counts milliseconds exactly for ages.
long long NowMilliseconds() {
    static double millisecondsPerTick = 0;
    if (millisecondsPerTick == 0) {
        mach_timebase_info_data_t timebase{};
        (void)mach_timebase_info(&timebase);
        millisecondsPerTick = static_cast<double>(timebase.numer) / timebase.denom / 1e6;
    }
    return static_cast<long long>(static_cast<double>(mach_absolute_time()) * millisecondsPerTick);
}

#else

#include <time.h>

// A change of the wall clock neither ends nor stretches a capture, and it
// stops during suspend as the Mac's does in sleep. A 32-bit long would
// overflow after 25 days.
long long NowMilliseconds() {
    timespec now{};
    (void)clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

#endif
