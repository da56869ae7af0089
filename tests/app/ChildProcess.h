#pragma once

// Runs the built executable as a separate process, bounded by `timeout`, and collects its standard output.

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qb::test {

struct ChildResult {
    int status = -1;  // exit status; 137 when the time limit killed it, -1 when it could not run
    std::string out;
    std::chrono::milliseconds took{0};
};

struct ChildOptions {
    std::vector<std::string> arguments;
    // Changes to this process's environment: nullopt removes the variable.
    std::map<std::string, std::optional<std::string>> environment;
    std::string workingDirectory;
    int limitSeconds = 60;
};

inline std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline ChildResult runChild(const std::string& program, const ChildOptions& options) {
    std::string command = "cd " + shellQuoted(options.workingDirectory) + " && env";
    // env takes its options (-u) before the first assignment.
    for (const auto& [name, value] : options.environment)
        command += value ? "" : " -u " + shellQuoted(name);
    for (const auto& [name, value] : options.environment)
        command += value ? " " + shellQuoted(name + "=" + *value) : "";
    command += " timeout -s KILL " + std::to_string(options.limitSeconds) + " " + shellQuoted(program);
    for (const auto& argument : options.arguments)
        command += " " + shellQuoted(argument);

    ChildResult result;
    const auto started = std::chrono::steady_clock::now();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    for (std::size_t got = 0; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.out.append(buffer, got);
    const int status = ::pclose(pipe);
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The executable under test, as the build gave its path to this test.
inline std::string quobblefinPath() {
    return QB_QUOBBLEFIN_PATH;
}

}  // namespace qb::test
