#pragma once

// What the DNS-SD tests need around the sandbox that tests/support/sandbox.sh builds: the check that they run
// inside it, child processes that run alongside the test, and the outside judges avahi-browse and avahi-publish.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qb::test {

inline bool insideSandbox() {
    const char* flag = std::getenv("QB_SANDBOX");
    return flag != nullptr && std::string(flag) == "1";
}

inline bool underCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// DNS-SD tests run only inside the sandbox; anywhere else multicast would reach a real network.
#define QB_REQUIRE_SANDBOX()                                                                      \
    do {                                                                                          \
        if (!::qb::test::insideSandbox()) {                                                       \
            if (::qb::test::underCi())                                                            \
                FAIL() << "DNS-SD tests must run inside tests/support/sandbox.sh under CI";       \
            GTEST_SKIP() << "DNS-SD tests run only inside tests/support/sandbox.sh (needs root)"; \
        }                                                                                         \
    } while (false)

// A process that runs while the test goes on; stopped (SIGTERM, then SIGKILL) when the object goes.
class Background {
public:
    Background(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment = {}) {
        std::map<std::string, std::string> merged;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const auto equals = text.find('=');
            merged[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
        }
        for (const auto& [name, value] : environment) {
            merged[name] = value;
        }
        std::vector<std::string> envTexts;
        for (const auto& [name, value] : merged) {
            envTexts.push_back(name + "=" + value);
        }
        std::vector<char*> argv;
        for (const auto& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& text : envTexts) {
            envp.push_back(text.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        // The child must not hold the test's own sockets open (a listener the test closes, say).
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
        if (::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Background() { stop(); }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    bool running() const { return pid_ > 0; }

    void stop() {
        if (pid_ <= 0) {
            return;
        }
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
    pid_t pid_ = -1;
};

// Standard output of a shell command, killed after `limitSeconds`.
inline std::string shellOutput(const std::string& command, int limitSeconds = 15) {
    const std::string bounded = "timeout -s KILL " + std::to_string(limitSeconds) + " " + command;
    std::string out;
    if (FILE* pipe = ::popen(bounded.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got = 0; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            out.append(buffer, got);
        }
        ::pclose(pipe);
    }
    return out;
}

// avahi-browse's parsable output escapes bytes as \DDD (decimal); this undoes it.
inline std::string unescapeAvahi(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(text[i + 3]))) {
            plain.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 3))));
            i += 3;
        } else {
            plain.push_back(text[i]);
        }
    }
    return plain;
}

// One resolved line of `avahi-browse -rpt`: the instance name and its TXT entries.
struct BrowsedService {
    std::string name;
    std::vector<std::string> txt;
    std::string port;
};

inline std::vector<BrowsedService> avahiBrowse(const std::string& type) {
    std::vector<BrowsedService> services;
    std::istringstream lines(shellOutput("avahi-browse -rpt " + type));
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("=;")) {
            continue;
        }
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; fields.size() < 9 && std::getline(parts, field, ';');) {
            fields.push_back(field);
        }
        std::string rest;
        std::getline(parts, rest);
        if (fields.size() < 9) {
            continue;
        }
        BrowsedService service{unescapeAvahi(fields[3]), {}, fields[8]};
        // TXT entries: "a=b" "c=d", each in double quotes.
        for (std::size_t open = rest.find('"'); open != std::string::npos; open = rest.find('"', open)) {
            const std::size_t close = rest.find('"', open + 1);
            if (close == std::string::npos) {
                break;
            }
            service.txt.push_back(unescapeAvahi(rest.substr(open + 1, close - open - 1)));
            open = close + 1;
        }
        services.push_back(std::move(service));
    }
    return services;
}

}  // namespace qb::test
