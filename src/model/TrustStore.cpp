#include "model/TrustStore.h"

#include <algorithm>

#include "identity/Identity.h"
#include "l10n/L.h"
#include "model/DeviceAddress.h"
#include "model/ModelSettings.h"

namespace qb::model {

namespace {

bool contains(const std::vector<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

// The first 8 characters by which the user tells keys apart.
std::string keyLine(const std::string& key) {
    return l10n::L::format(l10n::L::t("req.key"), {std::string_view(key).substr(0, 8)});
}

}  // namespace

TrustStore::TrustStore(ModelSettings& settings, Hooks hooks) : settings_(settings), hooks_(std::move(hooks)) {}

void TrustStore::changed() const {
    if (hooks_.changed) {
        hooks_.changed();
    }
}

const std::string& TrustStore::ownKey() const {
    if (!ownKey_) {
        ownKey_ = hooks_.ownKey ? hooks_.ownKey() : identity::Identity::shared().ownFingerprint();
    }
    return *ownKey_;
}

void TrustStore::addDevice(const std::string& id, const std::optional<std::string>& label) {
    Settings& values = settings_.edit();
    if (contains(values.myDevices, id) || id == values.deviceName || id == ownKey()) {
        return;
    }
    values.myDevices.push_back(id);
    if (label) {
        values.deviceNames[id] = *label;
        settings_.store({settingsKey::myDevices, settingsKey::deviceNames});
    } else {
        settings_.store({settingsKey::myDevices});
    }
    changed();
}

void TrustStore::pairWith(const std::string& key, const std::string& name) {
    Settings& values = settings_.edit();
    values.knownKeys[name] = key;
    const bool adds = !contains(values.myDevices, key) && key != values.deviceName && key != ownKey();
    if (adds) {
        values.myDevices.push_back(key);
        values.deviceNames[key] = name;
        settings_.store({settingsKey::knownKeys, settingsKey::myDevices, settingsKey::deviceNames});
    } else {
        settings_.store({settingsKey::knownKeys});
    }
    changed();
}

void TrustStore::removeDevice(const std::string& id) {
    Settings& values = settings_.edit();
    std::erase(values.myDevices, id);
    std::optional<std::string> label;
    if (const auto entry = values.deviceNames.find(id); entry != values.deviceNames.end()) {
        label = entry->second;
        values.deviceNames.erase(entry);
    }
    values.knownKeys.erase(id);
    if (label) {
        values.knownKeys.erase(*label);
    }
    std::erase_if(values.knownKeys, [&](const auto& entry) { return entry.second == id; });
    values.deviceAddresses.erase(id);
    settings_.store(
        {settingsKey::myDevices, settingsKey::deviceNames, settingsKey::knownKeys, settingsKey::deviceAddresses});
    changed();
}

void TrustStore::storeAddress(const std::string& key, const platform::HostPort& address) {
    settings_.edit().deviceAddresses[key] = addressText(address);
    settings_.store({settingsKey::deviceAddresses});
    changed();
}

std::map<std::string, platform::HostPort> TrustStore::deviceAddresses() const {
    std::map<std::string, platform::HostPort> addresses;
    for (const auto& [key, text] : settings_.values().deviceAddresses) {
        if (auto address = parseAddressText(text)) {
            addresses.emplace(key, std::move(*address));
        }
    }
    return addresses;
}

std::optional<Peer> TrustStore::reachablePeer(const std::string& id) const {
    return deviceLists().reachablePeer(id);
}

void TrustStore::recordKnownKey(const std::string& name, const std::string& key) {
    settings_.edit().knownKeys[name] = key;
    settings_.store({settingsKey::knownKeys});
    changed();
}

KeyChangePrompt TrustStore::keyChangePrompt(const std::string& name, const std::string& oldKey,
                                            const std::string& newKey) {
    const std::string changedText = l10n::L::t("err.identityChanged");
    const std::size_t dash = changedText.find(" \u2014 ");
    KeyChangePrompt prompt;
    prompt.title = dash == std::string::npos ? changedText : changedText.substr(0, dash);
    prompt.text = name + "\n" + keyLine(oldKey) + " \u2192 " + keyLine(newKey);
    prompt.acceptLabel = l10n::L::t("req.accept");
    prompt.declineLabel = l10n::L::t("req.decline");
    return prompt;
}

bool TrustStore::trustNewKey(const std::string& name, const std::string& oldKey, const std::string& newKey) {
    if (!hooks_.confirmKey || !hooks_.confirmKey(keyChangePrompt(name, oldKey, newKey))) {
        return false;
    }
    recordKnownKey(name, newKey);
    return true;
}

bool TrustStore::isKeyRecorded(const std::string& key) const {
    const TextMap& knownKeys = settings_.values().knownKeys;
    return std::any_of(knownKeys.begin(), knownKeys.end(), [&](const auto& entry) { return entry.second == key; });
}

bool TrustStore::isKnownSender(const std::string& name, const std::optional<std::string>& key) const {
    const auto& myDevices = settings_.values().myDevices;
    if (key && contains(myDevices, *key)) {
        return true;
    }
    if (contains(myDevices, name)) {
        return true;
    }
    return key && isKeyRecorded(*key);
}

void TrustStore::recordAcceptedSender(const IncomingRequest& request) {
    if (!request.key) {
        return;
    }
    if (request.pair) {
        pairWith(*request.key, request.from);
        return;
    }
    const TextMap& knownKeys = settings_.values().knownKeys;
    const auto stored = knownKeys.find(request.from);
    if (stored == knownKeys.end() || stored->second != *request.key) {
        recordKnownKey(request.from, *request.key);
    }
}

void TrustStore::rememberSender(const std::string& key, const std::string& name) {
    Settings& values = settings_.edit();
    if (!contains(values.trusted, key)) {
        values.trusted.push_back(key);
    }
    values.trustedNames[key] = name;
    settings_.store({settingsKey::trusted, settingsKey::trustedNames});
    changed();
}

void TrustStore::setPeers(std::vector<Peer> peers) {
    peers_ = std::move(peers);
    changed();
}

void TrustStore::setUnreachable(std::set<std::string> serviceNames) {
    unreachable_ = std::move(serviceNames);
    changed();
}

DeviceLists TrustStore::deviceLists() const {
    const Settings& values = settings_.values();
    return DeviceLists({values.myDevices, values.deviceNames, values.knownKeys, peers_, values.deviceName, ownKey(),
                        unreachable_, values.deviceAddresses});
}

}  // namespace qb::model
