// Faults of the shell queries: capture, launch, interval and probe evaluation.
#include "shell.h"
#include "fakemac.h"

#include <dirent.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Capture(const char* commandLine, std::size_t maxBytes = kProbeLimit) {
    static char area[kProbeLimit];
    return std::string(area, CaptureCommand(commandLine, area, maxBytes, kCaptureSeconds).length);
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
        {"no-such-command-voskeld 2>/dev/null | cat", kProbeLimit, ""},  // ran, read nothing
        {"printf x; exit 3", kProbeLimit, "x"},  // text was made, whatever the status
        {"printf 1234567890", 4, "1234"},
        {"printf 123; sleep 0.1; printf 4567", 4, "1234"},  // the limit across reads
        {"printf a; printf b >&2", kProbeLimit, "a"},  // stderr is not captured
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Capture(c.commandLine, c.maxBytes), c.expected) << c.commandLine;
    }
}

TEST(CaptureCommand, ReturnsPromptlyAtTheLimitOrTheEndOfItsOutput) {
    const struct {
        const char* commandLine;
        std::size_t maxBytes;
        std::size_t expectedSize;
    } cases[] = {
        {"head -c 3000000 /dev/zero | tr '\\0' x", kProbeLimit, kProbeLimit},
        {"yes", kIntervalLimit, kIntervalLimit},  // never ends by itself: only the closed pipe stops it
        {"sleep 3 >/dev/null 2>&1 & printf abc", kProbeLimit, 3},  // the background child holds no pipe
        {"printf 1234; sleep 3 2>/dev/null &", 4, 4},  // at the limit, the pipe still held open
    };
    for (const auto& c : cases) {
        const auto start = Clock::now();
        const std::string text = Capture(c.commandLine, c.maxBytes);
        EXPECT_LT(SecondsSince(start), 2.0) << c.commandLine;
        EXPECT_EQ(text.size(), c.expectedSize) << c.commandLine;
    }
}

// The processes whose command line is commandLine, zombies left out: their
// reaper may not be us. Plain calls only: this runs in a child at a
// descriptor limit of 5.
std::size_t CountProcesses(std::string commandLine) {
    std::replace(commandLine.begin(), commandLine.end(), ' ', '\0');
    commandLine += '\0';
    std::size_t count = 0;
    DIR* proc = opendir("/proc");
    while (proc != nullptr) {
        const dirent* entry = readdir(proc);
        if (entry == nullptr) {
            break;
        }
        char text[256];
        const std::string path = std::string("/proc/") + entry->d_name + "/cmdline";
        const int fd = open(path.c_str(), O_RDONLY);
        const ssize_t n = fd == -1 ? -1 : read(fd, text, sizeof text);
        if (fd != -1) {
            close(fd);
        }
        count += n > 0 && commandLine == std::string(text, static_cast<std::size_t>(n)) ? 1u : 0u;
    }
    if (proc != nullptr) {
        closedir(proc);
    }
    return count;
}

// A row's child ends itself this long after it starts, however its row
// fails: as uid 65534 it would hold that user's process count for every
// later run.
const unsigned kRowSeconds = 60;

void RaiseLimits(int) {
    for (const int resource : {RLIMIT_NOFILE, RLIMIT_NPROC}) {
        rlimit limit{};
        getrlimit(resource, &limit);
        limit.rlim_cur = limit.rlim_max;
        setrlimit(resource, &limit);
    }
    // The timer that raised the limits now ends the row.
    signal(SIGALRM, SIG_DFL);
    alarm(kRowSeconds);
}

