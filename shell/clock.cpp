#include "child.h"

#include <err.h>
#include <time.h>

#if defined(__APPLE__) || defined(VOSKELD_MACH_CLOCK)

#include <mach/mach_time.h>

namespace {

// Every Mac has this clock, from 10.0 on; clock_gettime came only with 10.12.
// It stops while the Mac sleeps, so a check the Mac slept through is not a
// hang. Scaled in double: no 64-bit division helper in 32-bit code, and a
// double counts milliseconds exactly far beyond any uptime.
bool ReadClock(long long& milliseconds) {
    static double millisecondsPerTick = 0;
    if (millisecondsPerTick == 0) {
        mach_timebase_info_data_t timebase{};
        if (mach_timebase_info(&timebase) != 0 || timebase.denom == 0 || timebase.numer == 0) {
            return false;
        }
        millisecondsPerTick = static_cast<double>(timebase.numer) / timebase.denom / 1e6;
    }
    milliseconds =
        static_cast<long long>(static_cast<double>(mach_absolute_time()) * millisecondsPerTick);
    return true;
}

}  // namespace

#else

namespace {

// The monotonic clock: a change of the wall clock neither ends nor stretches
// a capture, and on Linux it stops during suspend as the Mac's does in sleep.
// 64 bits even in 32-bit code: a long overflows after 25 days of uptime.
bool ReadClock(long long& milliseconds) {
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        return false;
    }
    milliseconds = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    return true;
}

}  // namespace

#endif

long long NowMilliseconds() {
    static bool failed = false;
    static long long last = 0;
    static long long offset = 0;
    if (!failed && ReadClock(last)) {
        return last;
    }
    // A clock that stood still would let no time limit ever pass: go on from
    // where it stopped, in the calendar's whole seconds, which may be set
    // back but never stand still for long.
    const long long calendar = static_cast<long long>(time(nullptr)) * 1000;
    if (!failed) {
        warnx("the clock cannot be read: time limits are counted on the calendar clock");
        failed = true;
        offset = last - calendar;
    }
    return calendar + offset;
}
