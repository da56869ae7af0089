#pragma once

// Runs the built executable as a separate process with a time limit and collects its standard output.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace qb::test {

struct ChildResult {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out;
    bool timedOut = false;
    std::chrono::milliseconds took{0};
};

// The executable under test: the path the build gave this test, else QB_BUILD_DIR's.
inline std::string quobblefinPath() {
#ifdef QB_QUOBBLEFIN_PATH
    return QB_QUOBBLEFIN_PATH;
#else
    const char* build = std::getenv("QB_BUILD_DIR");
    return std::string(build != nullptr ? build : ".") + "/src/app/quobblefin";
#endif
}

struct ChildOptions {
    std::vector<std::string> arguments;
    // Changes to this process's environment: a value of nullopt removes the variable.
    std::map<std::string, std::optional<std::string>> environment;
    std::string workingDirectory;  // empty: ours
    std::chrono::milliseconds limit{60'000};
};

// Starts `program` and waits at most `options.limit`; a child still running then is killed.
inline ChildResult runChild(const std::string& program, const ChildOptions& options) {
    const auto& arguments = options.arguments;
    const auto& environment = options.environment;
    const auto limit = options.limit;
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string::npos)
            merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : environment) {
        if (value)
            merged[name] = *value;
        else
            merged.erase(name);
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : merged)
        envText.push_back(name + "=" + value);
    std::vector<std::string> argText{program};
    argText.insert(argText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (auto& text : argText)
        argv.push_back(text.data());
    for (auto& text : envText)
        envp.push_back(text.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    ChildResult result;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    if (!options.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
    pid_t child = -1;
    const auto started = std::chrono::steady_clock::now();
    const int spawned = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawned != 0) {
        ::close(pipeEnds[0]);
        return result;
    }
    const auto deadline = started + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(child, SIGKILL);
            break;
        }
        pollfd readable{pipeEnds[0], POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        result.out.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeEnds[0]);
    int waitStatus = 0;
    ::waitpid(child, &waitStatus, 0);
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    if (WIFEXITED(waitStatus))
        result.status = WEXITSTATUS(waitStatus);
    return result;
}

}  // namespace qb::test