// Out of descriptors or processes, a capture that gave empty text would read
// as a healthy RAID, and a launch that gave up would lose the alert for good;
// so would a shell that started but could not build the pipeline.
TEST(StartFailure, WaitsForResourcesUpToTheLimitInsteadOfSkippingTheCommand) {
    FakeMac mac;
    const std::string marker = mac.Dir() + "/done";
    const std::string launched = "touch '" + marker + "'";
    const auto capture = [](const char* commandLine) {
        return [commandLine] {
            char area[kIntervalLimit];
            const Captured captured = CaptureCommand(commandLine, area, sizeof area, kCaptureSeconds);
            return std::string(area, captured.length) == "abc";
        };
    };
    // Gives up a second before the limit rather than start a try that could
    // only be cut off, and counts a try the limit cuts off after failed starts
    // as not run, not as a hang.
    const auto givesUp = [](const char* commandLine, double low, double high) {
        return [=] {
            char area[kIntervalLimit];
            const auto start = Clock::now();
            const Captured captured = CaptureCommand(commandLine, area, sizeof area, 3);
            return captured.end == CaptureEnd::kNotRun && Within(SecondsSince(start), low, high);
        };
    };
    // Three commands and two pipes, like the probes.
    const auto probe = [](const char* listing, int limitSeconds) {
        return [=] {
            char area[kProbeLimit];
            const std::string pipeline = std::string("printf '") + listing + "\\n' | cat | cat";
            return RunProbe(pipeline.c_str(), resultKey, area, limitSeconds);
        };
    };
    const struct {
        const char* name;
        int resource;
        rlim_t limit;  // raised after 1.2 s, unless lifted is false
        bool lifted;
        std::function<bool()> run;
        const char* outcome;  // our last stderr line
    } cases[] = {
        {"capture, no descriptor for the pipe", RLIMIT_NOFILE, 3, true, capture("printf abc"), "after all"},
        {"capture, no process", RLIMIT_NPROC, 0, true, capture("printf abc"), "after all"},
        {"launch, no process", RLIMIT_NPROC, 0, true, [&] {
             LaunchCommand(launched.c_str());
             return WaitUntil([&] { return access(marker.c_str(), F_OK) == 0; }, 5);
         }, "after all"},
        {"pipeline, the shell cannot pipe", RLIMIT_NOFILE, 5, true, capture("printf abc | cat | cat"),
         "after all"},
        {"capture, the shell never can pipe", RLIMIT_NOFILE, 5, false,
         givesUp("printf abc | cat | cat", 2.0, 2.5), "trying again every second"},
        {"capture, no descriptor, then a try that the limit cuts off", RLIMIT_NOFILE, 3, true,
         givesUp("sleep 30", 3.0, 4.0), "trying again every second"},
        {"probe, the shell cannot fork, then can", RLIMIT_NPROC, 2, true,
         probe("Missing/Damaged", kCaptureSeconds), "after all"},
        {"probe, the shell never can", RLIMIT_NPROC, 2, false, probe("Online", 3),
         "could not run within 3 seconds: counted as a failure"},
        // The first shell takes the last process and ends unable to fork: its
        // zombie must not hold that process from the next launch.
        {"launch after one whose shell could not fork", RLIMIT_NPROC, 2, false, [&] {
             LaunchCommand("i=0; while [ $i -lt 20000 ]; do i=$((i+1)); done; true | true");
             LaunchCommand((": >'" + marker + "'").c_str());  // no fork needed
             return WaitUntil([&] { return access(marker.c_str(), F_OK) == 0; }, 20);
         }, "after all"},
        // The shell starts a hung diskutil, then fails at the second pipe.
        // A launched command that has ended holds the last process as a
        // zombie until a retry of the capture reaps it.
        {"capture after a launch that has ended", RLIMIT_NPROC, 3, false, [&] {
             LaunchCommand("exit 0");
             WaitUntil([] { return CountChildren(getpid(), 'Z') == 1; }, 5);
             rlimit two{};
             getrlimit(RLIMIT_NPROC, &two);
             two.rlim_cur = 2;
             setrlimit(RLIMIT_NPROC, &two);
             char area[kIntervalLimit];
             const Captured captured = CaptureCommand("printf abc", area, sizeof area, 5);
             return captured.end == CaptureEnd::kRan && std::string(area, captured.length) == "abc";
         }, "after all"},
        {"probe, a hung first command, then no descriptor", RLIMIT_NOFILE, 5, false, [&] {
             char area[kProbeLimit];
             // Named by our pid, so that only the sleeps of this try count.
             const std::string sleep = "sleep 30." + std::to_string(getpid());
             const bool failed = RunProbe((sleep + " | cat | cat").c_str(), resultKey, area, 3);
             return failed && WaitUntil([&] { return CountProcesses(sleep) == 0; }, 3);
         }, "could not run within 3 seconds: counted as a failure"},
    };
    chmod(mac.Dir().c_str(), 0777);  // for the user we become
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.resource == RLIMIT_NPROC && geteuid() != 0) {
            // Not gtest's skip line, which would mark the rows that ran as skipped too.
            std::printf("Row \"%s\" left out: a process limit binds only a user with no other\n"
                        "processes, and only root can become one\n", c.name);
            continue;
        }
        const auto start = Clock::now();
        // A child given our unwritten lines would write them again.
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            Redirect err(STDERR_FILENO, mac.Dir() + "/stderr");
            // Only 0, 1 and 2: the limits then mean the same in every run.
            close_range(3, ~0U, 0);
            // The process limit binds every user but root.
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
                _exit(2);
            }
            // After setuid, which clears it.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            alarm(kRowSeconds);
            const std::size_t descriptors = CountOpenDescriptors();
            rlimit limit{};
            getrlimit(c.resource, &limit);
            limit.rlim_cur = c.limit;
            setrlimit(c.resource, &limit);
            if (c.lifted) {
                signal(SIGALRM, RaiseLimits);
                const itimerval later{{0, 0}, {1, 200000}};
                setitimer(ITIMER_REAL, &later, nullptr);
            }
            if (!c.run()) {
                _exit(1);
            }
            _exit(CountOpenDescriptors() == descriptors ? 0 : 3);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "could not become uid 65534";
        EXPECT_NE(WEXITSTATUS(status), 1) << "the command never ran, or was misjudged:\n" << mac.Errors();
        EXPECT_NE(WEXITSTATUS(status), 3) << "a descriptor leaked";
        EXPECT_GE(SecondsSince(start), c.lifted ? 2.0 : 1.0) << "tried again without a pause";
        const std::string errors = mac.Errors();
        std::size_t told = 0;
        for (std::size_t at = 0; (at = errors.find("trying again every second", at)) != std::string::npos; ++at) {
            ++told;
        }
        EXPECT_EQ(told, 1u) << "not told once per run of failures:\n" << errors;
        EXPECT_NE(errors.find(c.outcome), std::string::npos) << errors;
        unlink(marker.c_str());
    }
}

