// One run of a program in a stand-in Mac: a private folder with its
// configuration, its RAID listings and the log of every command it started.
#ifndef VOSKELD_TESTS_FAKEMAC_H
#define VOSKELD_TESTS_FAKEMAC_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct Call {
    double time;                    // seconds since the epoch
    std::vector<std::string> argv;  // argv[0] is the stand-in's name
    std::string Line() const;       // argv joined by blanks
};

class FakeMac {
public:
    FakeMac();
    ~FakeMac();
    FakeMac(const FakeMac&) = delete;
    FakeMac& operator=(const FakeMac&) = delete;

    const std::string& Dir() const { return dir_; }
    void WriteFile(const std::string& name, const std::string& text) const;
    void SetConfig(const std::string& text) const { WriteFile("voskeld.conf", text); }
    // One listing state per diskutil call; the last one repeats.
    void SetRaidSequence(const std::vector<std::string>& states) const;

    // Starts program in its own process group with stdout and stderr in files
    // of Dir(), the stand-ins first on PATH. setup runs in the child first.
    void Start(const std::string& program, const std::vector<std::string>& args = {},
               const std::function<void()>& setup = nullptr);
    // Kills the program and everything it left running.
    void Stop();
    pid_t Pid() const { return pid_; }

    std::vector<Call> Calls() const;
    std::vector<Call> CallsOf(const std::string& line) const;
    std::string Output() const { return ReadFile("stdout"); }
    std::string Errors() const { return ReadFile("stderr"); }
    std::string ReadFile(const std::string& name) const;

private:
    std::string dir_;
    pid_t pid_ = -1;
};

// Polls condition until it holds or seconds have passed.
bool WaitUntil(const std::function<bool()>& condition, double seconds);

// Timings hold their exact lower bound, what the schedule promises, and a
// generous upper one: a loaded machine is slow, never early.
bool Within(double value, double low, double high);

// Counts the children of parent in state (Z for zombies), or in any state
// when state is 0.
std::size_t CountChildren(pid_t parent, char state = 0);

// Counts the lines of text.
std::size_t CountLines(const std::string& text);

// The commands as the stand-ins record them.
extern const char kDiskutilListraid[];
extern const char kDiskutilAppleRaid[];
extern const char kMailCall[];

#endif
