#include <gtest/gtest.h>

#include <asio/ip/address_v4.hpp>

#include "l10n/L.h"
#include "model/MainThread.h"
#include "model/ModelTestSupport.h"
#include "transfer/FileSender.h"

namespace qb::test {
namespace {

using model::ReceiveMode;
using transfer::FileEntry;
using transfer::FileHeader;

FileHeader header(std::string from, bool pair = false) {
    return {
        .v = 5, .name = pair ? "pair" : "photo.jpg", .size = pair ? 0 : 2048, .from = std::move(from), .pair = pair};
}

class IncomingTest : public ::testing::Test {
protected:
    void SetUp() override {
        l10n::L::setLang("en");
        // Plain listeners on loopback: traffic never leaves the machine.
        h.config.server.options.identity = nullptr;
        h.config.server.options.bindAddress = asio::ip::address_v4::loopback();
        h.config.desktop.reveal = [this](const std::filesystem::path& item) { revealed.push_back(item); };
        h.make();
        h.model->setDeviceName("Me");
    }
    model::AppModel& m() { return *h.model; }
    std::uint16_t listening() {
        EXPECT_TRUE(waitUntil([&] { return m().port() != 0; }));
        return m().port();
    }

    // The gate's outcome for one header: "accept", "decline" or "ask".
    std::string decide(const FileHeader& head, std::optional<std::string> key) {
        std::string outcome = "ask";
        const auto waiting = m().requests().size();
        m().decideIncoming(head, key, [&](bool accept) { outcome = accept ? "accept" : "decline"; });
        if (outcome == "ask" && m().requests().size() != waiting + 1) {
            outcome = "no answer and no request";
        }
        return outcome;
    }

    ModelHarness h;
    std::vector<std::filesystem::path> revealed;
};

TEST_F(IncomingTest, DecisionTableRowByRow) {
    m().setMyDevices({"OldPeer"});
    m().setKnownKeys({{"Someone", K1}});
    {
        ScopedEnv on("QUOBBLEFIN_AUTOACCEPT", "1");
        m().setReceiveMode(ReceiveMode::off);
        EXPECT_EQ(decide(header("Stranger"), std::nullopt), "accept");
        ScopedEnv notExactly("QUOBBLEFIN_AUTOACCEPT", "true");
        EXPECT_EQ(decide(header("Stranger"), std::nullopt), "decline");
    }
    EXPECT_EQ(decide(header("Tab", true), K2), "decline") << "receiving off";

    m().setReceiveMode(ReceiveMode::known);
    EXPECT_EQ(decide(header("Tab", true), std::nullopt), "decline") << "pairing needs a proven key";
    EXPECT_EQ(decide(header("Stranger"), K2), "decline") << "stranger in known mode";
    EXPECT_EQ(decide(header("Stranger"), std::nullopt), "decline");
    EXPECT_EQ(decide(header("Renamed"), K1), "accept") << "recorded key under another name";
    EXPECT_EQ(decide(header("OldPeer"), std::nullopt), "ask") << "listed by name, no key";
    EXPECT_EQ(decide(header("Someone", true), K1), "ask") << "pairing is always asked";

    m().setReceiveMode(ReceiveMode::everyone);
    EXPECT_EQ(decide(header("Renamed"), K1), "ask") << "everyone mode asks known devices too";
    ASSERT_EQ(m().requests().size(), 3u);
    const auto notified = h.notifications.size();
    for (int flood = 0; flood < 100; ++flood) {
        EXPECT_EQ(decide(header("Flood"), std::nullopt), "decline") << "three already waiting";
    }
    EXPECT_EQ(h.notifications.size(), notified) << "a declined flood notifies nobody";
    EXPECT_EQ(m().myDevices(), std::vector<std::string>{"OldPeer"});
    EXPECT_TRUE(m().trusted().empty());
}

TEST_F(IncomingTest, AskingQueuesTheRequestPlaysASoundNotifiesAndBringsThePanel) {
    int panelCalls = 0;
    m().setOnRequest([&] { ++panelCalls; });
    FileHeader folder = header("Desk");
    folder.name = "Holiday";
    folder.files = std::vector<FileEntry>{{"a.jpg", 10, false}, {"sub", 0, true}, {"sub/b.jpg", 20, false}};
    m().decideIncoming(folder, K1, [](bool) {});
    ASSERT_EQ(m().requests().size(), 1u);
    const auto& request = m().requests()[0];
    EXPECT_EQ(request.from, "Desk");
    EXPECT_EQ(request.key, K1);
    EXPECT_EQ(request.count, 2);
    EXPECT_EQ(request.size, 2048);
    EXPECT_FALSE(request.pair);
    EXPECT_EQ(h.sounds, std::vector<std::string>{"Ping"});
    EXPECT_EQ(h.notifications, std::vector<std::string>{"Desk wants to send you|Holiday"});
    EXPECT_EQ(panelCalls, 1);

    m().setPlaySound(false);
    m().decideIncoming(header("Desk", true), K1, [](bool) {});
    EXPECT_EQ(m().requests()[1].count, 1);
    EXPECT_TRUE(m().requests()[1].pair);
    EXPECT_EQ(h.sounds.size(), 1u);
    EXPECT_EQ(h.notifications.size(), 2u);
}

TEST_F(IncomingTest, FinishedTransfersLeadTheInboxInTransferOrder) {
    const auto folder = h.dir / "in";
    m().setSaveDir(folder);
    for (int i = 0; i < 40; ++i) {
        writeFile(folder / ("old" + std::to_string(i)), "x");
    }
    m().refreshInbox();
    const auto olderFirst = m().inbox()[0].url;
    writeFile(folder / "a.txt", "aaaa");
    std::filesystem::create_directories(folder / "pics");
    writeFile(folder / "b.txt", "b");
    std::optional<model::InboxItem> shown;
    m().setOnReceived([&](const model::InboxItem& item) { shown = item; });

    m().finishIncoming("id-1", transfer::ReceiveResult({folder / "a.txt", folder / "pics", folder / "b.txt"}));
    ASSERT_EQ(m().inbox().size(), 40u);
    EXPECT_EQ(m().inbox()[0].url, folder / "a.txt");
    EXPECT_EQ(m().inbox()[0].size, 4);
    EXPECT_EQ(m().inbox()[0].from, "?");
    EXPECT_TRUE(m().inbox()[1].isDir);
    EXPECT_GT(m().inbox()[1].size, 0) << "a folder that just arrived shows its entry's own size";
    EXPECT_EQ(m().inbox()[3].url, olderFirst);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->url, folder / "a.txt");
    EXPECT_EQ(h.sounds, std::vector<std::string>{"Glass"});
    EXPECT_EQ(h.notifications, std::vector<std::string>{"Received a file from ?|3 items"});
    // Its one button shows the first item in the file manager.
    ASSERT_EQ(h.notificationActions.size(), 1u);
    ASSERT_EQ(h.notificationActions[0].size(), 1u);
    EXPECT_EQ(h.notificationActions[0][0].label, "Show");
    h.notificationActions[0][0].invoke();
    EXPECT_EQ(revealed, std::vector<std::filesystem::path>{folder / "a.txt"});