// A hung disk utility must not stop the watch: its whole pipeline is ended
// at the limit, and what it wrote by then is kept.
TEST(CaptureCommand, EndsTheWholePipelineAtTheTimeLimit) {
    FakeMac mac;
    const std::string pidFile = mac.Dir() + "/member";
    const std::string hungMember = "sh -c 'echo $$ >" + pidFile + "; exec sleep 30' | cat";
    const struct {
        std::string commandLine;
        std::string expected;
    } cases[] = {
        {"printf 42; sleep 30", "42"},
        {"exec >&-; sleep 30", ""},  // output closed, command still running
        {hungMember, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine);
        char area[kIntervalLimit];
        const auto start = Clock::now();
        const Captured captured = CaptureCommand(c.commandLine.c_str(), area, sizeof area, 1);
        EXPECT_GE(SecondsSince(start), 1.0);
        EXPECT_LT(SecondsSince(start), 3.0);
        EXPECT_EQ(captured.end, CaptureEnd::kTimedOut);
        EXPECT_EQ(std::string(area, captured.length), c.expected);
    }
    EXPECT_FALSE(WaitUntil([] { return waitpid(-1, nullptr, WNOHANG) > 0; }, 1))
        << "a killed shell was left unreaped";
    const pid_t member = std::stoi(mac.ReadFile("member"));
    EXPECT_TRUE(WaitUntil([&] { return kill(member, 0) == -1; }, 3))
        << "a member of the pipeline outlived the time limit";
}

