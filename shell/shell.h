// The shell queries both editions share: every contact with the machine is a
// fixed command line handed to /bin/sh, either captured and waited for, or
// launched and left to run.
#ifndef VOSKELD_SHELL_H
#define VOSKELD_SHELL_H

#include <stddef.h>

// Fixed capture areas: nothing grows with what a command writes.
constexpr size_t kIntervalLimit = 1000;
constexpr size_t kProbeLimit = 15000;

// How long one capture may take before its pipeline is ended. diskutil answers
// in about a second, and waking a few sleeping disks one after another takes
// tens of seconds; only a disk utility stalled on a failing disk takes minutes.
constexpr int kCaptureSeconds = 120;

// At most this many launched commands run at once: alarm sounds that hang
// must never take the user's last process, nor silence the checks by it.
constexpr int kMaxLaunched = 16;

// The one text per probe that means failure, as a whole line.
extern const char resultKey[];   // Missing probe
extern const char resultKeyb[];  // Failed probe

// Both editions run the same alert mail script.
inline constexpr char kMailCommand[] = "python /usr/bin/voskeldemail.py";

// Start-up of either edition, before its first line of output: stdout by
// the line, descriptors 0 to 2 open, and the signals as the watch needs them.
void SetUpStdioAndSignals();

// How a capture ended.
enum class CaptureEnd {
    kRan,       // the pipeline ran and ended within the limit
    kTimedOut,  // the limit came while the pipeline ran, and ended it
    kNotRun,    // no try got the pipeline going within the limit
};

struct Captured {
    size_t length;  // the text ends at the first zero byte
    CaptureEnd end;
};

// Runs commandLine through /bin/sh -c with its stdout read into area, at most
// maxBytes of it, then waits for it, all within limitSeconds of waking time.
// A run that could not start, or whose shell failed before the pipeline ran,
// is tried again every second while a whole second is left; nothing of a
// failed run is left running. A run that meets the limit after failed starts
// counts as not run: it may never have got going.
Captured CaptureCommand(const char* commandLine, char* area, size_t maxBytes, int limitSeconds);

// Starts commandLine through /bin/sh -c and returns at once; its stdout is
// /dev/null and it is never waited for. With kMaxLaunched still running it
// waits for one to end; a command that cannot be started is tried again
// every second until it starts.
void LaunchCommand(const char* commandLine);

// Reaps the launched commands that have ended, so none lingers as a zombie:
// before each probe, and after each failed start, as a zombie may hold the
// very process the next try needs.
void ReapLaunched();

// The atoi rules, saturating at the 32-bit limits instead of overflowing.
int ConvertInterval(const char* text, size_t length);

// The check interval in seconds, from /etc/voskeld.conf.
int ReadWaitSeconds();

// True when a whole line of text is key (key includes its line end).
bool EvaluateProbe(const char* text, size_t length, const char* key);

// Captures the probe's command line into area and evaluates it against key.
// A probe that twice fails to end within limitSeconds, or that cannot run
// within it, reports a failure.
bool RunProbe(const char* commandLine, const char* key, char (&area)[kProbeLimit],
              int limitSeconds);

// Sleeps the whole time even when signals interrupt; nothing for seconds <= 0.
void PauseSeconds(int seconds);

#endif
