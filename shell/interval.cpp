#include "shell.h"

#include <err.h>
#include <stdint.h>

namespace {

const char kIntervalQuery[] = "cat /etc/voskeld.conf |grep delayseconds |cut -d\"=\" -f2";

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

int ConvertInterval(const char* text, size_t length) {
    size_t i = 0;
    while (i < length && IsSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t magnitude = 0;
    for (; i < length && IsDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit) {
            magnitude = limit;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

int ReadWaitSeconds() {
    static char result4[kIntervalLimit];
    const Captured captured =
        CaptureCommand(kIntervalQuery, result4, sizeof result4, kCaptureSeconds);
    // A configuration that never ends (a FIFO, a hung mount) still gives a number.
    if (captured.end == CaptureEnd::kTimedOut) {
        warnx("\"%s\" did not end within %d seconds: using what it wrote by then",
              kIntervalQuery, kCaptureSeconds);
    } else if (captured.end == CaptureEnd::kNotRun) {
        warnx("\"%s\" could not run within %d seconds: no interval read, so no pause",
              kIntervalQuery, kCaptureSeconds);
    }
    return ConvertInterval(result4, captured.length);
}
