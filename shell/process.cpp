#include "shell.h"

#include <err.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

namespace {

// A pipe must never land on 0, 1 or 2: a capture would then hand its own
// stdout to the wrong command, or a line of ours would go into a pipe.
void OpenStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int null = open("/dev/null", O_RDWR);
            if (null != -1 && null != fd) {
                dup2(null, fd);
                close(null);
            }
        }
    }
}

void SetDisposition(int number, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    if (sigaction(number, &action, nullptr) == -1) {
        warn("sigaction");
    }
}

}  // namespace

void SetUpStdioAndSignals() {
    // Under a service manager stdout is a file: fully buffered, the alarm's
    // lines would sit unwritten for good.
    static char lineBuffer[BUFSIZ];
    if (setvbuf(stdout, lineBuffer, _IOLBF, sizeof lineBuffer) != 0) {
        warn("setvbuf");
    }
    OpenStandardDescriptors();
    // Blocked signals survive exec: inherited, TERM, INT and HUP would leave
    // only SIGKILL to stop us. Ignored ones stay ignored, as nohup intends.
    sigset_t none;
    sigemptyset(&none);
    if (sigprocmask(SIG_SETMASK, &none, nullptr) == -1) {
        warn("sigprocmask");
    }
    // Inherited as ignored, SIGCHLD would reap our children before we wait:
    // no capture could tell a pipeline that ran from one that never did.
    SetDisposition(SIGCHLD, SIG_DFL);
    // A reader gone away, or a log at its size limit, must not end the watch:
    // the lines are dropped.
    SetDisposition(SIGPIPE, SIG_IGN);
    SetDisposition(SIGXFSZ, SIG_IGN);
}

void PauseSeconds(int seconds) {
    // As an unsigned pause, a negative one would last over a century.
    if (seconds <= 0) {
        return;
    }
    timespec remaining{seconds, 0};
    while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
    }
}
