#pragma once

#include <optional>
#include <string>

#include "platform/EndpointTypes.h"

namespace qb::discovery {

// One device found by DNS-SD, copied freely between the browser, the model and the views.
struct Peer {
    std::string name;                // TXT "n" when present and non-empty, else the service name
    std::string serviceName;         // the DNS-SD instance name; also the peer's identity in lists
    platform::Endpoint endpoint;     // the discovered service, or a host and port
    int proto = 2;                   // protocol generation from TXT "v"
    std::optional<std::string> key;  // advertised key fingerprint (generation 4 and later only)

    const std::string& id() const { return serviceName; }

    friend bool operator==(const Peer&, const Peer&) = default;
};

}  // namespace qb::discovery
