#include <gtest/gtest.h>

#include <thread>

#include "l10n/L.h"
#include "model/ModelTestSupport.h"

namespace qb::test {
namespace {

using model::Peer;
using model::SenderHooks;
using model::TextMap;
using State = model::TransferJob::State;
using transfer::TransferErrc;

// Stands in for the file sender: records each call and lets the test finish it from a worker thread.
struct FakeSender {
    struct Call {
        model::SendRequest request;
        std::string pairKey;
        SenderHooks::Progress progress;
        SenderHooks::Completion completion;
    };

    SenderHooks hooks() {
        SenderHooks h;
        h.send = [this](model::SendRequest request, SenderHooks::Progress progress,
                        SenderHooks::Completion completion) {
            calls.push_back({std::move(request), {}, std::move(progress), std::move(completion)});
        };
        h.pair = [this](platform::Endpoint to, std::string from, std::string key, SenderHooks::Completion done,
                        std::shared_ptr<transfer::Cancellation> cancellation) {
            calls.push_back(
                {{{}, std::move(to), std::move(from), true, key, std::move(cancellation)}, key, {}, std::move(done)});
        };
        return h;
    }

    // Reports from another thread, as the real sender does from its queue.
    void finish(std::size_t index, transfer::TransferResult result) {
        std::thread([&] { calls.at(index).completion(std::move(result)); }).join();
    }

    std::vector<Call> calls;
};

class SendingTest : public ::testing::Test {
protected:
    void SetUp() override {
        l10n::L::setLang("en");
        h.config.sender = sender.hooks();
        h.make();
        h.model->setDeviceName("Me");
    }
    model::AppModel& m() { return *h.model; }
    const model::TransferJob& lastJob() { return m().jobs().back(); }
    bool settled() {
        return waitUntil([&] { return !lastJob().state.isRunning(); });
    }

