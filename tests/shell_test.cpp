// Faults of the shell queries: capture, launch, interval and probe evaluation.
#include "shell.h"
#include "fakemac.h"

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Capture(const char* commandLine, std::size_t maxBytes = kProbeLimit) {
    static char area[kProbeLimit];
    return std::string(area, CaptureCommand(commandLine, area, maxBytes));
}

std::size_t CountOpenDescriptors() {
    std::size_t count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(dir);
    return count - 1;  // the one opendir holds
}

std::size_t CountZombieChildren() {
    std::size_t zombies = 0;
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') {
            continue;
        }
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream fields(text.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        fields >> state >> parent;
        if (state == 'Z' && parent == getpid()) {
            ++zombies;
        }
    }
    closedir(proc);
    return zombies;
}

// Points one of our descriptors at a file for as long as it lives.
class Redirect {
public:
    Redirect(int fd, const std::string& path) : fd_(fd), saved_(dup(fd)) {
        fflush(nullptr);
        const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(file, fd);
        close(file);
    }
    ~Redirect() {
        fflush(nullptr);
        dup2(saved_, fd_);
        close(saved_);
    }

private:
    int fd_;
    int saved_;
};

TEST(CaptureCommand, ReturnsExactlyTheTextTheCommandWrote) {
    const struct {
        const char* commandLine;
        std::size_t maxBytes;
        std::string expected;
    } cases[] = {
        {"printf 'Missing/Damaged\\n'", kProbeLimit, "Missing/Damaged\n"},
        {"true", kProbeLimit, ""},
        {"printf 'ab\\0cd'", kProbeLimit, "ab"},  // a zero byte ends the text
        {"printf '\\0abc'", kProbeLimit, ""},
        {"no-such-command-voskeld 2>/dev/null", kProbeLimit, ""},
        {"exit 3", kProbeLimit, ""},
        {"printf 1234567890", 4, "1234"},
        {"printf a; printf b >&2", kProbeLimit, "a"},  // stderr is not captured
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Capture(c.commandLine, c.maxBytes), c.expected) << c.commandLine;
    }
}

TEST(CaptureCommand, StopsAtTheLimitAndReturnsPromptlyFromAFlood) {
    const struct {
        const char* commandLine;
        std::size_t maxBytes;
    } floods[] = {
        {"head -c 3000000 /dev/zero | tr '\\0' x", kProbeLimit},
        {"yes", kIntervalLimit},  // never ends by itself: only the closed pipe stops it
    };
    for (const auto& flood : floods) {
        const auto start = Clock::now();
        const std::string text = Capture(flood.commandLine, flood.maxBytes);
        EXPECT_LT(SecondsSince(start), 2.0) << flood.commandLine;
        EXPECT_EQ(text.size(), flood.maxBytes) << flood.commandLine;
    }
}

