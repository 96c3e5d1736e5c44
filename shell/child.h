// Starting and waiting for the shell children of capture and launch.
#ifndef VOSKELD_CHILD_H
#define VOSKELD_CHILD_H

#include <sys/types.h>

// Spawns /bin/sh -c commandLine with stdoutFd as its stdout; stdin and stderr
// stay ours. Returns the pid, or -1 when nothing could be started.
pid_t SpawnShell(const char* commandLine, int stdoutFd);

// Blocks until pid has ended, through interruptions; returns its wait
// status, or -1 when it cannot be waited for.
int WaitForChild(pid_t pid);

// In a forked child: becomes /bin/sh -c commandLine with stdout on /dev/null.
// Calls only async-signal-safe functions.
[[noreturn]] void ExecShellSilenced(const char* commandLine);

#endif
