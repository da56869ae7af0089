// The built executable's --send and --pair modes (and its loading of the desktop module), run as separate processes
// against a TransferServer hosted here.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/ChildProcess.h"
#include "transfer/ServerHarness.h"

namespace qb::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::readFile;
using test::runChild;

class CommandLineModesTest : public ::testing::Test {
protected:
    // A server on 127.0.0.1 with the application's timings that answers every header with `accept`.
    void startServer(bool tls) {
        server.emplace(tls, transfer::ServerTimings{});
        server->options.mainQueue = platform::MainQueue::runInline();
        server->create("Test Receiver").decide = [this](const transfer::FileHeader& header,
                                                        const std::optional<std::string>& senderKey, auto answer) {
            server->reports.record([&] {
                headers.push_back(header);
                senderKeys.push_back(senderKey);
            });
            answer(accept);
        };
        server->server->onProgress = [this](const std::string&, double) {
            if (onPiece)
                onPiece();
        };
        server->server->start();
    }

    test::ChildOptions childOptions(std::vector<std::string> arguments,
                                    std::map<std::string, std::optional<std::string>> environment = {}) {
        // The child's key store and settings stay inside this test's folder.
        environment.emplace("HOME", (temp / "child-home").string());
        environment.emplace("XDG_CONFIG_HOME", (temp / "child-home" / "config").string());
        environment.emplace("XDG_DATA_HOME", (temp / "child-home" / "data").string());
        environment.emplace("QUOBBLEFIN_EPHEMERAL_ID", "1");
        environment.emplace("QUOBBLEFIN_NAME", "Laptop");
        environment.emplace("QUOBBLEFIN_VERBOSE", std::nullopt);
        return {std::move(arguments), std::move(environment), temp.path().string(), 60};
    }
    test::ChildResult run(std::vector<std::string> arguments,
                          std::map<std::string, std::optional<std::string>> environment = {}) {
        return runChild(QB_EXECUTABLE, childOptions(std::move(arguments), std::move(environment)));
    }

    std::string port() const { return std::to_string(server->server->port()); }
    std::string key() const { return "key=" + server->receiver->ownFingerprint(); }
    fs::path inbox() const { return server->inbox; }
    std::vector<transfer::FileHeader> seenHeaders() {
        return server->reports.read([&] { return headers; });
    }
    bool finishedReach(std::size_t count) {
        return server->reports.waitFor([&] { return server->reports.finished.size() >= count; });
    }

    test::TempDir temp;  // the child's working folder
    std::atomic<bool> accept{true};
    std::vector<transfer::FileHeader> headers;  // under the reports' lock
    std::vector<std::optional<std::string>> senderKeys;
    std::function<void()> onPiece;              // on the server's strand, after each piece received
    std::optional<test::ServerHarness> server;  // last: stopped before what its handlers use goes away
};

TEST_F(CommandLineModesTest, SendPrintsOneProgressLinePerPieceThenSentOk) {
    startServer(false);
    std::ofstream(temp / "a.txt") << "x";
    std::ofstream(temp / "b.txt") << "yyy";
    const auto result = run({"--send", "127.0.0.1", port(), "a.txt", "b.txt"});  // relative to the child's folder
    EXPECT_EQ(result.out, "progress 100%\nsent OK\n") << "both files fit in one piece";
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(inbox() / "a.txt"), "x");
    EXPECT_EQ(readFile(inbox() / "b.txt"), "yyy");
    ASSERT_EQ(seenHeaders().size(), 1U);
    EXPECT_EQ(seenHeaders()[0].from, "Laptop");
    EXPECT_EQ(seenHeaders()[0].v, 3);
}

