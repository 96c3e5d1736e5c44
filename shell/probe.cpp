#include "shell.h"

#include <err.h>
#include <string.h>

const char resultKey[] = "Missing/Damaged\n";
const char resultKeyb[] = "Failed\n";

bool EvaluateProbe(const char* text, size_t length, const char* key) {
    const size_t keyLength = strlen(key);
    size_t start = 0;
    // Any whole line counts: two missing members list the key twice, and a
    // failed set adds a blank line from its own status row.
    while (start + keyLength <= length) {
        if (memcmp(text + start, key, keyLength) == 0) {
            return true;
        }
        const void* end = memchr(text + start, '\n', length - start);
        if (end == nullptr) {
            break;
        }
        start = static_cast<size_t>(static_cast<const char*>(end) - text) + 1;
    }
    return false;
}

bool RunProbe(const char* commandLine, const char* key, char (&area)[kProbeLimit],
              int limitSeconds) {
    // Alarm commands that ended are reaped even when no alert follows.
    ReapLaunched();
    Captured captured = CaptureCommand(commandLine, area, kProbeLimit, limitSeconds);
    // A disk utility may hang once on a disk that is waking; the second hang
    // is no accident.
    if (captured.end == CaptureEnd::kTimedOut) {
        captured = CaptureCommand(commandLine, area, kProbeLimit, limitSeconds);
    }
    // A disk utility that hangs is likeliest stuck on a failing disk, and a
    // check that cannot run sees nothing: either way, the alarm.
    if (captured.end == CaptureEnd::kTimedOut) {
        warnx("\"%s\" did not end within %d seconds, twice: counted as a failure",
              commandLine, limitSeconds);
        return true;
    }
    if (captured.end == CaptureEnd::kNotRun) {
        warnx("\"%s\" could not run within %d seconds: counted as a failure", commandLine,
              limitSeconds);
        return true;
    }
    return EvaluateProbe(area, captured.length, key);
}
