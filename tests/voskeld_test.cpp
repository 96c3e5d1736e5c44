// Faults of the latching edition, run end to end through the stand-in Mac.
#include "fakemac.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kProgram[] = VOSKELD_PROGRAM;
const char kSound[] = "osascript -e set volume 6";
const char kFront[] = "osascript -e tell application \"Voskel\" to activate";
const char kDialog[] =
    "osascript -e tell application \"Finder\" to display dialog \"Voskel alert: RAID ERROR! "
    "Please open Voskel to stop audio alerts and verify RAID status.\"";

const std::string kBanner = "Voskel 2.2 daemon started. \n";
const std::string kOK = "RAID volumes status: OK\n";
const std::string kAlarmLines =
    "Voskel: RAID ERROR. An AppleRAID volume has failed. \n"
    "Sending alert email...\n"
    "Alert email sent.\n";

std::string Progress(int seconds) {
    return "Checking RAID volumes status every " + std::to_string(seconds) + " seconds\n";
}

TEST(VoskeldHealthy, WritesEachCycleToAFileAsItRunsAndIgnoresArguments) {
    const struct {
        const char* config;  // nullptr: no file
        std::vector<std::string> args;
        int interval;
    } cases[] = {
        {"delayseconds=1\n", {}, 1},
        {"delayseconds=1\n", {"--help", "-d", "5", "/etc/other.conf"}, 1},
        {nullptr, {}, 0},
        {"delayseconds=-5\n", {}, -5},  // shown as read, and no pause at all
    };
    std::vector<std::unique_ptr<FakeMac>> macs;
    for (const auto& c : cases) {
        macs.push_back(std::make_unique<FakeMac>());
        if (c.config != nullptr) {
            macs.back()->SetConfig(c.config);
        }
        macs.back()->Start(kProgram, c.args);
    }
    for (std::size_t i = 0; i < macs.size(); ++i) {
        const auto& c = cases[i];
        FakeMac& mac = *macs[i];
        SCOPED_TRACE(c.config ? c.config : "(no file)");
        const std::string cycle = Progress(c.interval) + kOK + kOK;
        const std::string expected = kBanner + cycle + cycle + cycle;
        // The lines must reach the file while the daemon still runs.
        EXPECT_TRUE(WaitUntil([&] { return mac.Output().size() >= expected.size(); }, 15));
        EXPECT_EQ(mac.Output().substr(0, expected.size()), expected);

        const auto calls = mac.Calls();
        ASSERT_GE(calls.size(), 6u);
        EXPECT_EQ(calls[0].Line(), "cat /etc/voskeld.conf");
        for (std::size_t k = 1; k < calls.size(); ++k) {
            EXPECT_EQ(calls[k].Line(), kDiskutilListraid) << "call " << k;
        }
        // The Missing probe opens each cycle; cycles are one interval apart.
        for (std::size_t k = 3; k + 1 < 6; k += 2) {
            const double gap = calls[k].time - calls[k - 2].time;
            EXPECT_TRUE(Within(gap, c.interval > 0 ? c.interval : 0, std::max(c.interval, 0) + 2.0))
                << gap;
        }
    }
}

TEST(VoskeldAlarm, LatchesAtTheFirstFailureAndSoundsOnSchedule) {
    const struct {
        const char* name;
        std::vector<std::string> raid;
        std::string linesBeforeAlarm;
        std::size_t failingCall;  // 1-based count of diskutil calls
    } cases[] = {
        {"missing in the second cycle", {"healthy", "healthy", "missing"},
         Progress(0) + kOK + kOK + Progress(0), 3},
        {"failed set", {"healthy", "failed"}, Progress(0) + kOK, 2},
        {"two members missing", {"missing-twice"}, Progress(0), 1},
    };
    std::vector<std::unique_ptr<FakeMac>> macs;
    for (const auto& c : cases) {
        macs.push_back(std::make_unique<FakeMac>());
        macs.back()->SetRaidSequence(c.raid);
        macs.back()->Start(kProgram);
    }
    for (std::size_t i = 0; i < macs.size(); ++i) {
        const auto& c = cases[i];
        FakeMac& mac = *macs[i];
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WaitUntil([&] { return mac.CallsOf(kSound).size() >= 3; }, 40));

        EXPECT_EQ(mac.Output(), kBanner + c.linesBeforeAlarm + kAlarmLines);
        const auto probes = mac.CallsOf(kDiskutilListraid);
        ASSERT_EQ(probes.size(), c.failingCall) << "a probe ran after the failure";
        const double failed = probes.back().time;

        // Counted from the failing probe, which a stand-in records before the
        // daemon sees its answer: a sound's stand-in may start late, never early.
        const auto sounds = mac.CallsOf(kSound);
        const double due[] = {4.0, 9.0, 13.0};
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_TRUE(Within(sounds[k].time - failed, due[k], due[k] + 3.0))
                << "sound " << k << " at " << sounds[k].time - failed;
        }
        EXPECT_GE(mac.CallsOf("afplay /usr/bin/voskeld.wav").size(), 2u);

        // Launched at once after the sound, in shells of their own: on a busy
        // machine either stand-in may be the first to write down its start.
        for (const char* once : {kFront, kMailCall, kDialog}) {
            const auto calls = mac.CallsOf(once);
            ASSERT_EQ(calls.size(), 1u) << once;
            const double after = calls[0].time - sounds[0].time;
            EXPECT_TRUE(Within(after, -1.0, 3.0)) << once << " at " << after;
        }
    }
}

}  // namespace
