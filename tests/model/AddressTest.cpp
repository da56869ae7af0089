// Adding a device by its address, end to end over loopback between two models: the key read and compared,
// pairing after confirmation, the stored address, and sending to it.

#include <gtest/gtest.h>

#include <asio/ip/address_v4.hpp>

#include "l10n/L.h"
#include "model/DeviceAddress.h"
#include "model/TwoDevices.h"
#include "transfer/AddressProbe.h"

namespace qb::test {
namespace {

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
    // The whole road of adding by address, the receiver's user accepting.
    void pairByAddress(std::uint16_t port, const std::optional<std::string>& name = std::nullopt) {
        const auto checked = check(sender(), "127.0.0.1", port);
        ASSERT_TRUE(checked.ok()) << checked.error.message();
        if (sender().pairAddress(checked, name).empty()) {
            return;  // already paired: the address was replaced
        }
        ASSERT_TRUE(waitUntil([&] { return receiver().requests().size() == 1; }));
        receiver().respond(receiver().requests().front(), true, false);
        ASSERT_TRUE(waitUntil([&] { return !sender().myDevices().empty(); }));
    }
};

TEST_F(AddressTest, TheKeyIsShownPairedAfterConfirmationStoredWithItsAddressAndSentTo) {
    const std::uint16_t port = listen();
    const std::string key = receiverKey();
    const auto checked = check(sender(), " 127.0.0.1 ", port);
    ASSERT_TRUE(checked.ok()) << checked.error.message();
    EXPECT_EQ(checked.keyPrefix(), key.substr(0, 8));
    EXPECT_TRUE(receiver().requests().empty()) << "reading the key asks nobody";

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

}  // namespace
}  // namespace qb::test
