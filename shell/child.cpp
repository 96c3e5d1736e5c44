#include "child.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const char kShell[] = "/bin/sh";

// We ignore SIGPIPE and an ignored signal survives exec, yet a command that
// writes past a capture's limit must die of the broken pipe. Every child,
// spawned or forked, starts with these at their defaults.
const int kDefaultInChildren[] = {SIGPIPE, SIGCHLD};

bool SetDefaultSignals(posix_spawnattr_t* attributes) {
    sigset_t defaults;
    sigset_t none;
    sigemptyset(&defaults);
    for (const int number : kDefaultInChildren) {
        sigaddset(&defaults, number);
    }
    sigemptyset(&none);
    const short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    return posix_spawnattr_setsigdefault(attributes, &defaults) == 0 &&
           posix_spawnattr_setsigmask(attributes, &none) == 0 &&
           posix_spawnattr_setflags(attributes, flags) == 0;
}

}  // namespace

pid_t SpawnShell(const char* commandLine, int stdoutFd) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return -1;
    }
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    pid_t pid = -1;
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                          const_cast<char*>(commandLine), nullptr};
    int error = posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    if (error == 0) {
        error = SetDefaultSignals(&attributes) ? 0 : EINVAL;
    }
    if (error == 0) {
        error = posix_spawn(&pid, kShell, &actions, &attributes, argv, environ);
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        perror("voskeld: posix_spawn");
        return -1;
    }
    return pid;
}

int WaitForChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}

void ExecShellSilenced(const char* commandLine) {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (const int number : kDefaultInChildren) {
        sigaction(number, &defaults, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Writes are dropped, never met by a full or broken pipe; without
    // /dev/null a closed stdout still beats sharing ours.
    const int null = open("/dev/null", O_WRONLY);
    if (null == -1) {
        close(STDOUT_FILENO);
    } else if (null != STDOUT_FILENO) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                          const_cast<char*>(commandLine), nullptr};
    execve(kShell, argv, environ);
    _exit(127);
}
