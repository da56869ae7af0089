#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace qb::app {
namespace {

Command parse(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/quobblefin");
    return parseCommandLine(args);
}

TEST(CommandLine, ModesNeedTheirArgumentCountElseTheApplicationStarts) {
    EXPECT_EQ(parse({}), Command{AppMode{}});
    EXPECT_EQ(parse({"--identity"}), Command{AppMode{}});
    EXPECT_EQ(parse({"--identity", "out.der"}), Command{IdentityMode{"out.der"}});
    EXPECT_EQ(parse({"--identity", "out.der", "extra"}), Command{IdentityMode{"out.der"}});
    EXPECT_EQ(parse({"--pair", "h", "5000"}), Command{AppMode{}});
    EXPECT_EQ(parse({"--send", "h", "5000"}), Command{AppMode{}});
    EXPECT_EQ(parse({"--Send", "h", "5000", "a"}), Command{AppMode{}});
    EXPECT_EQ(parseCommandLine({}), Command{AppMode{}});
}

TEST(CommandLine, HiddenCountsOnlyWhenNoModeMatches) {
    EXPECT_EQ(parse({"--hidden"}), Command{(AppMode{true, {}})});
    EXPECT_EQ(parse({"--identity", "--hidden"}), Command{IdentityMode{"--hidden"}});
    EXPECT_EQ(parseCommandLine({"--hidden"}), Command{AppMode{}});
}

// "--share" is tried after the other modes and takes every later argument as a path, as given.
TEST(CommandLine, ShareTakesEveryLaterArgumentAsAPath) {
    EXPECT_EQ(parse({"--share", "a b.txt", "--hidden", "key=x"}),
              Command{(AppMode{false, {"a b.txt", "--hidden", "key=x"}})});
    EXPECT_EQ(parse({"--share"}), Command{AppMode{}});
    EXPECT_EQ(parse({"--hidden", "--share", "a"}), Command{(AppMode{true, {}})});
    EXPECT_EQ(parse({"--identity", "--share"}), Command{IdentityMode{"--share"}});
}

TEST(CommandLine, PairNeedsAKeyArgumentAnywhere) {
    EXPECT_EQ(parse({"--pair", "10.0.0.2", "5000", "x"}), Command{AppMode{}});
    EXPECT_EQ(parse({"--pair", "10.0.0.2", "5000", "key=abc"}), Command{(PairMode{"10.0.0.2", 5000, "abc"})});
    // The scan starts at the program path and takes the first match.
    EXPECT_EQ(parseCommandLine({"key=first", "--pair", "h", "1", "key=second"}), Command{(PairMode{"h", 1, "first"})});
    EXPECT_EQ(parse({"--pair", "h", "key=", "x"}), Command{(PairMode{"h", 0, ""})});
}

TEST(CommandLine, SendCollectsPathsInOrderWithoutV2AndKeyArguments) {
    EXPECT_EQ(parse({"--send", "host", "5000", "a.txt", "key=K", "v2", "b.txt"}),
              Command{(SendMode{"host", 5000, false, "K", {"a.txt", "b.txt"}})});
    EXPECT_EQ(parse({"--send", "host", "5000", "v2"}), Command{(SendMode{"host", 5000, false, std::nullopt, {}})});
    EXPECT_EQ(parse({"--send", "::1", "80", "dir/", "/abs", "key=K", "key=L"}),
              Command{(SendMode{"::1", 80, true, "K", {"dir/", "/abs"}})});
}

TEST(CommandLine, BrowseComesAfterTheOtherModesWithOptionalSeconds) {
    const std::vector<std::pair<std::vector<std::string>, Command>> cases{
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
    for (const auto& [args, command] : cases) {
        EXPECT_EQ(parse(args), command) << args.back();
    }
}

TEST(CommandLine, PortIsDecimalSixteenBitWithAnOptionalPlusElseZero) {
    const std::pair<const char*, std::uint16_t> ports[] = {
        {"5000", 5000}, {"+80", 80}, {"0080", 80}, {"65535", 65535}, {"65536", 0}, {"70000", 0}, {"abc", 0}, {"", 0},
        {"-1", 0},      {"+", 0},    {"++1", 0},   {" 80", 0},       {"80 ", 0},   {"0x50", 0},  {"8e1", 0},
    };
    for (const auto& [text, port] : ports) {
        EXPECT_EQ(parsePort(text), port) << '"' << text << '"';
    }
    EXPECT_EQ(parse({"--send", "h", "70000", "a"}), Command{(SendMode{"h", 0, true, std::nullopt, {"a"}})});
}

}  // namespace
}  // namespace qb::app
