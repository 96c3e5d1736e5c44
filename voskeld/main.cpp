// voskeld, the latching edition: checks every interval until the first
// failure, then sounds the alarm until it is stopped from outside.
#include "shell.h"

#include <stdio.h>

int gMailsent;

namespace {

// voskeld-rotate-log, the fire drill's preflight and the tests read these.
const char kBanner[] = "Voskel 2.2 daemon started. ";
const char kProgressFormat[] = "Checking RAID volumes status every %d seconds\n";
const char kStatusOK[] = "RAID volumes status: OK";
const char kFailureLine[] = "Voskel: RAID ERROR. An AppleRAID volume has failed. ";
const char kSendingLine[] = "Sending alert email...";
const char kSentLine[] = "Alert email sent.";

const char kMissingProbe[] = "diskutil listraid |grep Missing | awk '{print $4}'";
const char kFailedProbe[] = "diskutil listraid |grep Failed | awk '{print $4}'";

const char kSoundCommand[] = "osascript -e 'set volume 6' ; afplay /usr/bin/voskeld.wav";
const char kFrontCommand[] = "osascript -e 'tell application \"Voskel\" to activate'";
const char kDialogCommand[] =
    "osascript -e 'tell application \"Finder\" to display dialog \"Voskel alert: RAID ERROR! "
    "Please open Voskel to stop audio alerts and verify RAID status.\"'";

char result[kProbeLimit];
char resultb[kProbeLimit];

void RaidIsOK() {
    puts(kStatusOK);
}

[[noreturn]] void RaidError() {
    for (;;) {
        PauseSeconds(4);
        // Before the first launch: where no command can start, a launch waits
        // for good, and the log must still tell of the failure.
        if (gMailsent == 0) {
            puts(kFailureLine);
        }
        LaunchCommand(kSoundCommand);
        if (gMailsent == 0) {
            LaunchCommand(kFrontCommand);
            puts(kSendingLine);
            LaunchCommand(kMailCommand);
            // The mail is never waited for: this line follows its launch.
            puts(kSentLine);
            LaunchCommand(kDialogCommand);
            PauseSeconds(1);
            gMailsent = 1;
        }
    }
}

}  // namespace

int main(int /*argc*/, char** /*argv*/) {
    SetUpStdioAndSignals();
    puts(kBanner);
    const int waitSeconds = ReadWaitSeconds();
    gMailsent = 0;
    for (;;) {
        printf(kProgressFormat, waitSeconds);
        if (RunProbe(kMissingProbe, resultKey, result, kCaptureSeconds)) {
            RaidError();
        } else {
            RaidIsOK();
        }
        if (RunProbe(kFailedProbe, resultKeyb, resultb, kCaptureSeconds)) {
            RaidError();
        } else {
            RaidIsOK();
        }
        PauseSeconds(waitSeconds);
    }
}
