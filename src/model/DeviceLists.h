#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/Peer.h"
#include "model/Settings.h"

namespace qb::model {

// The device lists the views show, derived on demand from the trust collections, the discovered peers and
// the presence monitor's unreachable set. A view over the model's state: nothing is stored or cached, and it
// must not outlive the state it refers to.
class DeviceLists {
public:
    struct Inputs {
        const std::vector<std::string>& myDevices;
        const TextMap& deviceNames;
        const TextMap& knownKeys;
        const std::vector<Peer>& peers;
        const std::string& deviceName;
        const std::string& ownKey;
        const std::set<std::string>& unreachable;  // service names
        const TextMap& deviceAddresses;            // key fingerprint -> stored "host:port"
    };

    explicit DeviceLists(Inputs inputs) : in_(inputs) {}

    // myDevices in order, without this device's own name or key.
    std::vector<std::string> listedDevices() const;
    // The discovered peer that a device id stands for, or none.
    std::optional<Peer> onlinePeerRaw(const std::string& id) const;
    // A device added by address, at its stored address: a peer named by the id (its key), pinned to that key.
    std::optional<Peer> addressPeer(const std::string& id) const;
    // Whether `peer` is a stored address rather than a discovered service.
    bool isStoredAddress(const Peer& peer) const;
    // The peer a listed device is shown with and sent to while online: its discovered peer unless marked
    // unreachable, else its stored address unless marked unreachable; none while it is offline.
    std::optional<Peer> onlinePeer(const std::string& id) const;
    bool isOnline(const std::string& id) const { return onlinePeer(id).has_value(); }
    // Where a device can be tried even when nothing vouches for it: onlinePeer, else the discovered peer, else
    // the stored address.
    std::optional<Peer> reachablePeer(const std::string& id) const;
    // What the presence monitor probes: of each of my devices, its discovered peer and its stored address.
    std::vector<Peer> watchedPeers() const;
    std::string displayName(const std::string& id) const;
    // Discovered peers that are neither my devices nor holders of a recorded key.
    std::vector<Peer> nearbyPeers() const;
    // The myDevices entry a discovered peer is listed under, else its key, else its name.
    std::string listedId(const Peer& peer) const;

private:
    bool isMyDevice(const std::string& id) const;
    bool isRecordedKey(const std::string& key) const;

    Inputs in_;
};

}  // namespace qb::model
