#pragma once

// What the DNS-SD tests need around the sandbox that tests/support/sandbox.sh builds: the check that they run
// inside it, child processes that run alongside the test, and the outside judges avahi-browse and avahi-publish.

#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

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

// A process that runs alongside the test, its output discarded; stopped when the object goes.
struct Background : RunningChild {
    explicit Background(const std::vector<std::string>& command,
                        std::map<std::string, std::optional<std::string>> environment = {})
        : RunningChild(command.front(),
                       {{command.begin() + 1, command.end()}, std::move(environment), ".", 60, false}) {}
};

// Standard output of a shell command, killed after `limitSeconds`.
inline std::string shellOutput(const std::string& command, int limitSeconds = 15) {
    const std::string bounded = "timeout -s KILL " + std::to_string(limitSeconds) + " " + command;
    return runChild("/bin/sh", {{"-c", bounded}, {}, ".", limitSeconds + 5}).out;
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
