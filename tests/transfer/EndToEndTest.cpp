// The real sender against the real server: whole transfers in each generation, and stopping one from either
// end (the sender's token closes its connection at any step, the server's cancelTransfer closes one incoming
// body, and a sender that goes away while its request waits withdraws it).

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <thread>

#include "ServerHarness.h"
#include "transfer/Cancellation.h"
#include "transfer/FileSender.h"

namespace qb::transfer {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;
using Decide = std::function<void(const FileHeader&, const std::optional<std::string>&, TransferServer::Answer)>;

class SenderToServer : public ::testing::Test {
protected:
    explicit SenderToServer(bool tls = true) : harness(tls) {
        harness.options.mainQueue = platform::MainQueue::runInline();
    }

    // Creates and starts the server; `decide` runs on its strand.
    void serve(Decide decide) {
        harness.create().decide = std::move(decide);
        harness.server->start();
    }

    // A transfer of `items` (a pairing when there are none) pinned to the server's key if it has one.
    PendingResult send(const std::vector<fs::path>& items, const std::string& from = "Sender", bool waitForGo = true) {
        PendingResult done;
        const SenderEnvironment environment{&harness.runtime, &sender, &console, {}, token};
        if (items.empty()) {
            FileSender::pair(harness.address(), from, *harness.key(), done.completion(), environment);
        } else {
            FileSender::send(items, harness.address(), from, waitForGo, harness.key(), false, {}, done.completion(),
                             environment);
        }
        return done;
    }

    ServerHarness harness;
    identity::Identity sender{keysIn(harness.temp / "sender")};
    std::ostringstream console;
    std::shared_ptr<Cancellation> token = Cancellation::make();
};

// A file's bytes, or every item below a folder with its bytes ("/" for a folder).
std::map<std::string, std::string> snapshot(const fs::path& item) {
    if (!fs::is_directory(item)) {
        return {{"", readFile(item)}};
    }
    std::map<std::string, std::string> items;
    for (const auto& entry : fs::recursive_directory_iterator(item)) {
        items[fs::relative(entry.path(), item).string()] = entry.is_directory() ? "/" : readFile(entry.path());
    }
    return items;
}

// The parameter is the generation the sender speaks; the server declines "Stranger".
class EndToEndTest : public SenderToServer, public ::testing::WithParamInterface<int> {
protected:
    EndToEndTest() : SenderToServer(GetParam() == Wire::generationTls) {
        serve([this](const FileHeader& header, const std::optional<std::string>& key, TransferServer::Answer answer) {
            keys.push_back(key);
            answer(header.from != "Stranger");
        });
    }

    TransferResult sendNow(const std::vector<fs::path>& items, const std::string& from = "Sender") {
        return send(items, from, GetParam() != Wire::generationNoWait).wait();
    }

    std::vector<std::optional<std::string>> keys;  // written by `decide` on the server's strand before onFinish
};

TEST_P(EndToEndTest, ItemsArriveByteIdenticalAndDeclinedOnesNotAtAll) {
    const fs::path source = harness.temp / "source";
    for (const char* folder : {"Folder/sub-empty", "Folder/.config", "a", "b"}) {
        fs::create_directories(source / folder);
    }
    std::string bytes;
    for (unsigned i = 0; i < 2'500'000; ++i) {
        bytes.push_back(static_cast<char>((i * 7919u) >> 3));
    }
    writeFile(source / "one.bin", bytes);
    for (const char* empty : {"empty", "Folder/empty"}) {
        writeFile(source / empty, "");
    }
    writeFile(source / "Folder/.hidden", "h");
    writeFile(source / "Folder/.config/x", "config");
    writeFile(source / "a/same.txt", "from a");
    writeFile(source / "b/same.txt", "from b");

    const std::vector<std::vector<fs::path>> transfers{
        {source / "one.bin"},
        {source / "empty"},
        {source / "Folder"},
        {source / "a/same.txt", source / "b/same.txt", source / "Folder"}};
    for (std::size_t n = 1; n <= transfers.size(); ++n) {
        const auto& items = transfers[n - 1];
        ASSERT_TRUE(sendNow(items).ok()) << items.front();
        const auto result = harness.reports.finish(n);
        ASSERT_TRUE(result.ok()) << items.front();
        ASSERT_EQ(result.items().size(), items.size()) << items.front();
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(snapshot(result.items()[i]), snapshot(items[i])) << items[i];
        }
    }
    EXPECT_TRUE(fs::exists(harness.inbox / "same 2.txt"));
    EXPECT_TRUE(fs::exists(harness.inbox / "Folder 2"));
    const auto expectedKey = harness.receiver ? std::optional(sender.ownFingerprint()) : std::nullopt;
    EXPECT_EQ(keys, std::vector(transfers.size(), expectedKey));

