// Two models end to end over loopback: adding a device by its address (the key read and compared, pairing after
// confirmation, the stored address, and sending to it), and cancelling from a job row.

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include <asio/ip/address_v4.hpp>

#include "l10n/L.h"
#include "model/DeviceAddress.h"
#include "model/TwoDevices.h"
#include "platform/Connect.h"
#include "platform/NetTestSupport.h"
#include "transfer/AddressProbe.h"
#include "transfer/Wire.h"

namespace qb::test {
namespace {

using namespace std::chrono_literals;
using platform::HostPort;

TEST(DeviceAddressText, RoundTripsHostsOfEveryKindAndRefusesTheRest) {
    for (const HostPort& address : {HostPort("192.168.1.20", 51234), HostPort("studio.local", 1),
                                    HostPort("fe80::1%eth0", 65535), HostPort("::1", 80)}) {
        EXPECT_EQ(model::parseAddressText(model::addressText(address)), address) << model::addressText(address);
    }
    EXPECT_EQ(model::addressText(HostPort("::1", 80)), "[::1]:80");
    for (const char* bad : {"", "host", "host:", ":80", "host:0", "host:65536", "host:8x", "::1:80", "[::1]80"}) {
        EXPECT_EQ(model::parseAddressText(bad), std::nullopt) << bad;
    }
}

class AddressTest : public ::testing::Test, protected TwoDevices {
protected:
    void SetUp() override {
        l10n::L::setLang("en");
        receiver().setDeviceName("Receiver");
        sender().setDeviceName("Sender");
    }

    model::AddressCheck check(model::AppModel& model, const std::string& host, std::uint16_t port) {
        std::optional<model::AddressCheck> result;
        model.checkAddress(host, port, [&](const model::AddressCheck& checked) { result = checked; });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }, std::chrono::seconds(30)));
        return result.value_or(model::AddressCheck{});
    }
    // The whole road of adding by address (the host as typed, spaces and all), the receiver's user accepting.
    void pairByAddress(std::uint16_t port, const std::optional<std::string>& name = std::nullopt) {
        const auto checked = check(sender(), " 127.0.0.1 ", port);
        ASSERT_TRUE(checked.ok()) << checked.error.message();
        if (sender().pairAddress(checked, name).empty()) {
            return;  // already paired: the address was replaced
        }
        ASSERT_TRUE(waitUntil([&] { return receiver().requests().size() == 1; }));
        receiver().respond(receiver().requests().front(), true, false);
        ASSERT_TRUE(waitUntil([&] { return !sender().myDevices().empty(); }));
    }
    // Waits for the model's first job to fail with `text`.
    bool failedWith(model::AppModel& model, const std::string& text) {
        return waitUntil([&] {
            return !model.jobs().empty() && model.jobs().front().state == model::TransferJob::State::failed(text);
        });
    }
};

TEST_F(AddressTest, TheKeyIsShownPairedAfterConfirmationStoredWithItsAddressAndSentTo) {
    const std::uint16_t port = listen();
    const std::string key = receiverKey();
    pairByAddress(port, "Studio");
    EXPECT_EQ(sender().myDevices(), std::vector<std::string>{key});
    EXPECT_EQ(sender().displayName(key), "Studio");
    EXPECT_EQ(sender().deviceAddresses(), (std::map<std::string, HostPort>{{key, HostPort("127.0.0.1", port)}}));
    EXPECT_EQ(sending.store().stringMap("deviceAddresses"),
              (std::map<std::string, std::string>{{key, "127.0.0.1:" + std::to_string(port)}}));

    // Not seen by DNS-SD, the device is reached at its stored address, pinned to its key.
    receiver().setReceiveMode(model::ReceiveMode::known);
    const auto peer = sender().reachablePeer(key);
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->key, key);
    writeFile(sending.dir / "note.txt", "by address");
    sender().send({sending.dir / "note.txt"}, *peer);
    ASSERT_TRUE(waitUntil([&] { return !receiver().inbox().empty(); }, std::chrono::seconds(30)));
    EXPECT_EQ(readFile(receiver().inbox().front().url), "by address");

    sender().removeDevice(key);
    EXPECT_TRUE(sender().deviceAddresses().empty());
    EXPECT_FALSE(sender().reachablePeer(key));
}

