// Faults under hostile conditions: bad input, a broken disk utility, nobody
// reading stdout, signals ignored by whoever started us.
#include "fakemac.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kVoskeld[] = VOSKELD_PROGRAM;
const char kContinuous[] = CONTINUOUS_PROGRAM;
const std::string kOK = "RAID volumes status: OK\n";

bool Running(const FakeMac& mac) {
    return waitpid(mac.Pid(), nullptr, WNOHANG) == 0;
}

// Root reads any file, so an unreadable one needs a user who cannot.
void DropRootForUnreadableFiles() {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
        _exit(126);
    }
}

TEST(HostileConfiguration, GivesTheIntervalByTheRulesWithoutCrashOrHang) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) {
        binary += static_cast<char>((i * 7919) % 256);
    }
    // grep answers "Binary file (standard input) matches" instead of the line.
    binary.insert(2048, "\ndelayseconds=7\n");
    const std::string huge = std::string(1100000, '#') + "\ndelayseconds=9\n";
    const struct {
        const char* name;
        std::function<void(FakeMac&)> prepare;
        std::function<void()> setup;
        int interval;
    } cases[] = {
        {"binary", [&](FakeMac& mac) { mac.SetConfig(binary); }, nullptr, 0},
        {"over 1 MB, value last", [&](FakeMac& mac) { mac.SetConfig(huge); }, nullptr, 9},
        {"a directory", [](FakeMac& mac) { mkdir((mac.Dir() + "/voskeld.conf").c_str(), 0755); },
         nullptr, 0},
        {"unreadable",
         [](FakeMac& mac) {
             mac.SetConfig("delayseconds=7\n");
             chmod((mac.Dir() + "/voskeld.conf").c_str(), 0);
             chmod(mac.Dir().c_str(), 0777);
         },
         DropRootForUnreadableFiles, 0},
    };
    std::vector<std::unique_ptr<FakeMac>> macs;
    for (const auto& c : cases) {
        macs.push_back(std::make_unique<FakeMac>());
        c.prepare(*macs.back());
        macs.back()->Start(kVoskeld, {}, c.setup);
    }
    for (std::size_t i = 0; i < macs.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        FakeMac& mac = *macs[i];
        const std::string progress =
            "Checking RAID volumes status every " + std::to_string(cases[i].interval) + " seconds\n";
        EXPECT_TRUE(WaitUntil([&] { return mac.Output().find(progress + kOK + kOK) != std::string::npos; }, 10))
            << mac.Output() << mac.Errors();
        EXPECT_TRUE(Running(mac));
    }
}

TEST(HostileDiskutil, FailingOrAbsentLetsTheCycleGoOnAndItsErrorReachStderr) {
    const struct {
        const char* program;
        const char* state;
        const char* error;
        std::string eachCycle;
    } cases[] = {
        {kVoskeld, "fails", "could not list AppleRAID sets", kOK + kOK},
        {kVoskeld, "absent", "diskutil: command not found", kOK + kOK},
        {kContinuous, "fails", "could not list AppleRAID sets", ""},
        {kContinuous, "absent", "diskutil: command not found", ""},
    };
    std::vector<std::unique_ptr<FakeMac>> macs;
    for (const auto& c : cases) {
        macs.push_back(std::make_unique<FakeMac>());
        macs.back()->SetRaidSequence({c.state});
        macs.back()->Start(c.program);
    }
    for (std::size_t i = 0; i < macs.size(); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(std::string(c.program) + " with diskutil " + c.state);
        FakeMac& mac = *macs[i];
        const std::string diskutil = c.program == kVoskeld ? kDiskutilListraid : kDiskutilAppleRaid;
        ASSERT_TRUE(WaitUntil([&] { return mac.CallsOf(diskutil).size() >= 6; }, 10));
        EXPECT_NE(mac.Errors().find(c.error), std::string::npos) << mac.Errors();
        EXPECT_EQ(mac.Calls().size(), 7u + (mac.CallsOf(diskutil).size() - 6))
            << "started something besides the probes";
        const std::string output = mac.Output();
        if (c.eachCycle.empty()) {
            EXPECT_EQ(output, "");
        } else {
            EXPECT_NE(output.find(c.eachCycle + "Checking"), std::string::npos) << output;
        }
    }
}

TEST(HostileStdout, NobodyReadingDoesNotSilenceTheAlarm) {
    FakeMac mac;
    mac.SetRaidSequence({"healthy", "healthy", "missing"});
    mac.Start(kVoskeld, {}, [] {
        int fds[2];
        if (pipe(fds) != 0 || dup2(fds[1], STDOUT_FILENO) == -1) {
            _exit(126);
        }
        close(fds[0]);
        close(fds[1]);
    });
    ASSERT_TRUE(WaitUntil([&] { return mac.CallsOf(kMailCall).size() == 1; }, 10))
        << "the watch ended when a line could not be written";
    EXPECT_TRUE(WaitUntil([&] { return mac.CallsOf("osascript -e set volume 6").size() == 2; }, 7));
    EXPECT_TRUE(Running(mac));
}

// Ignored SIGCHLD would make each wait last until the 20-second sound ends;
// ignored SIGPIPE would let a flooding diskutil write for ever.
TEST(HostileSignals, IgnoredAtStartChangeNoTiming) {
    FakeMac mac;
    setenv("FAKEMAC_AFPLAY_SECONDS", "20", 1);
    mac.SetRaidSequence({"flood", "healthy"});
    mac.Start(kContinuous, {}, [] {
        signal(SIGCHLD, SIG_IGN);
        signal(SIGPIPE, SIG_IGN);
    });
    unsetenv("FAKEMAC_AFPLAY_SECONDS");
    ASSERT_TRUE(WaitUntil([&] { return mac.CallsOf(kDiskutilAppleRaid).size() >= 4; }, 10))
        << "a probe hung";
    const auto probes = mac.CallsOf(kDiskutilAppleRaid);
    EXPECT_NEAR(probes[1].time - probes[0].time, 4.2, 0.6) << "the first alert took other than 4 s";
    EXPECT_LT(probes[3].time - probes[1].time, 1.0);
    EXPECT_EQ(mac.CallsOf(kMailCall).size(), 1u);
}

}  // namespace
