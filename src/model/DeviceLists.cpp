#include "model/DeviceLists.h"

#include <algorithm>

#include "model/DeviceAddress.h"
#include "transfer/Wire.h"

namespace qb::model {

namespace {

template <class Predicate>
std::optional<Peer> firstPeer(const std::vector<Peer>& peers, Predicate matches) {
    const auto found = std::find_if(peers.begin(), peers.end(), matches);
    return found == peers.end() ? std::nullopt : std::optional<Peer>(*found);
}

std::optional<Peer> peerNamed(const std::vector<Peer>& peers, const std::string& text) {
    return firstPeer(peers, [&](const Peer& peer) { return peer.name == text || peer.serviceName == text; });
}

std::optional<Peer> peerWithKey(const std::vector<Peer>& peers, const std::string& key) {
    return firstPeer(peers, [&](const Peer& peer) { return peer.key == key; });
}

}  // namespace

std::vector<std::string> DeviceLists::listedDevices() const {
    std::vector<std::string> listed;
    for (const std::string& id : in_.myDevices) {
        if (id != in_.deviceName && id != in_.ownKey) {
            listed.push_back(id);
        }
    }
    return listed;
}

std::optional<Peer> DeviceLists::onlinePeerRaw(const std::string& id) const {
    if (auto peer = peerWithKey(in_.peers, id)) {
        return peer;
    }
    if (auto peer = peerNamed(in_.peers, id)) {
        return peer;
    }
    // A name with a recorded key is matched by that key only: a device that now advertises another key under
    // the same label must not pass for it.
    if (const auto known = in_.knownKeys.find(id); known != in_.knownKeys.end()) {
        return peerWithKey(in_.peers, known->second);
    }
    if (const auto label = in_.deviceNames.find(id); label != in_.deviceNames.end()) {
        return peerNamed(in_.peers, label->second);
    }
    return std::nullopt;
}

std::optional<Peer> DeviceLists::addressPeer(const std::string& id) const {
    const auto stored = in_.deviceAddresses.find(id);
    const auto address = stored == in_.deviceAddresses.end() ? std::nullopt : parseAddressText(stored->second);
    if (!address) {
        return std::nullopt;
    }
    return Peer{displayName(id), id, *address, transfer::Wire::generationTls, id};
}

bool DeviceLists::isStoredAddress(const Peer& peer) const {
    const auto stored = addressPeer(peer.serviceName);
    return stored && stored->endpoint == peer.endpoint;
}

std::optional<Peer> DeviceLists::onlinePeer(const std::string& id) const {
    // The advertised endpoint wins; the stored address stands in while the advertised one does not answer.
    for (auto peer : {onlinePeerRaw(id), addressPeer(id)}) {
        if (peer && !in_.unreachable.contains(peer->serviceName)) {
            return peer;
        }
    }
    return std::nullopt;
}

std::optional<Peer> DeviceLists::reachablePeer(const std::string& id) const {
    if (auto peer = onlinePeer(id)) {
        return peer;
    }
    if (auto peer = onlinePeerRaw(id)) {
        return peer;
    }
    return addressPeer(id);
}

std::vector<Peer> DeviceLists::watchedPeers() const {
    std::vector<Peer> watched;
    for (const std::string& id : in_.myDevices) {
        for (auto peer : {onlinePeerRaw(id), addressPeer(id)}) {
            if (peer) {
                watched.push_back(std::move(*peer));
            }
        }
    }
    return watched;
}

std::string DeviceLists::displayName(const std::string& id) const {
    if (const auto peer = onlinePeerRaw(id)) {
        return peer->name;
    }
    if (const auto label = in_.deviceNames.find(id); label != in_.deviceNames.end()) {
        return label->second;
    }
    return id;
}

std::vector<Peer> DeviceLists::nearbyPeers() const {
    std::vector<Peer> nearby;
    for (const Peer& peer : in_.peers) {
        const bool mine = isMyDevice(peer.key.value_or(peer.name)) || isMyDevice(peer.name);
        const bool recorded = peer.key && isRecordedKey(*peer.key);
        if (!mine && !recorded) {
            nearby.push_back(peer);
        }
    }
    return nearby;
}

std::string DeviceLists::listedId(const Peer& peer) const {
    for (const std::string& entry : in_.myDevices) {
        if ((peer.key && entry == *peer.key) || entry == peer.name || entry == peer.serviceName) {
            return entry;
        }
    }
    return peer.key.value_or(peer.name);
}

bool DeviceLists::isMyDevice(const std::string& id) const {
    return std::find(in_.myDevices.begin(), in_.myDevices.end(), id) != in_.myDevices.end();
}

bool DeviceLists::isRecordedKey(const std::string& key) const {
    return std::any_of(in_.knownKeys.begin(), in_.knownKeys.end(),
                       [&](const auto& entry) { return entry.second == key; });
}

}  // namespace qb::model
