#include "fakemac.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

const char kDiskutilListraid[] = "diskutil listraid";
const char kDiskutilAppleRaid[] = "diskutil appleRAID list";
const char kMailCall[] = "python /usr/bin/voskeldemail.py";

std::string Call::Line() const {
    std::string line;
    for (const auto& arg : argv) {
        line += (line.empty() ? "" : " ") + arg;
    }
    return line;
}

FakeMac::FakeMac() {
    char pattern[] = "/tmp/fakemac.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir_ = pattern;
}

FakeMac::~FakeMac() {
    Stop();
    const std::string command = "rm -rf '" + dir_ + "'";
    if (std::system(command.c_str()) != 0) {
        // A leftover folder in /tmp is no reason to fail a test.
    }
}

void FakeMac::WriteFile(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
}

void FakeMac::SetRaidSequence(const std::vector<std::string>& states) const {
    std::string text;
    for (const auto& state : states) {
        text += state + "\n";
    }
    WriteFile("raid-sequence", text);
}

void FakeMac::Start(const std::string& program, const std::vector<std::string>& args,
                    const std::function<void()>& setup) {
    const std::string path = std::string(FAKEMAC_BIN) + ":" + std::getenv("PATH");
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == -1) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        // Its own group keeps a stop from missing the sounds it left running;
        // that also keeps Ctrl-C from reaching it, so it dies with the test.
        setpgid(0, 0);
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
            _exit(127);
        }
        const int out = open((dir_ + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((dir_ + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        close(out);
        close(err);
        // Only 0, 1 and 2, as launchd would give it, whatever the test runner left open.
        close_range(3, ~0U, 0);
        setenv("PATH", path.c_str(), 1);
        setenv("FAKEMAC_DIR", dir_.c_str(), 1);
        if (setup) {
            setup();
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        const std::string why = "test setup: cannot run " + program + ": " + std::strerror(errno) + "\n";
        (void)!write(STDERR_FILENO, why.data(), why.size());
        _exit(127);
    }
    setpgid(pid, pid);
    pid_ = pid;
}

void FakeMac::Stop() {
    if (pid_ <= 0) {
        return;
    }
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string FakeMac::ReadFile(const std::string& name) const {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<Call> FakeMac::Calls() const {
    std::vector<Call> calls;
    std::string text = ReadFile("calls.log");
    // A stand-in may be halfway through its line.
    text.erase(text.find_last_of('\n') + 1);
    std::istringstream log(text);
    std::string line;
    while (std::getline(log, line)) {
        std::istringstream fields(line);
        std::string field;
        Call call{0, {}};
        std::getline(fields, field, '\t');
        call.time = std::stod(field);
        while (std::getline(fields, field, '\t')) {
            call.argv.push_back(field);
        }
        calls.push_back(call);
    }
    return calls;
}

std::vector<Call> FakeMac::CallsOf(const std::string& line) const {
    std::vector<Call> matching;
    for (const auto& call : Calls()) {
        if (call.Line() == line) {
            matching.push_back(call);
        }
    }
    return matching;
}

bool WaitUntil(const std::function<bool()>& condition, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool Within(double value, double low, double high) {
    return value >= low && value < high;
}

std::size_t CountLines(const std::string& text) {
    std::size_t lines = 0;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines;
}

std::size_t CountChildren(pid_t parent, char state) {
    std::size_t children = 0;
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
        char actual = 0;
        pid_t ppid = 0;
        fields >> actual >> ppid;
        if (ppid == parent && (state == 0 || actual == state)) {
            ++children;
        }
    }
    closedir(proc);
    return children;
}
