#include "shell.h"
#include "child.h"

#include <err.h>
#include <errno.h>
#include <string.h>
#include <sys/wait.h>

namespace {

// The alarm commands still running, by pid; 0 is a free place. Never
// waitpid(-1): that could take a capture's shell from its capture.
pid_t launched[kMaxLaunched];

int ReapAndFindFreePlace() {
    int place = -1;
    for (int i = 0; i < kMaxLaunched; ++i) {
        if (launched[i] != 0) {
            const pid_t reaped = waitpid(launched[i], nullptr, WNOHANG);
            if (reaped == launched[i] || (reaped == -1 && errno == ECHILD)) {
                launched[i] = 0;
            }
        }
        if (launched[i] == 0 && place == -1) {
            place = i;
        }
    }
    return place;
}

}  // namespace

void ReapLaunched() {
    (void)ReapAndFindFreePlace();
}

void LaunchCommand(const char* commandLine) {
    int place = ReapAndFindFreePlace();
    if (place == -1) {
        // Never skipped: an alert that waits is still an alert.
        warnx("%d alarm commands still run: \"%s\" waits for one to end, checking every second",
              kMaxLaunched, commandLine);
        while ((place = ReapAndFindFreePlace()) == -1) {
            PauseSeconds(1);
        }
    }
    bool reported = false;
    pid_t pid = -1;
    while ((pid = SpawnShell(commandLine, -1, false)) == -1) {
        PauseAfterStartFailure(commandLine, strerror(errno), reported);
        ReapLaunched();
    }
    ReportStartedAgain(commandLine, reported);
    launched[place] = pid;
}
