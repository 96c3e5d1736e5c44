// Faults of the continuous edition, run end to end through the stand-in Mac.
#include "fakemac.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kProgram[] = CONTINUOUS_PROGRAM;
const char kSound[] = "osascript -e set volume 5";
const char kOpen[] = "open /Applications/Voskel.app";

TEST(ContinuousHealthy, ChecksEveryIntervalAndWritesNothing) {
    FakeMac mac;
    mac.SetConfig("delayseconds=1\n");
    mac.Start(kProgram, {"--verbose"});
    ASSERT_TRUE(WaitUntil([&] { return mac.CallsOf(kDiskutilAppleRaid).size() >= 6; }, 15));

    const auto calls = mac.Calls();
    EXPECT_EQ(calls[0].Line(), "cat /etc/voskeld.conf");
    const auto probes = mac.CallsOf(kDiskutilAppleRaid);
    EXPECT_EQ(probes.size() + 1, calls.size()) << "started something besides the probes";
    for (std::size_t k = 2; k < 6; k += 2) {
        EXPECT_TRUE(Within(probes[k].time - probes[k - 2].time, 1.0, 3.0)) << "cycle " << k / 2;
    }
    EXPECT_EQ(mac.Output(), "");
}

// One run: an alert with the mail, a quiet cycle, both probes failing, then
// quiet again. Cycles follow at once, so every gap is an alert's own pause.
TEST(ContinuousAlert, AlertsEveryFailingProbeAndMailsOncePerRun) {
    FakeMac mac;
    mac.SetRaidSequence({"missing", "missing", "healthy", "healthy", "missing", "failed",
                         "healthy"});
    mac.Start(kProgram);
    ASSERT_TRUE(WaitUntil([&] { return mac.CallsOf(kDiskutilAppleRaid).size() >= 14; }, 40));

    const auto probes = mac.CallsOf(kDiskutilAppleRaid);
    const auto sounds = mac.CallsOf(kSound);
    const auto opens = mac.CallsOf(kOpen);
    const auto mails = mac.CallsOf(kMailCall);
    ASSERT_EQ(sounds.size(), 3u) << "a failure that cleared still alerted, or one was missed";
    ASSERT_EQ(opens.size(), 3u);
    ASSERT_EQ(mails.size(), 1u) << "a later alert mailed again";

    // First alert: Sound and Open at once, Mail 2 s later, next probe 2 s after
    // that. Counted from the failing probe, which a stand-in records before
    // the daemon sees its answer: an alert's stand-in may start late, never
    // early. "At once" allows for the probe itself on a busy machine.
    EXPECT_LT(sounds[0].time - probes[0].time, 4.0);
    EXPECT_LT(opens[0].time - probes[0].time, 4.0);
    EXPECT_TRUE(Within(mails[0].time - probes[0].time, 2.0, 5.0)) << mails[0].time - probes[0].time;
    EXPECT_TRUE(Within(probes[1].time - probes[0].time, 4.0, 7.0)) << probes[1].time - probes[0].time;
    // The quiet cycle between takes no time of its own.
    EXPECT_LT(probes[4].time - probes[1].time, 4.0);
    // Both probes failing: two alerts in one cycle, 2 s each, no mail.
    for (std::size_t k = 1; k < 3; ++k) {
        const Call& failing = probes[3 + k];
        EXPECT_LT(sounds[k].time - failing.time, 4.0) << "alert " << k;
        EXPECT_LT(opens[k].time - failing.time, 4.0) << "alert " << k;
        EXPECT_TRUE(Within(probes[4 + k].time - failing.time, 2.0, 5.0)) << "alert " << k;
    }
    EXPECT_TRUE(WaitUntil([&] { return CountChildren(mac.Pid(), 'Z') == 0; }, 5))
        << "alert commands that ended are left as zombies while the checks go on";
    EXPECT_EQ(mac.Output(), "");
}

}  // namespace
