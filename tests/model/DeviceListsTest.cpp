#include <gtest/gtest.h>

#include "model/DeviceLists.h"

namespace qb::test {
namespace {

using model::Peer;

const std::string K1(64, '1');
const std::string OWN(64, 'f');

Peer peer(std::string name, std::optional<std::string> key, std::string service = {}) {
    return Peer{name, service.empty() ? name : service, platform::HostPort("127.0.0.1", 9), 5, std::move(key)};
}

// The inputs of the lists, owned here as the model owns them.
struct Lists {
    std::vector<std::string> myDevices{};
    model::TextMap deviceNames{};
    model::TextMap knownKeys{};
    std::vector<Peer> peers{};
    std::string deviceName = "Me";
    std::string ownKey = OWN;
    std::set<std::string> unreachable{};
    model::TextMap deviceAddresses{};

    model::DeviceLists view() const {
        return model::DeviceLists(
            {myDevices, deviceNames, knownKeys, peers, deviceName, ownKey, unreachable, deviceAddresses});
    }
};

TEST(DeviceListsTest, MyDevicesFindTheirPeersByKeyOrNameAndOtherwiseShowTheirLabel) {
    Lists in{.myDevices = {K1, "Laptop", "Gone", "Me", OWN}, .deviceNames = {{"Gone", "Old label"}}};
    in.peers = {peer("Studio", K1), peer("Laptop", std::nullopt)};
    EXPECT_EQ(in.view().listedDevices(), (std::vector<std::string>{K1, "Laptop", "Gone"}));
    EXPECT_TRUE(in.view().isOnline(K1));
    EXPECT_TRUE(in.view().isOnline("Laptop"));
    EXPECT_EQ(in.view().displayName(K1), "Studio");
    EXPECT_EQ(in.view().displayName("Gone"), "Old label");
    EXPECT_EQ(in.view().displayName("Nobody"), "Nobody");

    in.unreachable = {"Studio"};
    EXPECT_FALSE(in.view().isOnline(K1));
    EXPECT_EQ(in.view().displayName(K1), "Studio");
}

TEST(DeviceListsTest, ARecordedKeyFindsARenamedDeviceAndStopsTheLabelRule) {
    Lists in{.myDevices = {"Desk"}, .deviceNames = {{"Desk", "Studio"}}, .knownKeys = {{"Desk", K1}}};
    in.peers = {peer("Studio", std::nullopt), peer("Renamed", K1, "svc")};
    EXPECT_EQ(in.view().onlinePeerRaw("Desk")->serviceName, "svc");

    // Without the key on the network the label must not stand in for it.
    in.peers = {peer("Studio", std::nullopt)};
    EXPECT_FALSE(in.view().onlinePeerRaw("Desk"));
    in.knownKeys.clear();
    EXPECT_EQ(in.view().onlinePeerRaw("Desk")->name, "Studio");
}

TEST(DeviceListsTest, NearbyLeavesOutMyDevicesAndRecordedKeysAndListedIdPrefersMyEntry) {
    const std::string k2(64, '2');
    Lists in{.myDevices = {K1, "Phone", "svc-1"}, .knownKeys = {{"Someone", k2}}};
    in.peers = {peer("A", K1), peer("Phone", std::string(64, '3')), peer("B", k2), peer("C", std::nullopt)};
    const auto nearby = in.view().nearbyPeers();
    ASSERT_EQ(nearby.size(), 1u);
    EXPECT_EQ(nearby[0].name, "C");

    EXPECT_EQ(in.view().listedId(peer("Desk", k2, "svc-1")), "svc-1");
    EXPECT_EQ(in.view().listedId(peer("Desk", k2, "svc-2")), k2);
    EXPECT_EQ(in.view().listedId(peer("Desk", std::nullopt, "svc-2")), "Desk");
}

TEST(DeviceListsTest, TheAdvertisedEndpointWinsAndTheStoredAddressStandsInWhileItDoesNotAnswer) {
    Lists in{.myDevices = {K1}, .deviceNames = {{K1, "Studio"}}, .deviceAddresses = {{K1, "[fe80::1]:5000"}}};
    const Peer stored{"Studio", K1, platform::HostPort("fe80::1", 5000), 5, K1};
    struct Case {
        bool advertised;
        std::set<std::string> unreachable;
        std::optional<std::string> online;  // service name of the peer shown and sent to, none when offline
        std::string sendTo;                 // service name of reachablePeer
    };
    for (const auto& [advertised, unreachable, online, sendTo] : std::vector<Case>{{true, {}, "svc", "svc"},
                                                                                   {true, {"svc"}, K1, K1},
                                                                                   {true, {"svc", K1}, {}, "svc"},
                                                                                   {false, {}, K1, K1},
                                                                                   {false, {K1}, {}, K1}}) {
        in.peers = advertised ? std::vector<Peer>{peer("Studio", K1, "svc")} : std::vector<Peer>{};
        in.unreachable = unreachable;
        const auto shown = in.view().onlinePeer(K1);
        EXPECT_EQ(shown ? std::optional(shown->serviceName) : std::nullopt, online) << advertised << sendTo;
        EXPECT_EQ(in.view().reachablePeer(K1)->serviceName, sendTo);
        EXPECT_EQ(in.view().watchedPeers().size(), advertised ? 2u : 1u);
    }
    EXPECT_EQ(in.view().addressPeer(K1), stored);
    EXPECT_TRUE(in.view().isStoredAddress(stored));
    EXPECT_FALSE(in.view().isStoredAddress(peer("Studio", K1, K1)));
    in.deviceAddresses.clear();
    EXPECT_FALSE(in.view().reachablePeer(K1));
}

}  // namespace
}  // namespace qb::test
