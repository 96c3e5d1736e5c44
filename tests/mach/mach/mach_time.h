/* Stand-in for the two calls of the Mac's <mach/mach_time.h> that the clock
   uses, so that the Mac's clock branch builds and runs on Linux. */
#ifndef VOSKELD_TESTS_MACH_TIME_H
#define VOSKELD_TESTS_MACH_TIME_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mach_timebase_info {
    uint32_t numer;
    uint32_t denom;
} mach_timebase_info_data_t;

typedef int kern_return_t;

uint64_t mach_absolute_time(void);
kern_return_t mach_timebase_info(mach_timebase_info_data_t* info);

#ifdef __cplusplus
}
#endif

#endif
