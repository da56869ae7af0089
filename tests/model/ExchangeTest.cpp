// The shipped program running hidden receives files: with auto-accept on it takes a transfer from a
// command-line sender pinned to the key that --identity prints, into the receive folder from the environment,
// at the port its listener line names. Traffic stays on 127.0.0.1. What arrives byte for byte, and under which
// names, is EndToEndTest's.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/ChildProcess.h"
#include "support/TestEnv.h"

namespace qb::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A device's own folders (settings, key store and home) and what it may read from the environment.
ChildOptions device(const fs::path& root, const std::string& name, std::vector<std::string> arguments) {
    return {std::move(arguments),
            {{"HOME", (root / "home").string()},
             {"XDG_CONFIG_HOME", (root / "config").string()},
             {"XDG_DATA_HOME", (root / "data").string()},
             {"QUOBBLEFIN_NAME", name},
             {"QT_QPA_PLATFORM", "offscreen"},
             {"QUOBBLEFIN_EPHEMERAL_ID", std::nullopt},
             {"QUOBBLEFIN_AUTOACCEPT", "1"},
             {"QUOBBLEFIN_SAVEDIR", (root / "received").string()}}};
}

TEST(ExchangeTest, AHiddenReceiverTakesFilesFromTheCommandLineSender) {
    TempDir dir;
    writeFile(dir / "a.txt", "hello from the sender\n");
    auto receiving = device(dir / "receiver", "Receiver", {"--hidden"});
    RunningChild receiver(QB_EXECUTABLE, receiving);
    const std::regex listening(R"(\[quobblefin\] listening as "Receiver" port (\d+))");
    std::smatch port;
    ASSERT_TRUE(
        receiver.readUntil([&](const std::string& out) { return std::regex_search(out, port, listening); }, 30s))
        << receiver.output();

    receiving.arguments = {"--identity", (dir / "r.der").string()};
    const std::string identity = runChild(QB_EXECUTABLE, receiving).out;
    std::smatch fingerprint;
    ASSERT_TRUE(std::regex_search(identity, fingerprint, std::regex("^fingerprint ([0-9a-f]{64}) "))) << identity;

    const auto sent = runChild(QB_EXECUTABLE, device(dir / "sender", "Sender",
                                                     {"--send", "127.0.0.1", port[1].str(),
                                                      "key=" + fingerprint[1].str(), (dir / "a.txt").string()}));
    receiver.stop();
    EXPECT_EQ(sent.status, 0);
    EXPECT_NE(sent.out.find("sent OK\n"), std::string::npos) << sent.out;
    EXPECT_EQ(readFile(dir / "receiver" / "received" / "a.txt"), "hello from the sender\n");
}

}  // namespace
}  // namespace qb::test
