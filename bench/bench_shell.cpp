// CaptureCommand against popen and pclose, by our own CPU; LaunchCommand
// against the bare minimum that does the same: posix_spawn of the same
// /bin/sh -c line, waitpid.
#include "shell.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

extern char** environ;

// glibc's own allocator, so that allocations can be counted while a capture runs.
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);

namespace {

bool gCounting = false;
long gAllocations = 0;

const char kCaptured[] = "printf x";
const char kLaunched[] = "true";
char area[kProbeLimit];

pid_t SpawnFloor(const char* line, int stdoutFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                          const_cast<char*>(line), nullptr};
    pid_t pid = -1;
    posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// What a capture must not cost more than: popen, fread, pclose.
void BM_CaptureFloor(benchmark::State& state) {
    for (auto _ : state) {
        FILE* pipe = popen(kCaptured, "r");
        if (pipe == nullptr) {
            state.SkipWithError("popen");
            break;
        }
        benchmark::DoNotOptimize(fread(area, 1, sizeof area, pipe));
        pclose(pipe);
    }
}

void BM_CaptureCommand(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(CaptureCommand(kCaptured, area, sizeof area, kCaptureSeconds).length);
    }
    gAllocations = 0;
    gCounting = true;
    (void)CaptureCommand(kCaptured, area, sizeof area, kCaptureSeconds);
    gCounting = false;
    state.counters["allocations_per_capture"] = static_cast<double>(gAllocations);
}

void BM_LaunchFloor(benchmark::State& state) {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    for (auto _ : state) {
        waitpid(SpawnFloor(kLaunched, null), nullptr, 0);
    }
    close(null);
}

// Timed until LaunchCommand returns: the command itself may still be running.
void BM_LaunchCommand(benchmark::State& state) {
    for (auto _ : state) {
        LaunchCommand(kLaunched);
        state.PauseTiming();
        // Let the command end before the next launch, so that runs do not
        // pile up and compete for the two cores.
        usleep(5000);
        state.ResumeTiming();
    }
}

// Our own CPU, children left out: their work is the same either way, and
// would hide ours in the wall time.
BENCHMARK(BM_CaptureFloor)->MeasureProcessCPUTime()->MinTime(2.0);
BENCHMARK(BM_CaptureCommand)->MeasureProcessCPUTime()->MinTime(2.0);
BENCHMARK(BM_LaunchFloor)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_LaunchCommand)->UseRealTime()->MinTime(2.0);

}  // namespace

extern "C" void* malloc(std::size_t size) {
    gAllocations += gCounting ? 1 : 0;
    return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) {
    gAllocations += gCounting ? 1 : 0;
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* old, std::size_t size) {
    gAllocations += gCounting ? 1 : 0;
    return __libc_realloc(old, size);
}

BENCHMARK_MAIN();
