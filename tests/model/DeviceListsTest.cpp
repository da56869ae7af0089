#include <gtest/gtest.h>

#include "model/DeviceLists.h"

namespace qb::test {
namespace {

using model::Peer;
using model::TextMap;

const std::string K1(64, '1');
const std::string K2(64, '2');
const std::string OWN(64, 'f');

Peer peer(std::string name, std::optional<std::string> key, std::string service = {}) {
    if (service.empty()) {
        service = name;
    }
    return Peer{std::move(name), std::move(service), platform::HostPort{"127.0.0.1", 9}, key ? 5 : 3, std::move(key)};
}

// The inputs of the lists, owned by the test as the model owns them.
struct Lists {
    std::vector<std::string> myDevices;
    TextMap deviceNames;
    TextMap knownKeys;
    std::vector<Peer> peers;
    std::string deviceName = "Me";
    std::string ownKey = OWN;
    std::set<std::string> unreachable;

    model::DeviceLists view() const {
        return model::DeviceLists({myDevices, deviceNames, knownKeys, peers, deviceName, ownKey, unreachable});
    }
};

TEST(DeviceListsTest, KeysAndNamesFindTheirPeersAndUnreachableOnesShowOffline) {
    Lists in;
    in.myDevices = {K1, "Laptop", "Me", OWN};
    in.peers = {peer("Studio", K1), peer("Laptop", std::nullopt)};
    EXPECT_EQ(in.view().listedDevices(), (std::vector<std::string>{K1, "Laptop"}));
    EXPECT_TRUE(in.view().isOnline(K1));
    EXPECT_TRUE(in.view().isOnline("Laptop"));
    EXPECT_EQ(in.view().displayName(K1), "Studio");

    in.unreachable = {"Studio"};
    EXPECT_FALSE(in.view().isOnline(K1));
    EXPECT_EQ(in.view().displayName(K1), "Studio");
}

TEST(DeviceListsTest, DevicesThatStoppedAdvertisingShowTheirLabelOrTheirId) {
    Lists in;
    in.myDevices = {K1, K2};
    in.deviceNames = {{K1, "Laptop"}};
    EXPECT_FALSE(in.view().onlinePeerRaw(K1));
    EXPECT_EQ(in.view().displayName(K1), "Laptop");
    EXPECT_EQ(in.view().displayName(K2), K2);
}

TEST(DeviceListsTest, ARecordedKeyFindsARenamedDeviceAndStopsTheLabelRule) {
    Lists in;
    in.myDevices = {"Desk"};
    in.knownKeys = {{"Desk", K1}};
    in.deviceNames = {{"Desk", "Studio"}};
    in.peers = {peer("Studio", std::nullopt), peer("Renamed", K1, "svc")};
    EXPECT_EQ(in.view().onlinePeerRaw("Desk")->serviceName, "svc");

    // Without the key on the network the label must not stand in for it.
    in.peers = {peer("Studio", std::nullopt)};
    EXPECT_FALSE(in.view().onlinePeerRaw("Desk"));

    in.knownKeys.clear();
    EXPECT_EQ(in.view().onlinePeerRaw("Desk")->name, "Studio");
}

TEST(DeviceListsTest, NearbyLeavesOutMyDevicesAndHoldersOfRecordedKeys) {
    Lists in;
    in.myDevices = {K1, "Phone"};
    in.knownKeys = {{"Someone", K2}};
    in.peers = {peer("A", K1), peer("Phone", std::string(64, '3')), peer("B", K2), peer("C", std::nullopt)};
    const auto nearby = in.view().nearbyPeers();
    ASSERT_EQ(nearby.size(), 1u);
    EXPECT_EQ(nearby[0].name, "C");
}

TEST(DeviceListsTest, ListedIdIsTheMatchingEntryElseTheKeyElseTheName) {
    Lists in;
    in.myDevices = {"svc-1"};
    EXPECT_EQ(in.view().listedId(peer("Desk", K1, "svc-1")), "svc-1");
    EXPECT_EQ(in.view().listedId(peer("Desk", K1, "svc-2")), K1);
    EXPECT_EQ(in.view().listedId(peer("Desk", std::nullopt, "svc-2")), "Desk");
}

}  // namespace
}  // namespace qb::test
