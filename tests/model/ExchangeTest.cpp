// Two instances of the built program on one machine: a hidden receiver that accepts on its own, and a
// command-line sender pinned to the receiver's key. Traffic stays on 127.0.0.1.

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
             {"QUOBBLEFIN_AUTOACCEPT", std::nullopt}}};
}

TEST(ExchangeTest, AHiddenReceiverTakesFilesFromTheCommandLineSender) {
    TempDir dir;
    const fs::path saveDir = dir / "received";
    writeFile(saveDir / "a.txt", "already here");
    writeFile(dir / "out" / "a.txt", "hello from the sender\n");
    writeFile(dir / "out" / "docs" / "x.txt", "x");
    writeFile(dir / "out" / "docs" / "sub" / "y.bin", std::string(3'000'000, '\x7f'));

    auto receiving = device(dir / "receiver", "Receiver", {"--hidden"});
    receiving.environment["QUOBBLEFIN_AUTOACCEPT"] = "1";
    receiving.environment["QUOBBLEFIN_SAVEDIR"] = saveDir.string();
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

    const auto sent =
        runChild(QB_EXECUTABLE, device(dir / "sender", "Sender",
                                       {"--send", "127.0.0.1", port[1].str(), "key=" + fingerprint[1].str(),
                                        (dir / "out" / "a.txt").string(), (dir / "out" / "docs").string()}));
    receiver.stop();

    EXPECT_EQ(sent.status, 0);
    EXPECT_NE(sent.out.find("sent OK\n"), std::string::npos) << sent.out;
    EXPECT_EQ(readFile(saveDir / "a.txt"), "already here");
    EXPECT_EQ(readFile(saveDir / "a 2.txt"), "hello from the sender\n");
    EXPECT_EQ(readFile(saveDir / "docs" / "x.txt"), "x");
    EXPECT_EQ(readFile(saveDir / "docs" / "sub" / "y.bin"), std::string(3'000'000, '\x7f'));
}

}  // namespace
}  // namespace qb::test
