#include "shell.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

void PrepareProcess() {
    // Under a service manager stdout is a file: fully buffered, the alarm's
    // lines would sit unwritten for good.
    static char lineBuffer[BUFSIZ];
    setvbuf(stdout, lineBuffer, _IOLBF, sizeof lineBuffer);
}

void PauseSeconds(int seconds) {
    // A negative interval is skipped like 0: as an unsigned pause it would
    // last over a century and end the watch in silence.
    if (seconds <= 0) {
        return;
    }
    timespec remaining{seconds, 0};
    while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
    }
}
