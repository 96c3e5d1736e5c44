// The shell queries both editions share: every contact with the machine is a
// fixed command line handed to /bin/sh, either captured and waited for, or
// launched and left to run.
#ifndef VOSKELD_SHELL_H
#define VOSKELD_SHELL_H

#include <cstddef>

// Fixed capture areas: nothing grows with what a command writes.
constexpr std::size_t kIntervalLimit = 1000;
constexpr std::size_t kProbeLimit = 15000;

// How long one capture may take before its pipeline is ended. diskutil answers
// in about a second, and waking a few sleeping disks one after another takes
// tens of seconds; only a disk utility stalled on a failing disk takes minutes.
constexpr int kCaptureSeconds = 120;

// The one text per probe that means failure, as a whole line.
extern const char resultKey[];   // Missing probe
extern const char resultKeyb[];  // Failed probe

// Both editions run the same alert mail script.
extern const char kMailCommand[];

// Start-up of either edition, before its first line of output.
void PrepareProcess();

struct Captured {
    std::size_t length;  // the text ends at the first zero byte
    bool timedOut;       // the time limit ended the command's whole pipeline
};

// Runs commandLine through /bin/sh -c with its stdout read into area, at most
// maxBytes of it, then waits for it, all within limitSeconds. A command that
// cannot be started is tried again every second until it starts.
Captured CaptureCommand(const char* commandLine, char* area, std::size_t maxBytes,
                        int limitSeconds);

// Starts commandLine through /bin/sh -c and returns at once; its stdout is
// /dev/null, and it is never waited for nor left behind as a zombie. A
// command that cannot be started is tried again every second until it starts.
void LaunchCommand(const char* commandLine);

// The atoi rules, saturating at the 32-bit limits instead of overflowing.
int ConvertInterval(const char* text, std::size_t length);

// The check interval in seconds, from /etc/voskeld.conf.
int ReadWaitSeconds();

// True when a whole line of text is key (key includes its line end).
bool EvaluateProbe(const char* text, std::size_t length, const char* key);

// Captures the probe's command line into area and evaluates it against key.
// A probe that twice fails to end within limitSeconds reports a failure.
bool RunProbe(const char* commandLine, const char* key, char (&area)[kProbeLimit],
              int limitSeconds);

// Sleeps the whole time even when signals interrupt; nothing for seconds <= 0.
void PauseSeconds(int seconds);

#endif
