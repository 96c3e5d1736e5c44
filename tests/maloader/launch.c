/* Starts a Mach-O slice under the loader as the program itself would be
 * started: its arguments, environment and descriptors untouched. A shell
 * script could not, as it holds a descriptor of its own at a limit of
 * four. LOADER and SLICE are given at build time. */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
    char** args = calloc((size_t)argc + 2, sizeof *args);
    if (args == NULL) {
        return 127;
    }
    args[0] = (char*)LOADER;
    args[1] = (char*)SLICE;
    for (int i = 1; i < argc; ++i) {
        args[i + 1] = argv[i];
    }
    execv(LOADER, args);
    perror(LOADER);
    return 127;
}
