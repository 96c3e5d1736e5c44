#include "shell.h"
#include "child.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A member of a killed pipeline that is stuck in the kernel may never end;
// this is how long the shell that ran it gets to be reaped.
const long long kReapMilliseconds = 2000;

// 64 bits even in 32-bit code: a Mac up for 25 days overflows a 32-bit long.
long long NowMilliseconds() {
    timespec now{};
    // The monotonic clock: a change of the wall clock neither ends nor
    // stretches a capture.
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        return 0;
    }
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool SetCloseOnExec(int fd) {
    const int flags = fcntl(fd, F_GETFD);
    return flags != -1 && fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != -1;
}

// Returns the pid of the running command with *readFd its stdout, or -1 with
// errno set when no pipe or process could be made.
pid_t StartCapture(const char* commandLine, int* readFd) {
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
    }
    // Neither end may leak into another child: a reader left open elsewhere
    // would keep a flooding command from ever meeting a broken pipe.
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

// Reads into area until the output ends, maxBytes are read or the deadline
// passes; false at the deadline.
bool ReadUntil(int fd, char* area, std::size_t maxBytes, long long deadline,
               std::size_t& length) {
    length = 0;
    while (length < maxBytes) {
        const long long left = deadline - NowMilliseconds();
        if (left <= 0) {
            return false;
        }
        pollfd ready{fd, POLLIN, 0};
        const int timeout = left < 60000 ? static_cast<int>(left) : 60000;
        if (poll(&ready, 1, timeout) == -1 && errno != EINTR) {
            return true;
        }
        if (ready.revents == 0) {
            continue;
        }
        const ssize_t n = read(fd, area + length, maxBytes - length);
        if (n > 0) {
            length += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    return true;
}

// Reaps pid by the deadline; false when it is still running then.
bool ReapBy(pid_t pid, long long deadline) {
    // The shell usually ends right after its output: start with short naps.
    long napMicroseconds = 50;
    for (;;) {
        const pid_t reaped = waitpid(pid, nullptr, WNOHANG);
        if (reaped == pid || (reaped == -1 && errno != EINTR)) {
            return true;
        }
        if (NowMilliseconds() >= deadline) {
            return false;
        }
        const timespec nap{0, napMicroseconds * 1000};
        nanosleep(&nap, nullptr);
        napMicroseconds = napMicroseconds < 50000 ? napMicroseconds * 2 : napMicroseconds;
    }
}

}  // namespace

Captured CaptureCommand(const char* commandLine, char* area, std::size_t maxBytes,
                        int limitSeconds) {
    int readFd = -1;
    pid_t pid = -1;
    bool reported = false;
    while ((pid = StartCapture(commandLine, &readFd)) == -1) {
        // Empty text would read as a healthy RAID: a check that never ran is
        // no check, so wait for the resources to come back.
        PauseAfterStartFailure(commandLine, errno, reported);
    }
    ReportStartedAgain(commandLine, reported);

    const long long deadline = NowMilliseconds() + static_cast<long long>(limitSeconds) * 1000;
    Captured captured{0, false};
    captured.timedOut = !ReadUntil(readFd, area, maxBytes, deadline, captured.length);
    // Closing before the wait ends a command still writing past the limit.
    close(readFd);
    if (!captured.timedOut && !ReapBy(pid, deadline)) {
        captured.timedOut = true;
    }
    if (captured.timedOut) {
        // The whole pipeline: a hung diskutil, and the grep and awk that wait on it.
        kill(-pid, SIGKILL);
        // A shell stuck for good is left behind rather than stop the watch.
        ReapBy(pid, NowMilliseconds() + kReapMilliseconds);
    }
    const void* zero = std::memchr(area, '\0', captured.length);
    if (zero != nullptr) {
        captured.length = static_cast<std::size_t>(static_cast<const char*>(zero) - area);
    }
    return captured;
}