TEST(CaptureCommand, YieldsEmptyTextWhenNoPipeCanBeMade) {
    const pid_t child = fork();
    if (child == 0) {
        char area[kIntervalLimit];
        std::memset(area, 'x', sizeof area);
        // Only 0, 1 and 2 may be open: pipe() must fail.
        const rlimit three{3, 3};
        setrlimit(RLIMIT_NOFILE, &three);
        _exit(static_cast<int>(CaptureCommand("printf abc", area, sizeof area)));
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "crashed";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CaptureCommand, WaitsForTheCommandAfterItsOutputEnds) {
    FakeMac mac;
    const std::string marker = mac.Dir() + "/done";
    const std::string commandLine = "exec >&-; sleep 0.3; touch '" + marker + "'";
    EXPECT_EQ(Capture(commandLine.c_str()), "");
    EXPECT_EQ(access(marker.c_str(), F_OK), 0) << "returned before the command ended";
}

TEST(CaptureCommand, KeepsNoBytesOfALongerEarlierCapture) {
    char area[kProbeLimit];
    EXPECT_TRUE(RunProbe("printf 'Missing/Damaged\\n'", resultKey, area));
    // The earlier text left "aged\n" behind in the area: it must not count.
    EXPECT_FALSE(RunProbe("printf 'Missing/Dam'", resultKey, area));
    EXPECT_EQ(CaptureCommand("printf abc", area, kProbeLimit), 3u);
}

TEST(LaunchCommand, ReturnsAtOnceWithoutWaitingForTheCommand) {
    const auto start = Clock::now();
    LaunchCommand("exec 2>&-; sleep 3");
    EXPECT_LT(SecondsSince(start), 0.5);
}

TEST(LaunchCommand, DropsTheCommandsStdoutAndSharesOurStderr) {
    FakeMac mac;
    const std::string marker = mac.Dir() + "/done";
    const std::string commandLine =
        "echo to-stdout; echo to-stderr >&2; touch '" + marker + "'";
    bool ended = false;
    {
        Redirect out(STDOUT_FILENO, mac.Dir() + "/stdout");
        Redirect err(STDERR_FILENO, mac.Dir() + "/stderr");
        LaunchCommand(commandLine.c_str());
        ended = WaitUntil([&] { return access(marker.c_str(), F_OK) == 0; }, 5);
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(mac.Output(), "");
    EXPECT_EQ(mac.Errors(), "to-stderr\n");
}

TEST(LaunchCommand, LeavesNoZombieDescriptorOrOutputAfterASoakOf5000Launches) {
    FakeMac mac;
    const std::size_t descriptors = CountOpenDescriptors();
    {
        Redirect out(STDOUT_FILENO, mac.Dir() + "/stdout");
        for (int i = 0; i < 5000; ++i) {
            LaunchCommand("head -c 100000 /dev/zero");
        }
    }
    EXPECT_TRUE(WaitUntil([] { return CountZombieChildren() == 0; }, 10));
    EXPECT_EQ(CountOpenDescriptors(), descriptors);
    EXPECT_EQ(mac.Output().size(), 0u);
}

// We ignore SIGPIPE ourselves; a command that inherited that would write
// into a closed pipe for ever instead of ending.
TEST(Children, GetTheDefaultSigpipeThoughWeIgnoreIt) {
    FakeMac mac;
    const std::string marker = mac.Dir() + "/done";
    const std::string endless = "while :; do echo x; done";
    const std::string launched = "(" + endless + ") | head -c 1 >/dev/null; touch '" + marker + "'";
    signal(SIGPIPE, SIG_IGN);

    const auto start = Clock::now();
    EXPECT_EQ(Capture(endless.c_str(), kIntervalLimit).size(), kIntervalLimit);
    EXPECT_LT(SecondsSince(start), 2.0) << "the captured command outlived its pipe";

    LaunchCommand(launched.c_str());
    EXPECT_TRUE(WaitUntil([&] { return access(marker.c_str(), F_OK) == 0; }, 5))
        << "the launched command outlived its pipe";
    signal(SIGPIPE, SIG_DFL);
}

void Interrupt(int) {}

TEST(PauseSeconds, LastsItsWholeTimeThroughInterruptionsAndSkipsNonPositive) {
    struct sigaction action {};
    action.sa_handler = Interrupt;  // no SA_RESTART: the sleep returns early
    sigaction(SIGALRM, &action, nullptr);
    const itimerval soon{{0, 0}, {0, 300000}};
    setitimer(ITIMER_REAL, &soon, nullptr);
    auto start = Clock::now();
    PauseSeconds(1);
    EXPECT_GE(SecondsSince(start), 1.0);
    signal(SIGALRM, SIG_DFL);

    for (const int seconds : {0, -5, INT_MIN}) {
        start = Clock::now();
        PauseSeconds(seconds);
        EXPECT_LT(SecondsSince(start), 0.1) << seconds;
    }
}

TEST(ConvertInterval, FollowsAtoiAndSaturatesAtThe32BitLimits) {
    const struct {
        std::string text;
        int expected;
    } cases[] = {
        {"30\n", 30},
        {" 30\n", 30},
        {"30s\n", 30},
        {"abc\n", 0},
        {"-5\n", -5},
        {"+7", 7},
        {"\n45\n", 45},
        {" \t\n\v\f\r8", 8},
        {"# delayseconds\n", 0},
        {"", 0},
        {"- 5", 0},
        {"+-5", 0},
        {"3\x00" "9", 3},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"-99999999999", INT_MIN},
        {"000000000000000000000000000012", 12},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConvertInterval(c.text.data(), c.text.size()), c.expected) << c.text;
    }
}

