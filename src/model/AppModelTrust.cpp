#include <algorithm>

#include "l10n/L.h"
#include "model/AppModel.h"

namespace qb::model {

namespace {

bool contains(const std::vector<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

bool isKeyRecorded(const TextMap& knownKeys, const std::string& key) {
    return std::any_of(knownKeys.begin(), knownKeys.end(), [&](const auto& entry) { return entry.second == key; });
}

// The first 8 characters by which the user tells keys apart.
std::string keyLine(const std::string& key) {
    return l10n::L::format(l10n::L::t("req.key"), {std::string_view(key).substr(0, 8)});
}

}  // namespace

void AppModel::addDevice(const std::string& id, const std::optional<std::string>& label) {
    if (contains(settings_.myDevices, id) || id == settings_.deviceName || id == ownKey()) {
        return;
    }
    settings_.myDevices.push_back(id);
    storeMyDevices();
    if (label) {
        settings_.deviceNames[id] = *label;
        storeDeviceNames();
    }
}

KeyChangePrompt AppModel::keyChangePrompt(const std::string& name, const std::string& oldKey,
                                          const std::string& newKey) {
    const std::string changed = l10n::L::t("err.identityChanged");
    const std::size_t dash = changed.find(" \u2014 ");
    KeyChangePrompt prompt;
    prompt.title = dash == std::string::npos ? changed : changed.substr(0, dash);
    prompt.text = name + "\n" + keyLine(oldKey) + " \u2192 " + keyLine(newKey);
    prompt.acceptLabel = l10n::L::t("req.accept");
    prompt.declineLabel = l10n::L::t("req.decline");
    return prompt;
}

bool AppModel::trustNewKey(const std::string& name, const std::string& oldKey, const std::string& newKey) {
    const auto& confirm = config_.desktop.confirmKeyChange;
    if (!confirm || !confirm(keyChangePrompt(name, oldKey, newKey))) {
        return false;
    }
    settings_.knownKeys[name] = newKey;
    storeKnownKeys();
    return true;
}

void AppModel::removeDevice(const std::string& id) {
    std::erase(settings_.myDevices, id);
    std::optional<std::string> label;
    if (const auto entry = settings_.deviceNames.find(id); entry != settings_.deviceNames.end()) {
        label = entry->second;
        settings_.deviceNames.erase(entry);
    }
    settings_.knownKeys.erase(id);
    if (label) {
        settings_.knownKeys.erase(*label);
    }
    std::erase_if(settings_.knownKeys, [&](const auto& entry) { return entry.second == id; });
    forgetAddress(id);
    storeMyDevices();
    storeDeviceNames();
    storeKnownKeys();
}

bool AppModel::isKnownSender(const std::string& name, const std::optional<std::string>& key) const {
    if (key && contains(settings_.myDevices, *key)) {
        return true;
    }
    if (contains(settings_.myDevices, name)) {
        return true;
    }
    return key && isKeyRecorded(settings_.knownKeys, *key);
}

void AppModel::recordAcceptedSender(const IncomingRequest& request) {
    if (!request.key) {
        return;
    }
    const std::string& key = *request.key;
    if (request.pair) {
        settings_.knownKeys[request.from] = key;
        storeKnownKeys();
        addDevice(key, request.from);
        return;
    }
    const auto stored = settings_.knownKeys.find(request.from);
    if (stored == settings_.knownKeys.end() || stored->second != key) {
        settings_.knownKeys[request.from] = key;
        storeKnownKeys();
    }
}

}  // namespace qb::model