// However long it runs after its output has ended, within the time limit.
TEST(CaptureCommand, WaitsForTheCommandAfterItsOutputEnds) {
    FakeMac mac;
    const std::string marker = mac.Dir() + "/done";
    for (const char* seconds : {"0.3", "3"}) {
        SCOPED_TRACE(seconds);
        const std::string commandLine = std::string("exec >&-; sleep ") + seconds + "; touch '" + marker + "'";
        char area[kIntervalLimit];
        EXPECT_EQ(CaptureCommand(commandLine.c_str(), area, sizeof area, kCaptureSeconds).end, CaptureEnd::kRan);
        EXPECT_EQ(unlink(marker.c_str()), 0) << "returned before the command ended";
    }
}

TEST(CaptureCommand, KeepsNoBytesOfALongerEarlierCapture) {
    char area[kProbeLimit];
    EXPECT_TRUE(RunProbe("printf 'Missing/Damaged\\n'", resultKey, area, kCaptureSeconds));
    // The earlier text left "aged\n" behind in the area: it must not count.
    EXPECT_FALSE(RunProbe("printf 'Missing/Dam'", resultKey, area, kCaptureSeconds));
    EXPECT_EQ(CaptureCommand("printf abc", area, kProbeLimit, kCaptureSeconds).length, 3u);
}

TEST(LaunchCommand, ReturnsAtOnceWithoutWaitingForTheCommand) {
    const auto start = Clock::now();
    LaunchCommand("exec 2>&-; sleep 3");
    EXPECT_LT(SecondsSince(start), 2.0);
}

// A command in a process group of its own would outlive a stop of the job.
TEST(LaunchCommand, DropsTheCommandsStdoutSharesOurStderrAndProcessGroup) {
    FakeMac mac;
    const std::string marker = mac.Dir() + "/done";
    const std::string commandLine = "echo to-stdout; echo to-stderr >&2; awk '{print $5}' /proc/$$/stat >'" +
                                    marker + ".new'; mv '" + marker + ".new' '" + marker + "'";
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
    EXPECT_EQ(mac.ReadFile("done"), std::to_string(getpgrp()) + "\n");
}

// Hung alarm sounds must not take the user's last process: past the cap a
// launch waits for one to end, and none is skipped.
TEST(LaunchCommand, WaitsAtTheCapOfRunningCommandsAndSkipsNone) {
    FakeMac mac;
    const std::string marker = mac.Dir() + "/done";
    const std::string last = "touch '" + marker + "'";
    double waited = 0;
    std::size_t children = 0;
    {
        Redirect err(STDERR_FILENO, mac.Dir() + "/stderr");
        for (int i = 0; i < kMaxLaunched; ++i) {
            LaunchCommand("sleep 1");
        }
        const auto start = Clock::now();
        LaunchCommand(last.c_str());
        waited = SecondsSince(start);
        children = CountChildren(getpid());
    }
    EXPECT_GE(waited, 1.0) << "started past the cap";
    EXPECT_LE(children, static_cast<std::size_t>(kMaxLaunched));
    EXPECT_TRUE(WaitUntil([&] { return access(marker.c_str(), F_OK) == 0; }, 5)) << "skipped";
    EXPECT_EQ(CountLines(mac.Errors()), 1u) << mac.Errors();
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
    EXPECT_LE(CountChildren(getpid(), 'Z'), static_cast<std::size_t>(kMaxLaunched));
    EXPECT_TRUE(WaitUntil([] { ReapLaunched(); return CountChildren(getpid(), 'Z') == 0; }, 10));
    EXPECT_EQ(CountOpenDescriptors(), descriptors);
    EXPECT_EQ(mac.Output().size(), 0u);
}

