#include "app/CommandLine.h"

#include <algorithm>
#include <charconv>

namespace qb::app {

namespace {

constexpr std::string_view kKeyPrefix = "key=";
constexpr std::string_view kNoWaitWord = "v2";
constexpr std::size_t kIdentityMinArgs = 3;
constexpr std::size_t kPairMinArgs = 5;
constexpr std::size_t kSendMinArgs = 5;
constexpr std::size_t kFirstPathIndex = 4;

bool isKeyArgument(std::string_view argument) {
    return argument.starts_with(kKeyPrefix);
}

// The text after "key=" of the first such argument, program path included in the scan.
std::optional<std::string> findPeerKey(const std::vector<std::string>& argv) {
    const auto found =
        std::find_if(argv.begin(), argv.end(), [](const std::string& arg) { return isKeyArgument(arg); });
    if (found == argv.end()) {
        return std::nullopt;
    }
    return found->substr(kKeyPrefix.size());
}

bool hasArgument(const std::vector<std::string>& argv, std::string_view wanted) {
    return std::find(argv.begin(), argv.end(), wanted) != argv.end();
}

bool isMode(const std::vector<std::string>& argv, std::size_t minArgs, std::string_view word) {
    return argv.size() >= minArgs && argv[1] == word;
}

SendMode sendMode(const std::vector<std::string>& argv) {
    SendMode mode{argv[2], parsePort(argv[3]), !hasArgument(argv, kNoWaitWord), findPeerKey(argv), {}};
    for (std::size_t index = kFirstPathIndex; index < argv.size(); ++index) {
        if (argv[index] != kNoWaitWord && !isKeyArgument(argv[index])) {
            mode.paths.push_back(argv[index]);
        }
    }
    return mode;
}

BrowseMode browseMode(const std::vector<std::string>& argv) {
    if (argv.size() < 3) {
        return {};
    }
    std::string_view text = argv[2];
    int seconds = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seconds);
    const bool valid =
        !text.empty() && error == std::errc{} && stop == end && seconds >= 0 && seconds <= BrowseMode::kMaxSeconds;
    return BrowseMode{valid ? seconds : -1};
}

}  // namespace

std::uint16_t parsePort(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
    }
    std::uint16_t port = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, port);
    if (text.empty() || error != std::errc{} || stop != end) {
        return 0;
    }
    return port;
}

Command parseCommandLine(const std::vector<std::string>& argv) {
    if (isMode(argv, kIdentityMinArgs, "--identity")) {
        return IdentityMode{argv[2]};
    }
    if (isMode(argv, kPairMinArgs, "--pair")) {
        if (auto peerKey = findPeerKey(argv)) {
            return PairMode{argv[2], parsePort(argv[3]), std::move(*peerKey)};
        }
    }
    if (isMode(argv, kSendMinArgs, "--send")) {
        return sendMode(argv);
    }
    if (argv.size() >= 2 && argv[1] == "--browse") {
        return browseMode(argv);
    }
    const bool hidden = argv.size() > 1 && std::find(argv.begin() + 1, argv.end(), "--hidden") != argv.end();
    return AppMode{hidden};
}

}  // namespace qb::app
