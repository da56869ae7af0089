#pragma once

// What the DNS-SD tests need around the sandbox that tests/support/sandbox.sh builds: the check that they run
// inside it, child processes that run alongside the test, and the outside judges avahi-browse and avahi-publish.

#include <algorithm>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace qb::test {

inline bool envIs(const char* name, const std::string& value) {
    const char* set = std::getenv(name);
    return set != nullptr && set == value;
}

// DNS-SD tests run only inside the sandbox; anywhere else multicast would reach a real network.
#define QB_REQUIRE_SANDBOX()                                                                      \
    do {                                                                                          \
        if (!::qb::test::envIs("QB_SANDBOX", "1")) {                                              \
            if (::qb::test::envIs("CI", "true"))                                                  \
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
        const bool escape =
            text[i] == '\\' && i + 3 < text.size() &&
            std::all_of(text.begin() + i + 1, text.begin() + i + 4, [](char c) { return c >= '0' && c <= '9'; });
        plain.push_back(escape ? static_cast<char>(std::stoi(text.substr(i + 1, 3))) : text[i]);
        i += escape ? 3 : 0;
    }
    return plain;
}

// One resolved line of `avahi-browse -rpt`: the instance name and its TXT entries.
struct BrowsedService {
    std::string name;
    std::vector<std::string> txt;
};

inline std::vector<BrowsedService> avahiBrowse(const std::string& type) {
    std::vector<BrowsedService> services;
    std::istringstream lines(shellOutput("avahi-browse -rpt " + type));
    // "=;interface;protocol;name;type;domain;host;address;port", then the TXT entries, each in double quotes.
    const std::regex resolved(R"(^=;[^;]*;[^;]*;([^;]*);[^;]*;[^;]*;[^;]*;[^;]*;[^;]*(.*)$)");
    const std::regex quoted(R"re("([^"]*)")re");
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        if (!std::regex_match(line, match, resolved)) {
            continue;
        }
        BrowsedService service{unescapeAvahi(match[1].str()), {}};
        const std::string rest = match[2].str();
        for (std::sregex_iterator it(rest.begin(), rest.end(), quoted), end; it != end; ++it) {
            service.txt.push_back(unescapeAvahi((*it)[1].str()));
        }
        services.push_back(std::move(service));
    }
    return services;
}

}  // namespace qb::test