// We ignore SIGPIPE and SIGXFSZ ourselves; a command that inherited that
// would write into a closed pipe for ever instead of ending, or go on past a
// file size limit.
TEST(Children, GetTheDefaultSigpipeAndSigxfszThoughWeIgnoreThem) {
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

    signal(SIGXFSZ, SIG_IGN);
    const std::string tooLarge =
        "ulimit -f 1; head -c 5000 /dev/zero >'" + mac.Dir() + "/large' 2>/dev/null; echo $?";
    EXPECT_EQ(Capture(tooLarge.c_str()), std::to_string(128 + SIGXFSZ) + "\n")
        << "the command went on past the file size limit";
    signal(SIGXFSZ, SIG_DFL);
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
        EXPECT_LT(SecondsSince(start), 0.5) << seconds;
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
        {"9999999999999999999999999", INT_MAX},  // past 64 bits too
        {"18446744073709551617", INT_MAX},       // 2^64 + 1, which wraps to 1
        {"-18446744073709551617", INT_MIN},
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

// A configuration that never ends (a FIFO, a hung mount) gives what came by
// the time limit, not nothing: grep passes its lines on a block at a time.
TEST(ReadWaitSeconds, OfAConfigurationThatNeverEndsIsWhatCameByTheLimit) {
    FakeMac mac;
    const std::string path = std::string(FAKEMAC_BIN) + ":" + std::getenv("PATH");
    setenv("FAKEMAC_DIR", mac.Dir().c_str(), 1);
    setenv("PATH", path.c_str(), 1);
    const std::string fifo = mac.Dir() + "/voskeld.conf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    // Enough lines that cut, too, passes a block on; then it never ends.
    const pid_t writer = fork();
    if (writer == 0) {
        const int fd = open(fifo.c_str(), O_WRONLY);
        for (int i = 0; i < 5000; ++i) {
            (void)!write(fd, "delayseconds=7\n", 15);
        }
        pause();
        _exit(0);
    }
    EXPECT_EQ(ReadWaitSeconds(), 7);
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
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
    FakeMac mac;
    // Hangs the first time only, as a check the Mac slept through would.
    const std::string hangsOnce =
        "[ -e " + mac.Dir() + "/tried ] || { touch " + mac.Dir() + "/tried; sleep 30; }";
    const struct {
        std::string commandLine;
        bool expected;
        int limitSeconds = kCaptureSeconds;
        double seconds = 2.0;  // at most: each try gets the limit once
    } cases[] = {
        {"printf 'Missing/Damaged\\n\\0'", true, kCaptureSeconds},
        {"printf 'Missing/Damaged\\0\\n'", false, kCaptureSeconds},  // the zero byte ends the text first
        {"printf '\\0Missing/Damaged\\n'", false, kCaptureSeconds},
        {"printf 'Online\\nMissing/Damaged'", false, kCaptureSeconds},  // no final line end
        {"yes Missing/Damaged", true, kCaptureSeconds},                   // a flood of whole keys
        {"head -c 20000 /dev/zero | tr '\\0' x; echo; echo Missing/Damaged", false, kCaptureSeconds},  // past the limit
        {"head -c 14983 /dev/zero | tr '\\0' x; echo; echo Missing/Damaged", true, kCaptureSeconds},   // just inside it
        {"head -c 14984 /dev/zero | tr '\\0' x; echo; echo Missing/Damaged", false, kCaptureSeconds},  // key cut short
        {"sleep 30", true, 1, 2.5},  // a check that cannot complete, twice, raises the alarm
        {hangsOnce, false, 1, 1.5},  // once is tried again
    };
    char area[kProbeLimit];
    for (const auto& c : cases) {
        const auto start = Clock::now();
        EXPECT_EQ(RunProbe(c.commandLine.c_str(), resultKey, area, c.limitSeconds), c.expected)
            << c.commandLine;
        EXPECT_LT(SecondsSince(start), c.seconds) << c.commandLine;
    }
}

}  // namespace
