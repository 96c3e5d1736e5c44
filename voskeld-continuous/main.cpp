// voskeld-continuous: checks every interval for as long as it runs, alerts for
// every failing probe, mails once per run, and writes nothing.
#include "shell.h"

int gMailsent;

namespace {

const char kMissingProbe[] = "diskutil appleRAID list |grep Missing | awk '{print $4}'";
const char kFailedProbe[] = "diskutil appleRAID list |grep Failed | awk '{print $4}'";

const char kSoundCommand[] = "osascript -e 'set volume 5' ; afplay /usr/bin/voskeld.wav";
const char kOpenCommand[] = "open /Applications/Voskel.app";

char result[kProbeLimit];
char resultb[kProbeLimit];

void RaidIsOK() {
}

void RaidError() {
    LaunchCommand(kSoundCommand);
    LaunchCommand(kOpenCommand);
    PauseSeconds(2);
    if (gMailsent == 0) {
        LaunchCommand(kMailCommand);
        PauseSeconds(2);
        gMailsent = 1;
    }
}

}  // namespace

int main(int /*argc*/, char** /*argv*/) {
    SetUpStdioAndSignals();
    const int waitSeconds = ReadWaitSeconds();
    gMailsent = 0;
    for (;;) {
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
