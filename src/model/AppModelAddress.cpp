#include <algorithm>

#include <QPointer>
#include <QString>

#include "model/AppModel.h"
#include "model/DeviceAddress.h"
#include "model/MainThread.h"
#include "platform/SettingsStore.h"
#include "transfer/AddressProbe.h"

namespace qb::model {

void AppModel::checkAddress(const std::string& host, std::uint16_t port,
                            std::function<void(const AddressCheck&)> done) {
    AddressCheck check;
    check.address = platform::HostPort(QString::fromStdString(host).trimmed().toStdString(), port);
    QPointer<AppModel> self(this);
    auto deliver = [self, done = std::move(done)](AddressCheck checked) {
        postGuarded(self, [done, checked = std::move(checked)](AppModel& model) mutable {
            if (checked.ok() && checked.fingerprint == model.ownKey()) {
                checked.error = transfer::AddressErrc::thisDevice;
                checked.fingerprint.clear();
            }
            if (done) {
                done(checked);
            }
        });
    };
    if (check.address.host.empty()) {
        check.error = transfer::AddressErrc::hostNotFound;
        deliver(std::move(check));
        return;
    }
    transfer::probeAddress(check.address, [check, deliver](transfer::ProbeResult result) mutable {
        check.error = result.error;
        check.fingerprint = std::move(result.fingerprint);
        deliver(std::move(check));
    });
}

void AppModel::pairAddress(const AddressCheck& checked, const std::optional<std::string>& label) {
    if (!checked.ok() || checked.fingerprint == ownKey()) {
        return;
    }
    const std::string& key = checked.fingerprint;
    if (std::find(settings_.myDevices.begin(), settings_.myDevices.end(), key) != settings_.myDevices.end()) {
        // Already paired: the address it was found at this time replaces the old one.
        storeAddress(key, checked.address);
        return;
    }
    Peer peer;
    peer.name = label && !label->empty() ? *label : checked.address.host;
    peer.serviceName = key;
    peer.endpoint = checked.address;
    peer.proto = transfer::Wire::generationTls;
    peer.key = key;
    startPairing(peer, checked.address);
}

std::map<std::string, platform::HostPort> AppModel::deviceAddresses() const {
    std::map<std::string, platform::HostPort> addresses;
    for (const auto& [key, text] : settings_.deviceAddresses) {
        if (auto address = parseAddressText(text)) {
            addresses.emplace(key, std::move(*address));
        }
    }
    return addresses;
}

std::optional<Peer> AppModel::reachablePeer(const std::string& id) const {
    if (auto discovered = onlinePeerRaw(id)) {
        return discovered;
    }
    const auto stored = settings_.deviceAddresses.find(id);
    const auto address = stored == settings_.deviceAddresses.end() ? std::nullopt : parseAddressText(stored->second);
    if (!address) {
        return std::nullopt;
    }
    // The id of a device stored with an address is its key fingerprint; the key is pinned as when paired.
    return Peer{displayName(id), id, *address, transfer::Wire::generationTls, id};
}

void AppModel::storeAddress(const std::string& key, const platform::HostPort& address) {
    settings_.deviceAddresses[key] = addressText(address);
    store_->setStringMap(settingsKey::deviceAddresses, settings_.deviceAddresses);
    Q_EMIT changed();
}

void AppModel::forgetAddress(const std::string& key) {
    if (settings_.deviceAddresses.erase(key) > 0) {
        store_->setStringMap(settingsKey::deviceAddresses, settings_.deviceAddresses);
    }
}

}  // namespace qb::model