    ModelHarness h;
    FakeSender sender;
};

TEST_F(SendingTest, AdvertisedKeyIsPinnedAndRecordedOnlyAfterSuccess) {
    m().send({"/tmp/a.txt"}, peer("Desk", 5, K1));
    ASSERT_EQ(sender.calls.size(), 1u);
    const auto& request = sender.calls[0].request;
    EXPECT_EQ(request.peerKey, K1);
    EXPECT_TRUE(request.waitForGo);
    EXPECT_EQ(request.from, "Me");
    EXPECT_EQ(lastJob().name, "a.txt");
    EXPECT_EQ(lastJob().peer, "Desk");

    sender.finish(0, TransferErrc::timeout);
    ASSERT_TRUE(settled());
    EXPECT_EQ(lastJob().state, State::failed("Could not reach the destination (timed out)"));
    EXPECT_TRUE(m().knownKeys().empty());

    m().send({"/tmp/a.txt"}, peer("Desk", 5, K1));
    std::thread([&] { sender.calls[1].progress(0.25); }).join();
    ASSERT_TRUE(waitUntil([&] { return lastJob().progress == 0.25; })) << "progress hops to the main thread";
    sender.finish(1, {});
    ASSERT_TRUE(settled());
    EXPECT_EQ(lastJob().state, State::done());
    EXPECT_EQ(h.store().stringMap("knownKeys"), (TextMap{{"Desk", K1}}));
}

TEST_F(SendingTest, PlainPeersWaitForTheGoAheadFromGenerationThreeOn) {
    m().send({"/tmp/a", "/tmp/b/"}, peer("Three", 3, std::nullopt));
    m().send({"/tmp/folder/"}, peer("Two", 2, std::nullopt));
    // An old generation's advertised key is not pinned.
    m().send({"/tmp/x"}, peer("Old", 3, K1));
    ASSERT_EQ(sender.calls.size(), 3u);
    EXPECT_TRUE(sender.calls[0].request.waitForGo);
    EXPECT_FALSE(sender.calls[0].request.peerKey);
    EXPECT_FALSE(sender.calls[1].request.waitForGo);
    EXPECT_FALSE(sender.calls[2].request.peerKey);
    EXPECT_EQ(m().jobs()[0].name, "2 items");
    EXPECT_EQ(m().jobs()[1].name, "folder");

    sender.finish(0, {});
    ASSERT_TRUE(waitUntil([&] { return m().jobs()[0].state.isDone(); }));
    EXPECT_TRUE(m().knownKeys().empty());
}

TEST_F(SendingTest, ARecordedKeyIsNeverDroppedAndReplacedOnlyWhenTheUserAccepts) {
    m().setKnownKeys({{"Desk", K1}});
    m().send({"/tmp/a"}, peer("Desk", 5, std::nullopt));
    m().send({"/tmp/a"}, peer("Desk", 3, K1));
    m().send({"/tmp/a"}, peer("Desk", 5, K2));
    EXPECT_TRUE(sender.calls.empty());
    const State refused =
        State::failed("This device's security key has changed \u2014 clear trusted devices in Settings to send again");
    ASSERT_EQ(m().jobs().size(), 3u);
    for (const auto& job : m().jobs()) {
        EXPECT_EQ(job.state, refused);
    }
    EXPECT_EQ(m().knownKeys().at("Desk"), K1);

    h.acceptKeyChange = true;
    m().send({"/tmp/a"}, peer("Desk", 5, K2));
    ASSERT_EQ(sender.calls.size(), 1u);
    EXPECT_EQ(sender.calls[0].request.peerKey, K2);
    EXPECT_EQ(h.prompts.size(), 2u);
}

TEST_F(SendingTest, PairingRecordsBothWaysOnSuccessAndNamesTheDecliner) {
    m().pairDevice(peer("Tab", 5, K1));
    ASSERT_EQ(sender.calls.size(), 1u);
    EXPECT_EQ(sender.calls[0].pairKey, K1);
    EXPECT_EQ(lastJob().name, "Waiting for Tab to accept\u2026");
    EXPECT_TRUE(lastJob().pair);
    sender.finish(0, {});
    ASSERT_TRUE(settled());
    EXPECT_EQ(m().knownKeys(), (TextMap{{"Tab", K1}}));
    EXPECT_EQ(m().myDevices(), std::vector<std::string>{K1});
    EXPECT_EQ(m().deviceNames(), (TextMap{{K1, "Tab"}}));

    m().pairDevice(peer("Tab", 5, K1));
    EXPECT_EQ(sender.calls.size(), 1u);

    m().pairDevice(peer("Pad", 5, K2));
    sender.finish(1, TransferErrc::declined);
    ASSERT_TRUE(settled());
    EXPECT_EQ(lastJob().state, State::failed("Pad declined (or did not answer)"));
    EXPECT_EQ(m().myDevices().size(), 1u);
}

TEST_F(SendingTest, CancelReachesTheRunningJobsTokenOnlyAndEndsItWithTheCancelledText) {
    m().send({"/tmp/a.txt"}, peer("Desk", 5, K1));
    m().pairDevice(peer("Tab", 5, K2));
    ASSERT_EQ(sender.calls.size(), 2u);
    const auto sendJob = m().jobs()[0].id;
    const auto pairJob = m().jobs()[1].id;
    m().cancel(pairJob);
    EXPECT_FALSE(sender.calls[0].request.cancellation->isCancelled());
    EXPECT_TRUE(sender.calls[1].request.cancellation->isCancelled());
    sender.finish(1, TransferErrc::cancelled);
    EXPECT_TRUE(waitUntil([&] { return m().jobs().back().state == State::failed("Cancelled"); }));
    EXPECT_TRUE(m().myDevices().empty());

    sender.finish(0, {});
    EXPECT_TRUE(waitUntil([&] { return !m().jobs().front().state.isRunning(); }));
    m().cancel(sendJob);
    EXPECT_FALSE(sender.calls[0].request.cancellation->isCancelled()) << "a finished job has nothing to stop";
}

}  // namespace
}  // namespace qb::test
