#pragma once

#include <asio/ip/tcp.hpp>

#include <functional>
#include <system_error>
#include <vector>

#include "platform/EndpointTypes.h"

namespace qb::platform {

// Turns a discovered service into the addresses to try, calling `done` exactly once, from any thread.
using ServiceResolved = std::function<void(std::error_code, std::vector<asio::ip::tcp::endpoint>)>;
using ServiceResolver = std::function<void(const ServiceEndpoint&, ServiceResolved done)>;

// The discovery layer installs the process's resolver once it runs; until then, and after an empty
// resolver is installed, connecting to a ServiceEndpoint fails with NetError::serviceUnresolvable.
// Safe to call from any thread.
void setServiceResolver(ServiceResolver resolver);
ServiceResolver serviceResolver();

}  // namespace qb::platform
