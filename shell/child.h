// Starting and waiting for the shell children of capture and launch.
#ifndef VOSKELD_CHILD_H
#define VOSKELD_CHILD_H

#include <sys/types.h>

// Spawns /bin/sh -c commandLine with stdoutFd as its stdout, or /dev/null
// when stdoutFd is -1; stdin and stderr stay ours. ownGroup puts it in a
// process group of its own, so that its whole pipeline can be ended. Returns
// the pid, or -1 with errno set when nothing could be started.
pid_t SpawnShell(const char* commandLine, int stdoutFd, bool ownGroup);

// Tells once per run of failures that commandLine could not be started, and
// why, then pauses a second before the caller tries again. reported starts
// false.
void PauseAfterStartFailure(const char* commandLine, const char* why, bool& reported);

// Tells that commandLine started after a run of failures, if one was told.
void ReportStartedAgain(const char* commandLine, bool reported);

#endif