// Against a TLS server: a pinned send (verbose, so with its TLS line), a pairing, and each failure with its line.
TEST_F(CommandLineModesTest, PinnedSendAndPairPrintTheirResultOrTheFailureAndExitWithIt) {
    startServer(true);
    const auto expectRun = [this](const std::vector<std::string>& arguments, const std::string& out, int status,
                                  std::map<std::string, std::optional<std::string>> environment = {}) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const auto result = run(arguments, std::move(environment));
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.status, status);
        return result;
    };
    const auto keyed = [this](std::size_t index) {
        return server->reports.read([&] { return senderKeys.at(index).has_value(); });
    };
    std::ofstream(temp / "c.bin") << "secret";
    expectRun({"--send", "127.0.0.1", port(), key(), "c.bin"}, "tls negotiated 772\nprogress 100%\nsent OK\n", 0,
              {{"QUOBBLEFIN_VERBOSE", "1"}, {"QUOBBLEFIN_NAME", ""}});
    EXPECT_EQ(readFile(inbox() / "c.bin"), "secret");
    ASSERT_EQ(seenHeaders().size(), 1U);
    EXPECT_EQ(seenHeaders()[0].from, "") << "an empty name is still a name";
    EXPECT_TRUE(keyed(0));
    const auto bodies = server->reports.read([&] { return server->reports.begun.size(); });

    expectRun({"--pair", "127.0.0.1", port(), key()}, "paired OK\n", 0);
    ASSERT_EQ(seenHeaders().size(), 2U);
    EXPECT_TRUE(seenHeaders()[1].pair);
    EXPECT_TRUE(keyed(1)) << "the gate sees its key";

    const auto declined = "FAILED: The other device declined (or did not answer)\n";
    std::ofstream(temp / "a.txt") << "x";
    expectRun({"--send", "127.0.0.1", port(), "key=" + std::string(64, 'a'), "a.txt"},
              "FAILED: Could not verify the destination's identity\n", 1);
    EXPECT_EQ(seenHeaders().size(), 2U) << "the server received no header";
    const auto noPath = expectRun({"--send", "127.0.0.1", port(), "v2"}, "FAILED: Cannot read the source file\n", 1);
    EXPECT_LT(noPath.took, 10s) << "fails at once, without waiting";
    EXPECT_EQ(seenHeaders().size(), 2U);

    accept = false;
    expectRun({"--send", "127.0.0.1", port(), key(), "a.txt"}, declined, 1, {{"QUOBBLEFIN_NAME", std::nullopt}});
    ASSERT_EQ(seenHeaders().size(), 3U);
    EXPECT_EQ(seenHeaders()[2].from, "cli");
    EXPECT_FALSE(fs::exists(inbox() / "a.txt"));
    expectRun({"--pair", "127.0.0.1", port(), key()}, declined, 1);
    EXPECT_EQ(server->reports.read([&] { return server->reports.begun.size(); }), bodies) << "a pairing has no body";
}

// --browse runs from the desktop module, which the program finds beside itself; a program without it fails with a
// message instead of starting.
TEST_F(CommandLineModesTest, BrowseNeedsTheDesktopModuleBesideTheProgram) {
    EXPECT_EQ(run({"--browse", "0"}).status, 0);
    fs::copy_file(QB_EXECUTABLE, temp / "alone", fs::copy_options::overwrite_existing);
    EXPECT_EQ(runChild((temp / "alone").string(), childOptions({"--browse", "0"})).status, 1);
}

TEST_F(CommandLineModesTest, SendStoppedBySigintOrSigtermMidBodyPrintsOneFailedLineAndExitsWithOne) {
    std::ofstream(temp / "big.bin") << std::string(48 << 20, 'b');
    std::atomic<pid_t> child{0};
    std::atomic<int> stopSignal{0};
    onPiece = [&] {
        if (const pid_t pid = child.exchange(0); pid > 0) {
            ::kill(pid, stopSignal);
            std::this_thread::sleep_for(300ms);  // keeps the rest of the body in flight
        }
    };
    startServer(true);
    std::size_t runs = 0;
    for (const int sent : {SIGINT, SIGTERM}) {
        // The previous body has ended on the server, so only this run's pieces can signal this run's child.
        ASSERT_TRUE(finishedReach(runs));
        ++runs;
        stopSignal = sent;
        test::RunningChild running(QB_EXECUTABLE, childOptions({"--send", "127.0.0.1", port(), key(), "big.bin"}));
        child = running.pid();
        const auto result = running.finish();
        EXPECT_EQ(result.status, 1) << sent;
        ASSERT_GE(result.out.size(), 1U);
        EXPECT_TRUE(result.out.ends_with("FAILED: Cancelled\n")) << sent << result.out;
        EXPECT_EQ(result.out.find("FAILED"), result.out.rfind("FAILED")) << "one result line";
        EXPECT_EQ(result.out.find("sent OK"), std::string::npos);
    }
    ASSERT_TRUE(finishedReach(runs));
    for (const auto& result : server->reports.read([&] { return server->reports.finished; }))
        EXPECT_FALSE(result.ok());
    EXPECT_TRUE(fs::is_empty(inbox()));
}

}  // namespace
}  // namespace qb::app
