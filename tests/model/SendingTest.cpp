// Sending, pairing and the trust records they read and write, with the file sender replaced by a recorder.

#include <gtest/gtest.h>

#include <thread>

#include "l10n/L.h"
#include "model/ModelTestSupport.h"

namespace qb::test {
namespace {

using model::IncomingRequest;
using model::SenderHooks;
using model::TextMap;
using State = model::TransferJob::State;
using transfer::TransferErrc;

// Stands in for the file sender: records each call and lets the test finish it from a worker thread.
struct FakeSender {
    struct Call {
        model::SendRequest request;  // a pairing's carries its key
        SenderHooks::Progress progress;
        SenderHooks::Completion completion;
    };

    SenderHooks hooks() {
        SenderHooks h;
        h.send = [this](model::SendRequest request, SenderHooks::Progress progress,
                        SenderHooks::Completion completion) {
            calls.push_back({std::move(request), std::move(progress), std::move(completion)});
        };
        h.pair = [this](platform::Endpoint to, std::string from, std::string key, SenderHooks::Completion done,
                        std::shared_ptr<transfer::Cancellation> cancellation) {
            calls.push_back(
                {{{}, std::move(to), std::move(from), true, key, std::move(cancellation)}, {}, std::move(done)});
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
using TrustTest = SendingTest;

TEST_F(SendingTest, OnlyANewGenerationsKeyIsPinnedAndRecordedAfterSuccessAndGenerationThreeOnWaitsForGo) {
    struct Case {
        model::Peer to;
        std::vector<std::filesystem::path> items;
        bool waitForGo;
        std::optional<std::string> pinned;
        std::string job;
    };
    for (const auto& c : std::vector<Case>{{peer("Desk", 5, K1), {"/tmp/a.txt"}, true, K1, "a.txt"},
                                           {peer("Three", 3, std::nullopt), {"/tmp/a", "/tmp/b/"}, true, {}, "2 items"},
                                           {peer("Two", 2, std::nullopt), {"/tmp/folder/"}, false, {}, "folder"},
                                           {peer("Old", 3, K1), {"/tmp/x"}, true, {}, "x"}}) {
        SCOPED_TRACE(c.to.name);
        m().send(c.items, c.to);
        ASSERT_EQ(sender.calls.back().request.items, c.items);
        EXPECT_EQ(sender.calls.back().request.waitForGo, c.waitForGo);
        EXPECT_EQ(sender.calls.back().request.peerKey, c.pinned);
        EXPECT_EQ(sender.calls.back().request.from, "Me");
        EXPECT_EQ(lastJob().name, c.job);
        EXPECT_EQ(lastJob().peer, c.to.name);
    }

    sender.finish(0, TransferErrc::timeout);
    sender.finish(1, {});
    ASSERT_TRUE(waitUntil([&] { return !m().jobs()[0].state.isRunning() && !m().jobs()[1].state.isRunning(); }));
    EXPECT_EQ(m().jobs()[0].state, State::failed("Could not reach the destination (timed out)"));
    EXPECT_TRUE(m().jobs()[1].state.isDone());
    EXPECT_TRUE(m().knownKeys().empty()) << "neither a failure nor a peer without a key records one";

    m().send({"/tmp/a.txt"}, peer("Desk", 5, K1));
    std::thread([&] { sender.calls.back().progress(0.25); }).join();
    ASSERT_TRUE(waitUntil([&] { return lastJob().progress == 0.25; })) << "progress hops to the main thread";
    sender.finish(4, {});
    ASSERT_TRUE(settled());
    EXPECT_EQ(lastJob().state, State::done());
    EXPECT_EQ(h.store().stringMap("knownKeys"), (TextMap{{"Desk", K1}}));
}

TEST_F(SendingTest, ARecordedKeyIsNeverDroppedAndReplacedOnlyWhenTheUserAccepts) {
    m().setKnownKeys({{"Desk", K1}});
    m().send({"/tmp/a"}, peer("Desk", 5, std::nullopt));
    m().send({"/tmp/a"}, peer("Desk", 3, K1));
    m().send({"/tmp/a"}, peer("Desk", 5, K2));
    EXPECT_TRUE(sender.calls.empty());
    ASSERT_EQ(m().jobs().size(), 3u);
    for (const auto& job : m().jobs()) {
        EXPECT_EQ(job.state, State::failed("This device's security key has changed \u2014 clear trusted devices in "
                                           "Settings to send again"));
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
    EXPECT_EQ(sender.calls[0].request.peerKey, K1);
    EXPECT_FALSE(sender.calls[0].progress) << "a pairing, not a send";
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
    m().cancel(m().jobs()[1].id);
    EXPECT_FALSE(sender.calls[0].request.cancellation->isCancelled());
    EXPECT_TRUE(sender.calls[1].request.cancellation->isCancelled());
    sender.finish(1, TransferErrc::cancelled);
    EXPECT_TRUE(waitUntil([&] { return m().jobs().back().state == State::failed("Cancelled"); }));
    EXPECT_TRUE(m().myDevices().empty());

    sender.finish(0, {});
    EXPECT_TRUE(waitUntil([&] { return !m().jobs().front().state.isRunning(); }));
    m().cancel(m().jobs().front().id);
    EXPECT_FALSE(sender.calls[0].request.cancellation->isCancelled()) << "a finished job has nothing to stop";
}

TEST_F(SendingTest, SharedItemsWaitUntilSentOrDropped) {
    int changes = 0;
    QObject::connect(&m(), &model::AppModel::changed, &m(), [&] { ++changes; });
    m().stageShare({"/tmp/a", "/tmp/b"});
    m().stageShare({"/tmp/c", "/tmp/d"});
    EXPECT_EQ(m().sharedItems(), (std::vector<std::filesystem::path>{"/tmp/c", "/tmp/d"})) << "replaced";
    m().dropShare();
    EXPECT_TRUE(m().sharedItems().empty());
    EXPECT_EQ(changes, 3);
    m().dropShare();
    EXPECT_EQ(changes, 3) << "nothing waiting, nothing changes";

    m().stageShare({"/tmp/c", "/tmp/d"});
    m().sendShare(peer("Desk", 3, std::nullopt));
    EXPECT_TRUE(m().sharedItems().empty());
    ASSERT_EQ(sender.calls.size(), 1u);
    EXPECT_EQ(sender.calls[0].request.items, (std::vector<std::filesystem::path>{"/tmp/c", "/tmp/d"}));
    ASSERT_EQ(m().jobs().size(), 1u);
    EXPECT_EQ(m().jobs()[0].peer, "Desk");
}

TEST_F(TrustTest, DevicesAreAddedOnceNeverThisOneAndOlderPeersByNameWithoutHandshake) {
    m().addDevice(K1, std::string("Laptop"));
    m().addDevice(K1, std::string("Other"));
    m().addDevice("Me", std::nullopt);
    m().addDevice(kOwnKey, std::nullopt);
    for (const auto& [name, proto, key] :
         std::vector<std::tuple<std::string, int, std::optional<std::string>>>{{"Old", 3, std::nullopt},
                                                                               {"Four", 4, K2},
                                                                               {"Me", 3, std::nullopt},
                                                                               {"Mirror", 5, kOwnKey},
                                                                               {"Old", 3, std::nullopt}}) {
        m().pairDevice(peer(name, proto, key));
    }
    EXPECT_EQ(m().myDevices(), (std::vector<std::string>{K1, "Old", "Four"}));
    EXPECT_EQ(m().deviceNames(), (TextMap{{K1, "Laptop"}, {"Old", "Old"}, {"Four", "Four"}}));
    EXPECT_TRUE(m().jobs().empty()) << "no handshake for these";
    EXPECT_TRUE(sender.calls.empty());
    EXPECT_EQ(h.store().stringList("myDevices"), m().myDevices());
    EXPECT_EQ(h.store().stringMap("deviceNames"), m().deviceNames());
}

TEST_F(TrustTest, RemoveDeviceForgetsEveryKeyPointingAtItAndItsLabel) {
    m().setKnownKeys({{"Laptop", K1}, {"Laptop (old name)", K1}, {"Phone", K2}});
    m().addDevice(K1, std::string("Laptop"));
    m().setTrusted({K1});
    m().removeDevice(K1);
    EXPECT_TRUE(m().myDevices().empty());
    EXPECT_TRUE(m().deviceNames().empty());
    EXPECT_EQ(m().knownKeys(), (TextMap{{"Phone", K2}}));
    EXPECT_EQ(m().trusted(), std::vector<std::string>{K1});
    EXPECT_EQ(h.store().stringMap("knownKeys"), m().knownKeys());
}

TEST_F(TrustTest, KnownSenderByKeyInMyDevicesByNameOrByRecordedKey) {
    m().setMyDevices({K1, "Phone"});
    m().setKnownKeys({{"Desk", K2}});
    const std::string other(64, '9');
    for (const auto& [name, key, known] :
         std::vector<std::tuple<std::string, std::optional<std::string>, bool>>{{"Anyone", K1, true},
                                                                                {"Phone", other, true},
                                                                                {"Renamed", K2, true},
                                                                                {"Desk", std::nullopt, false},
                                                                                {"Stranger", other, false}}) {
        EXPECT_EQ(m().isKnownSender(name, key), known) << name;
    }
}

TEST_F(TrustTest, KeyChangeIsAskedWithTitleKeysAndButtonsAndRecordedOnlyOnYes) {
    m().setKnownKeys({{"Desk", K1}});
    EXPECT_FALSE(m().trustNewKey("Desk", K1, K2));
    EXPECT_EQ(m().knownKeys().at("Desk"), K1);
    ASSERT_EQ(h.prompts.size(), 1u);
    const auto& prompt = h.prompts[0];
    EXPECT_EQ(prompt.title, "This device's security key has changed");
    EXPECT_EQ(prompt.text, "Desk\nKey 11111111 \u2192 Key 22222222");
    EXPECT_EQ(prompt.acceptLabel, "Accept");
    EXPECT_EQ(prompt.declineLabel, "Decline");

    h.acceptKeyChange = true;
    EXPECT_TRUE(m().trustNewKey("Desk", K1, K2));
    EXPECT_EQ(h.store().stringMap("knownKeys"), (TextMap{{"Desk", K2}}));
}

TEST_F(TrustTest, AcceptingRecordsTheSenderKeyPairingAddsTheDeviceAndRememberTrustsIt) {
    std::vector<bool> answers;
    const auto respond = [&](std::string from, std::optional<std::string> key, bool pair, bool accept, bool remember) {
        IncomingRequest r;
        r.id = from + "-id";
        r.from = from;
        r.key = std::move(key);
        r.pair = pair;
        r.answer = [&answers](bool yes) { answers.push_back(yes); };
        m().respond(r, accept, remember);
    };
    m().setKnownKeys({{"Desk", K1}});
    respond("Desk", K2, false, true, false);
    respond("Tab", K1, true, true, true);
    respond("Tab", K1, false, true, true);
    EXPECT_EQ(m().knownKeys(), (TextMap{{"Desk", K2}, {"Tab", K1}}));
    EXPECT_EQ(m().myDevices(), std::vector<std::string>{K1});
    EXPECT_EQ(m().deviceNames(), (TextMap{{K1, "Tab"}}));
    EXPECT_EQ(m().trusted(), std::vector<std::string>{K1});
    EXPECT_EQ(h.store().stringMap("trustedNames"), (TextMap{{K1, "Tab"}}));

    // Nothing is recorded for a request without a key, nor for a refusal.
    respond("Plain", std::nullopt, false, true, true);
    respond("Nope", K2, true, false, true);
    EXPECT_EQ(m().knownKeys().size(), 2u);
    EXPECT_EQ(m().trusted().size(), 1u);
    EXPECT_EQ(answers, (std::vector<bool>{true, true, true, true, false}));
}

}  // namespace
}  // namespace qb::test
