// Faults under hostile conditions: bad input, a broken disk utility, nobody
// reading stdout, signals ignored or blocked by whoever started us, limits.
#include "fakemac.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <iterator>
#include <cstring>
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

// Root reads any file, so an unreadable one needs a root without the powers
// that override permissions. Changing user instead would fail in a checkout
// that other users cannot enter.
void DropPermissionOverrides() {
    if (geteuid() != 0) {
        return;
    }
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
        if (prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) {
            perror("test setup: cannot drop the capability to read any file");
            _exit(126);
        }
    }
}

// Out of descriptors at start-up, then given them back: the interval must be
// read once they are, not taken as 0 for the whole run.
void LimitDescriptorsForAWhile() {
    // 0, 1 and 2 and one more: enough to load the program, too few for a pipe.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlim_t usual = limit.rlim_cur;
    limit.rlim_cur = 4;
    setrlimit(RLIMIT_NOFILE, &limit);
    const pid_t daemon = getpid();
    if (fork() == 0) {
        sleep(1);
        limit.rlim_cur = usual;
        prlimit(daemon, RLIMIT_NOFILE, &limit, nullptr);
        _exit(0);
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
         DropPermissionOverrides, 0},
        {"read while out of descriptors", [](FakeMac& mac) { mac.SetConfig("delayseconds=7\n"); },
         LimitDescriptorsForAWhile, 7},
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
        EXPECT_TRUE(WaitUntil([&] { return mac.Output().find(progress + kOK + kOK) != std::string::npos; }, 20))
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
        ASSERT_TRUE(WaitUntil([&] { return mac.CallsOf(diskutil).size() >= 6; }, 20));
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

TEST(HostileStdout, NobodyReadingOrClosedDoesNotSilenceTheAlarm) {
    const struct {
        const char* name;
        std::function<void()> setup;
    } cases[] = {
        {"nobody reading", [] {
             int fds[2];
             if (pipe(fds) != 0 || dup2(fds[1], STDOUT_FILENO) == -1) {
                 _exit(126);
             }
             close(fds[0]);
             close(fds[1]);
         }},
        // A capture's pipe must not take the place of stdin or stdout.
        {"stdin and stdout closed", [] {
             close(STDIN_FILENO);
             close(STDOUT_FILENO);
         }},
        {"stderr closed", [] { close(STDERR_FILENO); }},
        {"log at its size limit", [] {
             const rlimit limit{1 << 20, 1 << 20};
             setrlimit(RLIMIT_FSIZE, &limit);
             lseek(STDOUT_FILENO, (1 << 20) - 10, SEEK_SET);
         }},
    };
    std::vector<std::unique_ptr<FakeMac>> macs;
    for (const auto& c : cases) {
        macs.push_back(std::make_unique<FakeMac>());
        macs.back()->SetConfig("delayseconds=0\n");
        macs.back()->SetRaidSequence({"healthy", "healthy", "missing"});
        macs.back()->Start(kVoskeld, {}, c.setup);
    }
    for (std::size_t i = 0; i < macs.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        FakeMac& mac = *macs[i];
        ASSERT_TRUE(WaitUntil([&] { return mac.CallsOf(kMailCall).size() == 1; }, 20))
            << "the watch ended when a line could not be written\n" << mac.Errors();
        EXPECT_TRUE(WaitUntil([&] { return mac.CallsOf("osascript -e set volume 6").size() == 2; }, 20));
        EXPECT_EQ(mac.CallsOf(kDiskutilListraid).size(), 3u);
        EXPECT_TRUE(Running(mac));
        EXPECT_EQ(mac.Errors(), "");
        EXPECT_EQ(mac.ReadFile("complaints"), "");
    }
}

// Ignored SIGCHLD would take our children from us before we wait for them,
// and every alert would be reported as maybe not started; ignored SIGPIPE
// would let a flooding diskutil write for ever.
TEST(HostileSignals, IgnoredAtStartChangeNoTiming) {
    FakeMac mac;
    mac.SetConfig("delayseconds=0\n");
    mac.SetRaidSequence({"flood", "healthy"});
    mac.Start(kContinuous, {}, [] {
        signal(SIGCHLD, SIG_IGN);
        signal(SIGPIPE, SIG_IGN);
    });
    ASSERT_TRUE(WaitUntil([&] { return mac.CallsOf(kDiskutilAppleRaid).size() >= 4; }, 20))
        << "a probe hung";
    const auto probes = mac.CallsOf(kDiskutilAppleRaid);
    EXPECT_GE(probes[1].time - probes[0].time, 3.6) << "the first alert took less than 4 s";
    EXPECT_LT(probes[1].time - probes[0].time, 6.0) << "the first alert took more than 4 s";
    EXPECT_LT(probes[3].time - probes[1].time, 2.0);
    EXPECT_EQ(mac.CallsOf(kMailCall).size(), 1u);
    EXPECT_EQ(mac.Errors(), "");
}

// Blocked by whoever started us, these would leave only SIGKILL to stop us.
TEST(HostileSignals, BlockedAtStartStillStopTheDaemon) {
    const int signals[] = {SIGTERM, SIGINT, SIGHUP};
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int number : signals) {
        sigaddset(&blocked, number);
    }
    std::vector<std::unique_ptr<FakeMac>> macs;
    for (std::size_t i = 0; i < std::size(signals); ++i) {
        macs.push_back(std::make_unique<FakeMac>());
        macs.back()->SetConfig("delayseconds=60\n");
        macs.back()->Start(kVoskeld, {}, [&] { sigprocmask(SIG_BLOCK, &blocked, nullptr); });
    }
    for (std::size_t i = 0; i < macs.size(); ++i) {
        SCOPED_TRACE(strsignal(signals[i]));
        FakeMac& mac = *macs[i];
        ASSERT_TRUE(WaitUntil([&] { return CountLines(mac.Output()) == 4; }, 20));
        kill(mac.Pid(), signals[i]);
        EXPECT_TRUE(WaitUntil([&] { return !Running(mac); }, 5));
    }
}

}  // namespace