    // A failed receive changes only its job.
    m().appendJob({.id = "t1", .direction = model::TransferJob::Direction::incoming});
    m().finishIncoming("t1", transfer::TransferError::of(transfer::TransferErrc::connectionClosed));
    EXPECT_EQ(m().jobs().back().state.message(), "Connection closed before the transfer finished");
    EXPECT_EQ(m().inbox()[0].url, folder / "a.txt");
    EXPECT_EQ(h.notifications.size(), 1u);
    EXPECT_EQ(h.sounds.size(), 1u);

    h.config.desktop.reveal = nullptr;
    h.make().finishIncoming("u", transfer::ReceiveResult({folder / "a.txt"}));
    EXPECT_TRUE(h.notificationActions.back().empty()) << "nothing to offer without a file manager";
}

TEST_F(IncomingTest, FilesSentToTheListenerArriveAfterTheUserAcceptsAndReceiveModeAndRenameRestartIt) {
    const auto folder = h.dir / "in";
    m().setSaveDir(folder);
    m().start();
    const auto port = listening();
    writeFile(h.dir / "out" / "a.txt", "hello");
    writeFile(h.dir / "out" / "b.bin", std::string(3000, 'b'));

    std::optional<transfer::TransferResult> sent;
    transfer::FileSender::send(
        {h.dir / "out" / "a.txt", h.dir / "out" / "b.bin"}, platform::HostPort("127.0.0.1", port), "Studio", true,
        std::nullopt, false, {},
        [&](transfer::TransferResult result) { model::postToMainThread([&sent, result] { sent = result; }); });
    ASSERT_TRUE(waitUntil([&] { return m().requests().size() == 1; }));
    m().respond(m().requests()[0], true, true);
    ASSERT_TRUE(waitUntil([&] { return sent.has_value(); }));
    ASSERT_TRUE(sent->ok()) << sent->error().description();
    ASSERT_TRUE(waitUntil([&] { return m().inbox().size() == 2; }));
    EXPECT_EQ(m().inbox()[0].url, folder / "a.txt");
    EXPECT_EQ(m().inbox()[0].from, "Studio");
    EXPECT_EQ(m().inbox()[1].url, folder / "b.bin");
    EXPECT_EQ(readFile(folder / "b.bin"), std::string(3000, 'b'));
    ASSERT_EQ(m().jobs().size(), 1u);
    EXPECT_TRUE(m().jobs()[0].state.isDone());
    EXPECT_EQ(m().jobs()[0].direction, model::TransferJob::Direction::incoming);
    EXPECT_EQ(h.notifications.back(), "Received a file from Studio|2 items");
    EXPECT_EQ(m().registeredName(), "Me");

    m().setReceiveMode(ReceiveMode::off);
    EXPECT_EQ(m().registeredName(), "");
    EXPECT_EQ(m().port(), 0);
    m().setReceiveMode(ReceiveMode::known);
    listening();

    m().applyDeviceName("  Zo\u00eb's Desk\n");
    EXPECT_EQ(m().deviceName(), "Zo\u00eb's Desk");
    EXPECT_EQ(m().registeredName(), "");
    ASSERT_TRUE(waitUntil([&] { return m().registeredName() == "Zo 's Desk"; }));
    const auto renamedPort = m().port();
    m().applyDeviceName(" \t ");
    m().applyDeviceName("Zo\u00eb's Desk");
    EXPECT_EQ(m().registeredName(), "Zo 's Desk");
    EXPECT_EQ(m().port(), renamedPort);
}

}  // namespace
}  // namespace qb::test