TEST_F(AddressTest, ADeviceAddedByAddressIsOnlineWhileItsListenerAnswersThere) {
    const std::string key = receiverKey();
    pairByAddress(listen());
    // As on the next start: nothing but a probe vouches for a stored address, so it starts offline.
    sending.config.discovery.presence = {std::chrono::milliseconds(50), std::chrono::seconds(3), 2};
    sending.make().setReceiveMode(model::ReceiveMode::off);
    sender().start();
    EXPECT_FALSE(sender().isOnline(key));
    ASSERT_TRUE(waitUntil([&] { return sender().isOnline(key); }));
    EXPECT_EQ(sender().onlinePeer(key)->key, key);

    receiver().setReceiveMode(model::ReceiveMode::off);
    ASSERT_TRUE(waitUntil([&] { return !sender().isOnline(key); }));
    // Back on another port, where adding it again finds it: its address is replaced, with no second pairing.
    receiver().setReceiveMode(model::ReceiveMode::everyone);
    ASSERT_TRUE(waitUntil([&] { return receiver().port() != 0; }));
    pairByAddress(receiver().port());
    EXPECT_TRUE(receiver().requests().empty());
    EXPECT_EQ(sender().deviceAddresses().at(key).port, receiver().port());
    EXPECT_TRUE(waitUntil([&] { return sender().isOnline(key); }));
}

// The other reasons are the probe's own (AddressProbeTest); the model adds these two.
TEST_F(AddressTest, NoHostOrThisDevicesOwnKeySaySoAndPairNothing) {
    EXPECT_EQ(check(sender(), "  ", 1).error, make_error_code(transfer::AddressErrc::hostNotFound));
    receiving.config.ownKey = [&] { return receiverKey(); };
    receiving.make();
    const auto mine = check(receiver(), "127.0.0.1", listen());
    EXPECT_EQ(mine.error, make_error_code(transfer::AddressErrc::thisDevice));
    EXPECT_EQ(mine.error.message(), "That address is this device");
    receiver().pairAddress(mine);
    EXPECT_TRUE(receiver().jobs().empty());
}

TEST_F(AddressTest, ACancelledPairingTakesDownTheRequestCardAndRecordsNothing) {
    sender().pairDevice({"Receiver", "Receiver", HostPort("127.0.0.1", listen()), 5, receiverKey()});
    ASSERT_TRUE(waitUntil([&] { return receiver().requests().size() == 1; }));

    sender().cancel(sender().jobs().front().id);
    EXPECT_TRUE(failedWith(sender(), "Cancelled"));
    EXPECT_TRUE(waitUntil([&] { return receiver().requests().empty(); })) << "the card leaves with its sender";
    for (model::AppModel* model : {&sender(), &receiver()}) {
        EXPECT_TRUE(model->knownKeys().empty());
        EXPECT_TRUE(model->myDevices().empty());
    }
    EXPECT_TRUE(waitUntil([&] { return sender().jobs().empty(); })) << "leaves after the failed-job delay";
}

// Sends a header and the first bytes of a longer body, then waits for the receiver to end the connection.
asio::awaitable<std::string> stallMidBody(std::uint16_t port) {
    auto connected = co_await platform::connect(HostPort("127.0.0.1", port), std::nullopt, 10s);
    const transfer::FileHeader header{.v = 3, .name = "held.bin", .size = 1000, .from = "Sender"};
    co_await connected.stream.writeAll(transfer::Wire::encodePrefix(header), 10s);
    std::array<std::uint8_t, 3> go{};
    co_await connected.stream.readFull(go, 10s);
    co_await connected.stream.writeAll(platform::Bytes(10, 'x'), 10s);
    std::array<std::uint8_t, 16> rest{};
    const auto read = co_await connected.stream.readSome(rest, 20s);
    co_return std::string(go.begin(), go.end()) + (read.error == asio::error::timed_out ? "open" : "closed");
}

TEST_F(AddressTest, ACancelledIncomingBodyLeavesNothingAndClosesTheConnection) {
    const ScopedEnv autoAccept("QUOBBLEFIN_AUTOACCEPT", "1");
    receiving.config.server.options.identity = nullptr;  // the client below speaks plain TCP
    receiving.make();
    const std::uint16_t port = listen();
    std::promise<std::string> seen;
    std::thread client([&] {
        asio::io_context io;
        seen.set_value(runFor(io, stallMidBody(port), 30s).value_or("timeout"));
    });
    ASSERT_TRUE(waitUntil([&] { return !receiver().jobs().empty(); }));
    receiver().cancel("not a job");
    receiver().cancel(receiver().jobs().front().id);
    EXPECT_TRUE(failedWith(receiver(), "Cancelled"));
    client.join();
    EXPECT_EQ(seen.get_future().get(), "GO\nclosed");
    EXPECT_TRUE(std::filesystem::is_empty(receiver().saveDir()));
}

}  // namespace
}  // namespace qb::test
