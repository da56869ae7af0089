#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace qb::app {
namespace {

// Modes need their argument count, else the application starts; "--hidden" counts only when no mode matches;
// "--share" and "--browse" are tried after the other modes, "--share" taking every later argument as a path.
TEST(CommandLine, EachModeTakesItsArgumentsElseTheApplicationStarts) {
    const std::vector<std::pair<std::vector<std::string>, Command>> cases{
        {{}, AppMode{}},
        {{"--identity"}, AppMode{}},
        {{"--identity", "out.der"}, IdentityMode{"out.der"}},
        {{"--identity", "out.der", "extra"}, IdentityMode{"out.der"}},
        {{"--pair", "h", "5000"}, AppMode{}},
        {{"--send", "h", "5000"}, AppMode{}},
        {{"--Send", "h", "5000", "a"}, AppMode{}},
        {{"--hidden"}, AppMode{true, {}}},
        {{"--identity", "--hidden"}, IdentityMode{"--hidden"}},
        {{"--share", "a b.txt", "--hidden", "key=x"}, AppMode{false, {"a b.txt", "--hidden", "key=x"}}},
        {{"--share"}, AppMode{}},
        {{"--hidden", "--share", "a"}, AppMode{true, {}}},
        {{"--identity", "--share"}, IdentityMode{"--share"}},
        // A pairing needs a key argument anywhere.
        {{"--pair", "10.0.0.2", "5000", "x"}, AppMode{}},
        {{"--pair", "10.0.0.2", "5000", "key=abc"}, PairMode{"10.0.0.2", 5000, "abc"}},
        {{"--pair", "h", "key=", "x"}, PairMode{"h", 0, ""}},
        // A send collects its paths in order, without the "v2" and key arguments.
        {{"--send", "host", "5000", "a.txt", "key=K", "v2", "b.txt"},
         SendMode{"host", 5000, false, "K", {"a.txt", "b.txt"}}},
        {{"--send", "host", "5000", "v2"}, SendMode{"host", 5000, false, std::nullopt, {}}},
        {{"--send", "::1", "80", "dir/", "/abs", "key=K", "key=L"}, SendMode{"::1", 80, true, "K", {"dir/", "/abs"}}},
        {{"--send", "h", "70000", "a"}, SendMode{"h", 0, true, std::nullopt, {"a"}}},
        {{"--browse"}, BrowseMode{}},
        {{"--browse", "10"}, BrowseMode{10}},
        {{"--browse", "0"}, BrowseMode{0}},
        {{"--browse", "601"}, BrowseMode{-1}},
        {{"--browse", "-2"}, BrowseMode{-1}},
        {{"--browse", "3s"}, BrowseMode{-1}},
        {{"--browse", ""}, BrowseMode{-1}},
        {{"--identity", "--browse"}, IdentityMode{"--browse"}},
        {{"--hidden", "--browse"}, AppMode{true, {}}},
    };
    for (auto [args, command] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        args.insert(args.begin(), "/usr/bin/quobblefin");
        EXPECT_EQ(parseCommandLine(args), command);
    }
    // Without the program path in front: the scan starts at the first argument and takes the first match.
    EXPECT_EQ(parseCommandLine({}), Command{AppMode{}});
    EXPECT_EQ(parseCommandLine({"--hidden"}), Command{AppMode{}});
    EXPECT_EQ(parseCommandLine({"key=first", "--pair", "h", "1", "key=second"}), Command{(PairMode{"h", 1, "first"})});
}

TEST(CommandLine, PortIsDecimalSixteenBitWithAnOptionalPlusElseZero) {
    const std::pair<const char*, std::uint16_t> ports[] = {
        {"5000", 5000}, {"+80", 80}, {"0080", 80}, {"65535", 65535}, {"65536", 0}, {"70000", 0}, {"abc", 0}, {"", 0},
        {"-1", 0},      {"+", 0},    {"++1", 0},   {" 80", 0},       {"80 ", 0},   {"0x50", 0},  {"8e1", 0},
    };
    for (const auto& [text, port] : ports) {
        EXPECT_EQ(parsePort(text), port) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace qb::app
