#include "shell.h"
#include "child.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

bool SetCloseOnExec(int fd) {
    const int flags = fcntl(fd, F_GETFD);
    return flags != -1 && fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != -1;
}

std::size_t ReadUpTo(int fd, char* area, std::size_t maxBytes) {
    std::size_t length = 0;
    while (length < maxBytes) {
        const ssize_t n = read(fd, area + length, maxBytes - length);
        if (n > 0) {
            length += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    return length;
}

}  // namespace

std::size_t CaptureCommand(const char* commandLine, char* area, std::size_t maxBytes) {
    int fds[2];
    if (pipe(fds) != 0) {
        perror("voskeld: pipe");
        return 0;
    }
    // Neither end may leak into another child: a reader left open elsewhere
    // would keep a flooding command from ever meeting a broken pipe.
    if (!SetCloseOnExec(fds[0]) || !SetCloseOnExec(fds[1])) {
        perror("voskeld: fcntl");
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    const pid_t pid = SpawnShell(commandLine, fds[1]);
    close(fds[1]);
    std::size_t length = pid > 0 ? ReadUpTo(fds[0], area, maxBytes) : 0;
    // Closing before the wait ends a command still writing past the limit.
    close(fds[0]);
    if (pid > 0) {
        WaitForChild(pid);
    }
    const void* zero = std::memchr(area, '\0', length);
    if (zero != nullptr) {
        length = static_cast<std::size_t>(static_cast<const char*>(zero) - area);
    }
    return length;
}
