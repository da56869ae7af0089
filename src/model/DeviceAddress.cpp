#include "model/DeviceAddress.h"

#include <charconv>

namespace qb::model {

std::string addressText(const platform::HostPort& address) {
    const bool ipv6 = address.host.find(':') != std::string::npos;
    const std::string host = ipv6 ? "[" + address.host + "]" : address.host;
    return host + ":" + std::to_string(address.port);
}

std::optional<platform::HostPort> parseAddressText(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view host = text.substr(0, colon);
    const std::string_view portText = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find_first_of(":[]") != std::string_view::npos) {
        return std::nullopt;
    }
    unsigned port = 0;
    const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (host.empty() || error != std::errc() || end != portText.data() + portText.size() || port == 0 || port > 65535) {
        return std::nullopt;
    }
    return platform::HostPort(std::string(host), static_cast<std::uint16_t>(port));
}

}  // namespace qb::model
