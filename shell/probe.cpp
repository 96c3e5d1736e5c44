#include "shell.h"

#include <cstring>
#include <err.h>

const char resultKey[] = "Missing/Damaged\n";
const char resultKeyb[] = "Failed\n";
const char kMailCommand[] = "python /usr/bin/voskeldemail.py";

bool EvaluateProbe(const char* text, std::size_t length, const char* key) {
    const std::size_t keyLength = std::strlen(key);
    std::size_t start = 0;
    // Any whole line counts: two missing members list the key twice, and a
    // failed set adds a blank line from its own status row.
    while (start + keyLength <= length) {
        if (std::memcmp(text + start, key, keyLength) == 0) {
            return true;
        }
        const void* end = std::memchr(text + start, '\n', length - start);
        if (end == nullptr) {
            break;
        }
        start = static_cast<std::size_t>(static_cast<const char*>(end) - text) + 1;
    }
    return false;
}

bool RunProbe(const char* commandLine, const char* key, char (&area)[kProbeLimit],
              int limitSeconds) {
    Captured captured = CaptureCommand(commandLine, area, kProbeLimit, limitSeconds);
    // A Mac that slept through the check must not wake to an alarm.
    if (captured.timedOut) {
        captured = CaptureCommand(commandLine, area, kProbeLimit, limitSeconds);
    }
    // A disk utility that hangs is likeliest stuck on a failing disk: a check
    // that cannot complete raises the alarm rather than watch nothing.
    if (captured.timedOut) {
        warnx("\"%s\" did not end within %d seconds, twice: counted as a failure",
              commandLine, limitSeconds);
        return true;
    }
    return EvaluateProbe(area, captured.length, key);
}
