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
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            ExecShellSilenced(commandLine);
        }
        _exit(grandchild == -1 ? 1 : 0);
    }
    if (WaitForChild(child) != 0) {
        (void)fputs("voskeld: fork: a command could not be launched\n", stderr);
    }
}
