#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/DesktopHooks.h"
#include "model/DeviceLists.h"
#include "model/IncomingRequest.h"
#include "model/Peer.h"
#include "platform/EndpointTypes.h"

namespace qb::model {

class ModelSettings;

// Who this device knows: the trust collections of the settings and the rules that change them, and the
// discovered peers and presence marks from which the device lists are made. Every change that touches
// several collections stores them in one write.
class TrustStore {
public:
    struct Hooks {
        std::function<std::string()> ownKey;                     // unset: the shared device identity's
        std::function<bool(const KeyChangePrompt&)> confirmKey;  // unset: a changed key is refused
        std::function<void()> changed;                           // after every change
    };

    TrustStore(ModelSettings& settings, Hooks hooks);

    // This device's key fingerprint, asked once.
    const std::string& ownKey() const;

    // Adds a device unless it is listed already or is this device; `label` names it.
    void addDevice(const std::string& id, const std::optional<std::string>& label);
    // Records `key` as the key of the device named `name` and lists it under its key (a pairing).
    void pairWith(const std::string& key, const std::string& name);
    // Forgets the device with its names, keys and stored address, in one write.
    void removeDevice(const std::string& id);
    // Devices added by address, for networks where DNS-SD finds nothing: the address the key was found at.
    void storeAddress(const std::string& key, const platform::HostPort& address);
    // Key fingerprint -> stored address, for every device that has one.
    std::map<std::string, platform::HostPort> deviceAddresses() const;
    // Where a listed device can be sent to: what answers of its discovered peer (the advertised endpoint wins) and
    // its stored address with its key pinned; none when it has neither.
    std::optional<Peer> reachablePeer(const std::string& id) const;
    // Records `key` as the known key of the device named `name`.
    void recordKnownKey(const std::string& name, const std::string& key);
    // Asks the user to accept a changed key for `name`; on yes records it and answers true.
    bool trustNewKey(const std::string& name, const std::string& oldKey, const std::string& newKey);
    static KeyChangePrompt keyChangePrompt(const std::string& name, const std::string& oldKey,
                                           const std::string& newKey);

    bool isKnownSender(const std::string& name, const std::optional<std::string>& key) const;
    bool isKeyRecorded(const std::string& key) const;
    // An accepted request's sender: its key recorded under its name, and for a pairing, the device added.
    void recordAcceptedSender(const IncomingRequest& request);
    // "Always accept": the key joins `trusted` with the sender's name.
    void rememberSender(const std::string& key, const std::string& name);

    const std::vector<Peer>& peers() const { return peers_; }
    void setPeers(std::vector<Peer> peers);
    const std::set<std::string>& unreachable() const { return unreachable_; }
    void setUnreachable(std::set<std::string> serviceNames);
    DeviceLists deviceLists() const;

private:
    void changed() const;

    ModelSettings& settings_;
    Hooks hooks_;
    mutable std::optional<std::string> ownKey_;
    std::vector<Peer> peers_;
    std::set<std::string> unreachable_;
};

}  // namespace qb::model
