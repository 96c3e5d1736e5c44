#include "shell.h"
#include "child.h"

#include <cerrno>
#include <cstdio>
#include <err.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Returns 0 once the command has been started, or why it could not be.
int LaunchOnce(const char* commandLine) {
    // A forked copy of unwritten lines could otherwise be written twice. A
    // flush that fails has lost lines nobody was reading: nothing to do.
    (void)fflush(stdout);
    const pid_t child = fork();
    if (child == -1) {
        return errno;
    }
    if (child == 0) {
        // The middle child ends at once, so the command is adopted and reaped
        // by init: we never wait for it, and it never lingers as our zombie.
        // We have one thread, so its fork may spawn like the parent does.
        const pid_t command = SpawnShell(commandLine, -1, false);
        _exit(command == -1 ? errno : 0);
    }
    const int status = WaitForChild(child);
    if (status == -1) {
        // It may well have started: trying again could send the mail twice.
        warn("cannot tell whether \"%s\" was started", commandLine);
        return 0;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : ECANCELED;
}

}  // namespace

void LaunchCommand(const char* commandLine) {
    bool reported = false;
    int error = 0;
    // An alert command that could not start is started late rather than never.
    while ((error = LaunchOnce(commandLine)) != 0) {
        PauseAfterStartFailure(commandLine, error, reported);
    }
    ReportStartedAgain(commandLine, reported);
}
