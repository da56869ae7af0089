#include <algorithm>

#include <QPointer>
#include <QString>

#include "model/MainThread.h"
#include "model/ModelSettings.h"
#include "model/Sending.h"
#include "model/TrustStore.h"
#include "transfer/AddressProbe.h"
#include "transfer/Wire.h"

namespace qb::model {

void Sending::checkAddress(const std::string& host, std::uint16_t port, std::function<void(const AddressCheck&)> done) {
    AddressCheck check;
    check.address = platform::HostPort(QString::fromStdString(host).trimmed().toStdString(), port);
    const QPointer<QObject> guard(&lifetime_);
    auto deliver = [this, guard, done = std::move(done)](AddressCheck checked) {
        postGuarded(guard, [this, done, checked = std::move(checked)](QObject&) mutable {
            if (checked.ok() && checked.fingerprint == trust_.ownKey()) {
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

std::string Sending::pairAddress(const AddressCheck& checked, const std::optional<std::string>& label) {
    if (!checked.ok() || checked.fingerprint == trust_.ownKey()) {
        return {};
    }
    const std::string& key = checked.fingerprint;
    const auto& myDevices = settings_.values().myDevices;
    if (std::find(myDevices.begin(), myDevices.end(), key) != myDevices.end()) {
        // Already paired: the address it was found at this time replaces the old one.
        trust_.storeAddress(key, checked.address);
        return {};
    }
    Peer peer;
    peer.name = label && !label->empty() ? *label : checked.address.host;
    peer.serviceName = key;
    peer.endpoint = checked.address;
    peer.proto = transfer::Wire::generationTls;
    peer.key = key;
    return startPairing(peer, checked.address);
}

}  // namespace qb::model
