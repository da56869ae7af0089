#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/EndpointTypes.h"

namespace qb::model {

// A stored device address as text: "host:port", an IPv6 literal in brackets ("[fe80::1%eth0]:5000").
std::string addressText(const platform::HostPort& address);
// The address of such a text; none for anything else (no host, no port, a port outside 1 to 65535).
std::optional<platform::HostPort> parseAddressText(std::string_view text);

}  // namespace qb::model
