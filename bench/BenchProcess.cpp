#include "BenchProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace qb::bench {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kPoll = 10ms;

double seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

std::vector<std::string> mergedEnvironment(const Environment& changes) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (!changes.contains(text.substr(0, text.find('='))))
            merged.push_back(text);
    }
    for (const auto& [name, value] : changes)
        merged.push_back(name + "=" + value);
    return merged;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

}  // namespace

Child::Child(const std::vector<std::string>& arguments, const Environment& environment, fs::path output)
    : output_(std::move(output)) {
    auto argumentTexts = arguments;
    auto environmentTexts = mergedEnvironment(environment);
    auto argv = pointers(argumentTexts);
    auto envp = pointers(environmentTexts);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    startedAt_ = Clock::now();
    if (::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

Child::~Child() {
    if (pid_ > 0) {
        terminate();
        wait(5s);
    }
}

std::string Child::output() const {
    std::ifstream in(output_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<std::string> Child::waitForLine(const std::string& prefix, std::chrono::milliseconds limit) const {
    const auto end = Clock::now() + limit;
    for (;;) {
        // Whether it still runs is asked before reading, so that a line written just before the exit is seen.
        siginfo_t exited{};
        const bool running =
            pid_ > 0 && (::waitid(P_PID, static_cast<id_t>(pid_), &exited, WEXITED | WNOHANG | WNOWAIT) != 0 ||
                         exited.si_pid != pid_);
        std::istringstream lines(output());
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(prefix, 0) == 0)
                return line.substr(prefix.size());
        }
        if (!running || Clock::now() >= end)
            return std::nullopt;
        std::this_thread::sleep_for(kPoll);
    }
}

Finished Child::wait(std::chrono::milliseconds limit) {
    Finished result;
    if (pid_ <= 0)
        return result;
    const auto end = Clock::now() + limit;
    int status = 0;
    rusage usage{};
    pid_t ended = 0;
    while ((ended = ::wait4(pid_, &status, WNOHANG, &usage)) == 0 && Clock::now() < end)
        std::this_thread::sleep_for(1ms);
    if (ended == 0) {
        ::kill(pid_, SIGKILL);
        ::wait4(pid_, &status, 0, &usage);
        status = -1;
    }
    pid_ = -1;
    result.seconds = std::chrono::duration<double>(Clock::now() - startedAt_).count();
    result.status = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    result.peakKib = usage.ru_maxrss;
    return result;
}

void Child::terminate() {
    if (pid_ > 0)
        ::kill(pid_, SIGTERM);
}

double Child::cpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text;
    std::getline(stat, text);
    // Fields after the command name, which is in parentheses and may hold spaces: utime and stime are the
    // 12th and 13th of them.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 0; index < 13 && fields >> field; ++index) {
        if (index >= 11)
            ticks += std::stod(field);
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long Child::statusField(const std::string& name) const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(name, 0) == 0)
            return std::stol(line.substr(name.size()));
    }
    return 0;
}

long Child::residentKib() const {
    return statusField("VmRSS:");
}

long Child::peakKib() const {
    return statusField("VmHWM:");
}

void Child::resetPeak() const {
    std::ofstream("/proc/" + std::to_string(pid_) + "/clear_refs") << "5";
}

double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double oneMinute = 0;
    in >> oneMinute;
    return oneMinute;
}

}  // namespace qb::bench
