// The shell queries both editions share: every contact with the machine is a
// fixed command line handed to /bin/sh, either captured and waited for, or
// launched and left to run.
#ifndef VOSKELD_SHELL_H
#define VOSKELD_SHELL_H

#include <stddef.h>

// Fixed capture areas: nothing grows with what a command writes.
constexpr size_t kIntervalLimit = 1000;
constexpr size_t kProbeLimit = 15000;

// diskutil answers in a second, waking sleeping disks takes tens of seconds;
// only a disk utility stuck on a failing disk takes minutes.
constexpr int kCaptureSeconds = 120;

// Hung alarm sounds must never take the user's last process.
constexpr int kMaxLaunched = 16;

extern const char resultKey[];   // Missing probe
extern const char resultKeyb[];  // Failed probe

inline constexpr char kMailCommand[] = "python /usr/bin/voskeldemail.py";

// Before the first line: stdout by the line, descriptors 0 to 2 open, and
// the signals as the watch needs them.
void SetUpStdioAndSignals();

enum class CaptureEnd {
    kRan,       // the pipeline ran and ended within the limit
    kTimedOut,  // the limit came while the pipeline ran, and ended it
    kNotRun,    // no try got the pipeline going within the limit
};

struct Captured {
    size_t length;  // the text ends at the first zero byte
    CaptureEnd end;
};

// Runs commandLine through /bin/sh -c, reads at most maxBytes of its stdout
// into area and waits for it, all within limitSeconds of waking time. When
// it cannot start, or its shell fails before the pipeline runs, it is
// started again each second while a whole second of the limit is left.
Captured CaptureCommand(const char* commandLine, char* area, size_t maxBytes, int limitSeconds);

// Starts commandLine through /bin/sh -c with stdout to /dev/null and never
// waits for it; at kMaxLaunched running it waits for one to end, and one
// that cannot start is tried each second until it does.
void LaunchCommand(const char* commandLine);

// Before each probe, and after each failed start, as a zombie may hold the
// very process the next try needs.
void ReapLaunched();

// The atoi rules, saturating at the 32-bit limits instead of overflowing.
int ConvertInterval(const char* text, size_t length);

int ReadWaitSeconds();

// True when a whole line of text is key (key includes its line end).
bool EvaluateProbe(const char* text, size_t length, const char* key);

// A probe that cannot run within limitSeconds, or hangs twice, reports a
// failure.
bool RunProbe(const char* commandLine, const char* key, char (&area)[kProbeLimit],
              int limitSeconds);

// The whole time, through signals; nothing for seconds <= 0.
void PauseSeconds(int seconds);

#endif
