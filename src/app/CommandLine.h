#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qb::app {

// `--identity <path>`: write the certificate to `path` and self-verify.
struct IdentityMode {
    std::string path;
    friend bool operator==(const IdentityMode&, const IdentityMode&) = default;
};

// `--pair <host> <port> key=<fingerprint>`.
struct PairMode {
    std::string host;
    std::uint16_t port = 0;
    std::string peerKey;  // unchecked text after "key="
    friend bool operator==(const PairMode&, const PairMode&) = default;
};

// `--send <host> <port> [v2] [key=<fingerprint>] <path>...`.
struct SendMode {
    std::string host;
    std::uint16_t port = 0;
    bool waitForGo = true;               // false when some argument is "v2"
    std::optional<std::string> peerKey;  // unchecked text after "key="
    std::vector<std::string> paths;      // as given, in order; relative ones are resolved at use
    friend bool operator==(const SendMode&, const SendMode&) = default;
};

// `--browse [seconds]`: list the peers found within that time.
struct BrowseMode {
    static constexpr int kDefaultSeconds = 3;
    static constexpr int kMaxSeconds = 600;
    int seconds = kDefaultSeconds;  // -1 when the argument is not a whole number from 0 to kMaxSeconds
    friend bool operator==(const BrowseMode&, const BrowseMode&) = default;
};

// No mode matched: start the desktop application.
struct AppMode {
    bool hidden = false;  // "--hidden" given: do not show the panel at launch
    friend bool operator==(const AppMode&, const AppMode&) = default;
};

using Command = std::variant<IdentityMode, PairMode, SendMode, BrowseMode, AppMode>;

// What the argument vector (index 0 = program path) asks for. The modes are tried in the order identity,
// pair, send, browse; a vector too short for its mode, or "--pair" without any "key=" argument, starts the
// application. Pure: reads nothing but `argv`.
Command parseCommandLine(const std::vector<std::string>& argv);

// A decimal unsigned 16-bit port with an optional leading "+"; anything else gives 0.
std::uint16_t parsePort(std::string_view text);

}  // namespace qb::app
