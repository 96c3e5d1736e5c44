#include "shell.h"
#include "child.h"
#include "clock.h"

#include <err.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

// A member of a killed pipeline stuck in the kernel may never end: its shell
// gets this long to be reaped.
const long long kReapMilliseconds = 2000;
const int kReapYields = 20;
const int kStatusUnknown = -1;

// A new pipe's end has no other flag to keep.
bool SetCloseOnExec(int fd) {
    return fcntl(fd, F_SETFD, FD_CLOEXEC) != -1;
}

// Returns -1 with errno set when no pipe or process could be made.
pid_t StartCapture(const char* commandLine, int* readFd) {
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
    }
    // A reader left open in another child would spare a flooding command its
    // broken pipe; a writer left there would hold the capture open.
    pid_t pid = -1;
    if (SetCloseOnExec(fds[0]) && SetCloseOnExec(fds[1])) {
        pid = SpawnShell(commandLine, fds[1], true);
    }
    const int error = errno;
    close(fds[1]);
    if (pid == -1) {
        close(fds[0]);
        errno = error;
        return -1;
    }
    *readFd = fds[0];
    return pid;
}

void ReportPollError(bool& told) {
    if (!told) {
        warn("poll, trying again every second");
        told = true;
    }
    PauseSeconds(1);
}

// False when the deadline came before the output ended or filled maxBytes.
bool ReadUntil(int fd, char* area, size_t maxBytes, long long deadline, size_t& length) {
    length = 0;
    bool pollFailed = false;
    while (length < maxBytes) {
        const long long left = deadline - NowMilliseconds();
        if (left <= 0) {
            return false;
        }
        pollfd ready{fd, POLLIN, 0};
        const int timeout = left < 60000 ? static_cast<int>(left) : 60000;
        if (poll(&ready, 1, timeout) == -1) {
            // Output that has not ended is not whole.
            if (errno != EINTR) {
                ReportPollError(pollFailed);
            }
            continue;
        }
        if (ready.revents == 0) {
            continue;
        }
        const ssize_t n = read(fd, area + length, maxBytes - length);
        if (n > 0) {
            length += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    return true;
}

// False when pid still runs at the deadline.
bool ReapBy(pid_t pid, long long deadline, int& status) {
    // The shell ends within microseconds of its output, and a timed nap costs
    // more of our CPU than the rest of a capture: yield first, then nap.
    int yields = kReapYields;
    long napMicroseconds = 50;
    for (;;) {
        const pid_t reaped = waitpid(pid, &status, WNOHANG);
        if (reaped == pid) {
            return true;
        }
        if (reaped == -1 && errno != EINTR) {
            status = kStatusUnknown;
            return true;
        }
        if (NowMilliseconds() >= deadline) {
            return false;
        }
        if (yields > 0) {
            --yields;
            sched_yield();
            continue;
        }
        const timespec nap{0, napMicroseconds * 1000};
        nanosleep(&nap, nullptr);
        napMicroseconds = napMicroseconds < 50000 ? napMicroseconds * 2 : napMicroseconds;
    }
}

// The last command of each of our pipelines ends with 0 whenever it ran: a
// shell that wrote nothing and ended otherwise failed before it (no pipe, no
// fork).
bool PipelineRan(size_t bytesRead, int status) {
    return bytesRead > 0 ||
           (status != kStatusUnknown && WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

Captured FinishCapture(pid_t pid, int readFd, char* area, size_t maxBytes, long long deadline) {
    Captured captured{0, CaptureEnd::kTimedOut};
    const bool outputEnded = ReadUntil(readFd, area, maxBytes, deadline, captured.length);
    // Closed before the wait, so that a command writing past the limit ends.
    close(readFd);
    int status = kStatusUnknown;
    if (outputEnded && ReapBy(pid, deadline, status)) {
        captured.end = PipelineRan(captured.length, status) ? CaptureEnd::kRan : CaptureEnd::kNotRun;
    }
    // The whole process group: a hung diskutil with the grep and awk waiting
    // on it, or one that a shell started before it failed at the next pipe.
    if (captured.end != CaptureEnd::kRan) {
        kill(-pid, SIGKILL);
    }
    if (captured.end == CaptureEnd::kTimedOut) {
        // A shell stuck for good is left behind rather than stop the watch.
        ReapBy(pid, NowMilliseconds() + kReapMilliseconds, status);
    }
    const void* zero = memchr(area, '\0', captured.length);
    if (zero != nullptr) {
        captured.length = static_cast<size_t>(static_cast<const char*>(zero) - area);
    }
    return captured;
}

}  // namespace

Captured CaptureCommand(const char* commandLine, char* area, size_t maxBytes, int limitSeconds) {
    const long long deadline = NowMilliseconds() + static_cast<long long>(limitSeconds) * 1000;
    bool reported = false;
    for (;;) {
        int readFd = -1;
        const pid_t pid = StartCapture(commandLine, &readFd);
        const char* why = nullptr;
        if (pid == -1) {
            why = strerror(errno);
        } else {
            const Captured captured = FinishCapture(pid, readFd, area, maxBytes, deadline);
            if (captured.end == CaptureEnd::kRan) {
                ReportStartedAgain(commandLine, reported);
                return captured;
            }
            // After failed starts, a try may have spent its time starting (bash
            // retries a failed fork for seconds): if the limit ends it, the
            // check never ran, so it counts as not run, not as a hang.
            if (captured.end == CaptureEnd::kTimedOut) {
                return reported ? Captured{captured.length, CaptureEnd::kNotRun} : captured;
            }
            why = "its shell failed before the pipeline ran";
        }
        // Empty text would read as a healthy RAID: try again while the
        // resources may come back and a whole second of the limit is left.
        if (NowMilliseconds() + 1000 >= deadline) {
            return Captured{0, CaptureEnd::kNotRun};
        }
        PauseAfterStartFailure(commandLine, why, reported);
        ReapLaunched();
    }
}
