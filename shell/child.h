// Starting and waiting for the shell children of capture and launch.
#ifndef VOSKELD_CHILD_H
#define VOSKELD_CHILD_H

#include <sys/types.h>

// /bin/sh -c commandLine with stdoutFd as its stdout (-1: /dev/null), our
// stdin and stderr, and in a group of its own if ownGroup, so that its whole
// pipeline can be ended. -1 with errno set when nothing could be started.
pid_t SpawnShell(const char* commandLine, int stdoutFd, bool ownGroup);

// Tells once per run of failures (reported starts false) why commandLine
// could not start, then pauses a second.
void PauseAfterStartFailure(const char* commandLine, const char* why, bool& reported);

void ReportStartedAgain(const char* commandLine, bool reported);

#endif