    const auto before = treeOf(harness.inbox);
    const auto declined = sendNow({source / "one.bin"}, "Stranger");
    ASSERT_FALSE(declined.ok());
    if (GetParam() != Wire::generationNoWait) {  // the oldest sender hears no answer, only the close
        EXPECT_TRUE(declined.error().is(TransferErrc::declined)) << declined.error().description();
    }
    EXPECT_EQ(treeOf(harness.inbox), before);
}

INSTANTIATE_TEST_SUITE_P(Generations, EndToEndTest, ::testing::Values(2, 3, 5),
                         [](const ::testing::TestParamInfo<int>& generation) {
                             return "v" + std::to_string(generation.param);
                         });

class CancelTest : public SenderToServer {
protected:
    void acceptAll() {
        serve([](const FileHeader&, const auto&, TransferServer::Answer answer) { answer(true); });
    }
};

// On the first piece received one end stops the body, while the sender's data is still in flight. The sender
// hears "cancelled" only when it cancelled itself, and the receiver keeps nothing.
class CancelMidBodyTest : public CancelTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CancelMidBodyTest, EitherEndStopsABodyUnderWayAndTheReceiverKeepsNothing) {
    const bool senderCancels = GetParam();
    const fs::path big = harness.temp / "big.bin";
    writeFile(big, std::string(24 << 20, 'b'));
    acceptAll();
    Clock::time_point firstPieceAt;
    harness.server->onProgress = [&, first = std::make_shared<std::atomic<bool>>(true)](const std::string& id, double) {
        if (first->exchange(false)) {
            firstPieceAt = Clock::now();
            senderCancels ? token->cancel() : harness.server->cancelTransfer(id);
            std::this_thread::sleep_for(300ms);
        }
    };
    const auto sent = send({big}).wait(20s);
    const auto took = Clock::now() - firstPieceAt;
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().is(TransferErrc::cancelled), senderCancels) << sent.error().description();
    const auto received = harness.reports.finish(1);
    ASSERT_FALSE(received.ok());
    EXPECT_TRUE(treeOf(harness.inbox).empty());
    if (senderCancels) {
        EXPECT_LT(took, 1s);
        return;
    }
    EXPECT_FALSE(sent.error().is(TransferErrc::timeout));
    EXPECT_TRUE(received.error().is(TransferErrc::cancelled));
    harness.server->cancelTransfer("no such transfer");
    harness.expectStillServes(&sender);
}

INSTANTIATE_TEST_SUITE_P(Ends, CancelMidBodyTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& sender) {
                             return sender.param ? "SenderCancels" : "ReceiverCancels";
                         });

TEST_F(CancelTest, ACancelStopsTheConnectAttemptOrPreventsItAtOnce) {
    // A listener that accepts TCP and never answers the TLS handshake.
    asio::ip::tcp::acceptor silent(harness.runtime.context(), {asio::ip::make_address("127.0.0.1"), 0});
    asio::ip::tcp::socket held(harness.runtime.context());
    silent.async_accept(held, [](std::error_code) {});
    writeFile(harness.temp / "a.txt", "a");
    for (const bool cancelFirst : {false, true}) {
        token = Cancellation::make();
        if (cancelFirst)
            token->cancel();
        PendingResult done;
        FileSender::send({harness.temp / "a.txt"}, platform::HostPort("127.0.0.1", silent.local_endpoint().port()),
                         "Sender", true, std::string(64, 'a'), false, {}, done.completion(),
                         {&harness.runtime, &sender, &console, {10s, 10s}, token});
        std::this_thread::sleep_for(200ms);
        const auto cancelledAt = Clock::now();
        token->cancel();
        const auto sent = done.wait(20s);
        EXPECT_TRUE(sent.error().is(TransferErrc::cancelled)) << cancelFirst << " " << sent.error().description();
        EXPECT_LT(Clock::now() - cancelledAt, 1s) << cancelFirst;
    }
    // Closed on the runtime's thread, where their pending accept lives, before they leave this frame.
    ASSERT_TRUE(runOn(harness.runtime, [&] {
        silent.close();
        held.close();
    }));
}

TEST_F(CancelTest, APairingCancelledWhileAskedWithdrawsItsRequestAndALateYesDoesNothing) {
    std::promise<TransferServer::Answer> asked;
    std::promise<void> withdrawn;
    serve([&](const FileHeader&, const auto&, TransferServer::Answer answer) {
        answer.onWithdrawn([&] { withdrawn.set_value(); });
        asked.set_value(answer);
    });
    auto result = send({});
    auto answer = asked.get_future();
    ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
    token->cancel();
    EXPECT_TRUE(result.wait(20s).error().is(TransferErrc::cancelled));
    EXPECT_EQ(withdrawn.get_future().wait_for(5s), std::future_status::ready);
    answer.get()(true);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(harness.reports.read([&] { return harness.reports.begun.empty(); }));
}

}  // namespace
}  // namespace qb::transfer
