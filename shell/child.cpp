#include "child.h"

#include <err.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include "shell.h"

extern char** environ;

namespace {

const char kShell[] = "/bin/sh";

// An ignored signal survives exec. We ignore SIGPIPE and SIGXFSZ, yet a
// command writing past a capture's limit must die of its broken pipe, and one
// at a file size limit must stop as anywhere else; SIGCHLD, which whoever
// started us may have ignored, would let a shell's children reap themselves
// before the shell waits for its pipeline.
const int kDefaultInChildren[] = {SIGPIPE, SIGCHLD, SIGXFSZ};

// Returns 0, or the error of the first call that failed.
int SetChildAttributes(posix_spawnattr_t* attributes, bool ownGroup) {
    sigset_t defaults;
    sigset_t none;
    sigemptyset(&defaults);
    for (const int number : kDefaultInChildren) {
        sigaddset(&defaults, number);
    }
    sigemptyset(&none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (ownGroup) {
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    int error = posix_spawnattr_setsigdefault(attributes, &defaults);
    if (error == 0) {
        error = posix_spawnattr_setsigmask(attributes, &none);
    }
    if (error == 0) {
        error = posix_spawnattr_setpgroup(attributes, 0);
    }
    if (error == 0) {
        error = posix_spawnattr_setflags(attributes, flags);
    }
    return error;
}

int SetStdout(posix_spawn_file_actions_t* actions, int stdoutFd) {
    // Dropped writes are never met by a full or broken pipe.
    if (stdoutFd == -1) {
        return posix_spawn_file_actions_addopen(actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    return posix_spawn_file_actions_adddup2(actions, stdoutFd, STDOUT_FILENO);
}

}  // namespace

pid_t SpawnShell(const char* commandLine, int stdoutFd, bool ownGroup) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int error = posix_spawn_file_actions_init(&actions);
    if (error != 0) {
        errno = error;
        return -1;
    }
    error = posix_spawnattr_init(&attributes);
    if (error != 0) {
        posix_spawn_file_actions_destroy(&actions);
        errno = error;
        return -1;
    }
    pid_t pid = -1;
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                          const_cast<char*>(commandLine), nullptr};
    error = SetStdout(&actions, stdoutFd);
    if (error == 0) {
        error = SetChildAttributes(&attributes, ownGroup);
    }
    if (error == 0) {
        error = posix_spawn(&pid, kShell, &actions, &attributes, argv, environ);
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return pid;
}

void PauseAfterStartFailure(const char* commandLine, const char* why, bool& reported) {
    // Out of descriptors or processes, a stderr line every second would only
    // bury the one that says why.
    if (!reported) {
        warnx("cannot start \"%s\": %s; trying again every second", commandLine, why);
        reported = true;
    }
    PauseSeconds(1);
}

void ReportStartedAgain(const char* commandLine, bool reported) {
    if (reported) {
        warnx("started \"%s\" after all", commandLine);
    }
}
