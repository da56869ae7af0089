#pragma once

// Where a connection goes, as plain values: no network library is needed to hold or compare one.

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace qb::platform {

// Endpoint types and PinnedTls have constructors rather than aggregate initialisation on purpose: GCC 12
// destroys a braced aggregate temporary twice when it appears inside a co_await expression, as in
// `co_await connect(HostPort{host, port}, ...)`. With a constructor the same line is safe.

// A host name or a literal IPv4/IPv6 address, and a TCP port.
struct HostPort {
    HostPort() = default;
    HostPort(std::string hostName, std::uint16_t portNumber) : host(std::move(hostName)), port(portNumber) {}

    std::string host;
    std::uint16_t port = 0;
    bool operator==(const HostPort&) const = default;
};

// A service found by DNS-SD, before it has been resolved to addresses.
struct ServiceEndpoint {
    ServiceEndpoint() = default;
    ServiceEndpoint(std::string serviceName, std::string serviceType, std::string serviceDomain, int interface = 0)
        : name(std::move(serviceName)),
          type(std::move(serviceType)),
          domain(std::move(serviceDomain)),
          interfaceIndex(interface) {}

    std::string name;
    std::string type;
    std::string domain;
    // The network interface the service was seen on (its index, 0 when unknown), as DNS-SD reports it.
    int interfaceIndex = 0;
    bool operator==(const ServiceEndpoint&) const = default;
};

// Where a connection goes: the command line gives a host and port, discovery gives a service.
using Endpoint = std::variant<HostPort, ServiceEndpoint>;

// "host:port" (IPv6 literals in brackets) or "name.type.domain", for log lines.
std::string describe(const Endpoint& endpoint);

}  // namespace qb::platform
