#include "platform/Endpoint.h"

#include <mutex>

namespace qb::platform {
namespace {

struct ResolverSlot {
    std::mutex mutex;
    ServiceResolver resolver;
};

ResolverSlot& resolverSlot() {
    static ResolverSlot slot;
    return slot;
}

}  // namespace

std::string describe(const Endpoint& endpoint) {
    if (const auto* service = std::get_if<ServiceEndpoint>(&endpoint))
        return service->name + "." + service->type + "." + service->domain;
    const auto& hostPort = std::get<HostPort>(endpoint);
    const bool ipv6Literal = hostPort.host.find(':') != std::string::npos;
    const auto host = ipv6Literal ? "[" + hostPort.host + "]" : hostPort.host;
    return host + ":" + std::to_string(hostPort.port);
}

void setServiceResolver(ServiceResolver resolver) {
    auto& slot = resolverSlot();
    const std::lock_guard lock(slot.mutex);
    slot.resolver = std::move(resolver);
}

ServiceResolver serviceResolver() {
    auto& slot = resolverSlot();
    const std::lock_guard lock(slot.mutex);
    return slot.resolver;
}

}  // namespace qb::platform