TEST(ReadWaitSeconds, ReadsTheFirstDelaysecondsLineOfTheConfiguration) {
    FakeMac mac;
    const std::string path = std::string(FAKEMAC_BIN) + ":" + std::getenv("PATH");
    setenv("FAKEMAC_DIR", mac.Dir().c_str(), 1);
    setenv("PATH", path.c_str(), 1);
    const struct {
        const char* config;  // nullptr: no file
        int expected;
    } cases[] = {
        {"delayseconds=30\n", 30},
        {"delayseconds = 30\n", 30},
        {"delayseconds=30s\n", 30},
        {"delayseconds=abc\n", 0},
        {"delayseconds=-5\n", -5},
        {"delayseconds=\ndelayseconds=45\n", 45},
        {"# delayseconds\n", 0},
        {"maxdelayseconds=10\ndelayseconds=30\n", 10},
        {"other=4\n", 0},
        {"delayseconds=12", 12},
        {nullptr, 0},
    };
    for (const auto& c : cases) {
        if (c.config == nullptr) {
            unlink((mac.Dir() + "/voskeld.conf").c_str());
        } else {
            mac.SetConfig(c.config);
        }
        EXPECT_EQ(ReadWaitSeconds(), c.expected) << (c.config ? c.config : "(no file)");
    }
    unsetenv("FAKEMAC_DIR");
}

TEST(EvaluateProbe, ReportsAFailureWhenAWholeLineIsTheKey) {
    const std::string missing = resultKey;
    const struct {
        std::string text;
        const char* key;
        bool expected;
    } cases[] = {
        {missing, resultKey, true},
        {missing + missing, resultKey, true},
        {missing + "Online\n", resultKey, true},
        {"Online\n" + missing, resultKey, true},
        {"\nFailed\n", resultKeyb, true},
        {"Failed\n", resultKeyb, true},
        {"", resultKey, false},
        {"Missing/Damaged", resultKey, false},
        {"Missing/Damaged extra\n", resultKey, false},
        {"xMissing/Damaged\n", resultKey, false},
        {"Online\nMissing/Damage", resultKey, false},
        {"Failed\n", resultKey, false},
        {missing, resultKeyb, false},
        {"NotFailed\n", resultKeyb, false},
        {"\n\n\n", resultKeyb, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EvaluateProbe(c.text.data(), c.text.size(), c.key), c.expected)
            << '"' << c.text << "\" against \"" << c.key << '"';
    }
}

TEST(RunProbe, JudgesOddOutputByTheRules) {
    const struct {
        const char* commandLine;
        bool expected;
    } cases[] = {
        {"printf 'Missing/Damaged\\n\\0'", true},
        {"printf 'Missing/Damaged\\0\\n'", false},          // the zero byte ends the text first
        {"printf '\\0Missing/Damaged\\n'", false},
        {"printf 'Online\\nMissing/Damaged'", false},        // no final line end
        {"yes Missing/Damaged", true},                         // a flood of whole keys
        {"head -c 20000 /dev/zero | tr '\\0' x; echo; echo Missing/Damaged", false},  // past the limit
        {"head -c 14983 /dev/zero | tr '\\0' x; echo; echo Missing/Damaged", true},   // just inside it
        {"head -c 14984 /dev/zero | tr '\\0' x; echo; echo Missing/Damaged", false},  // key cut short
    };
    char area[kProbeLimit];
    for (const auto& c : cases) {
        EXPECT_EQ(RunProbe(c.commandLine, resultKey, area), c.expected) << c.commandLine;
    }
}

}  // namespace
