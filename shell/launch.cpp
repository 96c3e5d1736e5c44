#include "shell.h"
#include "child.h"

#include <cstdio>
#include <unistd.h>

void LaunchCommand(const char* commandLine) {
    // A forked copy of unwritten lines could otherwise be written twice. A
    // flush that fails has lost lines nobody was reading: nothing to do.
    (void)fflush(stdout);
    const pid_t child = fork();
    if (child == -1) {
        perror("voskeld: fork");
        return;
    }
    if (child == 0) {
        // The middle child ends at once, so the command is adopted and reaped
        // by init: we never wait for it, and it never lingers as our zombie.
        if (fork() == 0) {
            ExecShellSilenced(commandLine);
        }
        _exit(0);
    }
    WaitForChild(child);
}
