// Stopping a transfer from either end: the sender's token closes its connection at any step, the server's
// cancelTransfer closes one incoming body, and a sender that goes away while its request waits withdraws it.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "ServerHarness.h"
#include "transfer/Cancellation.h"
#include "transfer/FileSender.h"

namespace qb::transfer {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;

class CancelTest : public ::testing::Test {
protected:
    CancelTest() : harness(true) { harness.options.mainQueue = platform::MainQueue::runInline(); }

    // Starts the server; `decide` runs on its strand. Without one, every header is accepted.
    void serve(std::function<void(const FileHeader&, TransferServer::Answer)> decide = {}) {
        harness.create().decide = [decide](const FileHeader& header, const auto&, TransferServer::Answer answer) {
            decide ? decide(header, std::move(answer)) : answer(true);
        };
    }

    // Starts the server, then a transfer of `items` (a pairing when there are none) pinned to its key.
    PendingResult start(const std::vector<fs::path>& items) {
        harness.server->start();
        PendingResult done;
        const SenderEnvironment environment{&harness.runtime, &sender, &console, {}, token};
        if (items.empty()) {
            FileSender::pair(harness.address(), "Sender", *harness.key(), done.completion(), environment);
        } else {
            FileSender::send(items, harness.address(), "Sender", true, harness.key(), false, {}, done.completion(),
                             environment);
        }
        return done;
    }

    // A file large enough that its body is still under way when the first piece has arrived.
    fs::path bigFile() {
        const fs::path file = harness.temp / "big.bin";
        writeFile(file, std::string(24 << 20, 'b'));
        return file;
    }

    // On the first piece received: `act`, then a pause that keeps the sender's data in flight.
    void onFirstPiece(std::function<void(const std::string& id)> act) {
        harness.server->onProgress = [this, act, first = std::make_shared<std::atomic<bool>>(true)](
                                         const std::string& id, double) {
            if (first->exchange(false)) {
                firstPieceAt = Clock::now();
                act(id);
                std::this_thread::sleep_for(300ms);
            }
        };
    }

    ServerHarness harness;
    identity::Identity sender{keysIn(harness.temp / "sender")};
    std::ostringstream console;
    std::shared_ptr<Cancellation> token = Cancellation::make();
    Clock::time_point firstPieceAt;
};

TEST_F(CancelTest, SenderCancelMidBodyEndsWithinASecondAndTheReceiverKeepsNothing) {
    serve();
    onFirstPiece([this](const std::string&) { token->cancel(); });
    const auto sent = start({bigFile()}).wait(20s);
    EXPECT_TRUE(sent.error().is(TransferErrc::cancelled)) << sent.error().description();
    EXPECT_LT(Clock::now() - firstPieceAt, 1s);
    EXPECT_FALSE(harness.reports.finish(1).ok());
    EXPECT_TRUE(treeOf(harness.inbox).empty());
}

TEST_F(CancelTest, ReceiverCancelRemovesThePartialFileAndTheSenderSeesTheConnectionGo) {
    serve();
    onFirstPiece([this](const std::string& id) { harness.server->cancelTransfer(id); });
    const auto sent = start({bigFile()}).wait(20s);
    ASSERT_FALSE(sent.ok());
    EXPECT_FALSE(sent.error().is(TransferErrc::cancelled)) << "the sender did not cancel";
    EXPECT_FALSE(sent.error().is(TransferErrc::timeout));
    const auto received = harness.reports.finish(1);
    ASSERT_FALSE(received.ok());
    EXPECT_TRUE(received.error().is(TransferErrc::cancelled));
    EXPECT_TRUE(treeOf(harness.inbox).empty());
    harness.server->cancelTransfer("no such transfer");
    harness.expectStillServes(&sender);
}

TEST_F(CancelTest, ACancelStopsTheConnectAttemptOrPreventsItAtOnce) {
    // A listener that accepts TCP and never answers the TLS handshake.
    asio::ip::tcp::acceptor silent(harness.runtime.context(), {asio::ip::make_address("127.0.0.1"), 0});
    asio::ip::tcp::socket held(harness.runtime.context());
    silent.async_accept(held, [](std::error_code) {});
    serve();
    harness.server->start();
    for (const bool cancelFirst : {false, true}) {
        token = Cancellation::make();
        if (cancelFirst)
            token->cancel();
        PendingResult done;
        writeFile(harness.temp / "a.txt", "a");
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
    serve([&](const FileHeader&, TransferServer::Answer answer) {
        answer.onWithdrawn([&] { withdrawn.set_value(); });
        asked.set_value(answer);
    });
    auto result = start({});
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
