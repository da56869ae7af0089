#pragma once

// Runs a program (the built executable, or a tool such as avahi-publish) as a separate process, bounded by a time
// limit, and collects its standard output.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern "C" char** environ;

namespace qb::test {

struct ChildResult {
    int status = -1;  // exit status; -1 when it could not run or the time limit killed it
    std::string out;
    std::chrono::milliseconds took{0};
};

struct ChildOptions {
    std::vector<std::string> arguments;  // after the program
    // Changes to this process's environment: nullopt removes the variable.
    std::map<std::string, std::optional<std::string>> environment = {};
    std::string workingDirectory = ".";
    int limitSeconds = 60;
    bool captureOutput = true;  // else standard output goes to /dev/null
};

// A child started without waiting for it, so that a test can signal it or read from it while it runs. finish()
// collects its output until it exits and ends it (SIGKILL) once `limitSeconds` have passed; a child still
// running when the object goes is stopped (SIGTERM, then SIGKILL).
class RunningChild {
public:
    RunningChild(const std::string& program, const ChildOptions& options) : limitSeconds_(options.limitSeconds) {
        std::map<std::string, std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const auto equals = text.find('=');
            environment[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
        }
        for (const auto& [name, value] : options.environment) {
            if (value)
                environment[name] = *value;
            else
                environment.erase(name);
        }
        std::vector<std::string> texts;
        for (const auto& [name, value] : environment)
            texts.push_back(name + "=" + value);
        std::vector<std::string> arguments{program};
        arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());

        int pipeEnds[2] = {-1, -1};
        if (options.captureOutput && ::pipe(pipeEnds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (options.captureOutput)
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        else
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        // The child must not hold the test's own sockets open (a listener the test closes, say).
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
        const auto argv = pointers(arguments);
        const auto envp = pointers(texts);
        if (::posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (options.captureOutput) {
            ::close(pipeEnds[1]);
            out_ = pipeEnds[0];
        }
        started_ = std::chrono::steady_clock::now();
    }
    ~RunningChild() {
        stop();
        if (out_ >= 0)
            ::close(out_);
    }
    RunningChild(const RunningChild&) = delete;
    RunningChild& operator=(const RunningChild&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& output() const { return output_; }

    // Reads output until `done` holds for what came so far, the output ends, or `limit` passes.
    bool readUntil(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done(output_) && out_ >= 0 && std::chrono::steady_clock::now() < deadline) {
            pollfd ready{out_, POLLIN, 0};
            if (::poll(&ready, 1, 100) <= 0)
                continue;
            char buffer[4096];
            const auto got = ::read(out_, buffer, sizeof buffer);
            if (got <= 0)
                break;
            output_.append(buffer, static_cast<std::size_t>(got));
        }
        return done(output_);
    }

    ChildResult finish() {
        ChildResult result;
        if (pid_ <= 0)
            return result;
        const auto deadline = started_ + std::chrono::seconds(limitSeconds_);
        readUntil([](const std::string&) { return false; },
                  std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
        if (std::chrono::steady_clock::now() >= deadline)
            ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = output_;
        result.took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_);
        return result;
    }

    void stop() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        for (int tries = 0; tries < 50; ++tries) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    static std::vector<char*> pointers(std::vector<std::string>& texts) {
        std::vector<char*> list;
        for (auto& text : texts)
            list.push_back(text.data());
        list.push_back(nullptr);
        return list;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int limitSeconds_;
    std::string output_;
    std::chrono::steady_clock::time_point started_;
};

// Runs the child to its end (or its time limit).
inline ChildResult runChild(const std::string& program, const ChildOptions& options) {
    return RunningChild(program, options).finish();
}

}  // namespace qb::test
