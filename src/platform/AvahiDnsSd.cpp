#include "platform/AvahiDnsSd.h"

#include <avahi-common/error.h>
#include <avahi-common/timeval.h>

#include <array>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/NetError.h"
#include "platform/detail/AvahiParts.h"

namespace qb::platform {

namespace {

using detail::PollLock;

// After the daemon or the bus went away, how soon a fresh client tries again.
constexpr unsigned kReconnectMs = 1000;

AvahiIfIndex interfaceOf(const ServiceEndpoint& service) {
    return service.interfaceIndex > 0 ? service.interfaceIndex : AVAHI_IF_UNSPEC;
}

// The TCP endpoint of a resolved address; an IPv6 link-local address keeps the interface it was found on.
asio::ip::tcp::endpoint tcpEndpoint(const AvahiAddress& address, AvahiIfIndex interface, std::uint16_t port) {
    if (address.proto == AVAHI_PROTO_INET) {
        asio::ip::address_v4::bytes_type bytes;
        std::memcpy(bytes.data(), &address.data.ipv4.address, bytes.size());
        return {asio::ip::address_v4(bytes), port};
    }
    asio::ip::address_v6::bytes_type bytes;
    std::memcpy(bytes.data(), address.data.ipv6.address, bytes.size());
    asio::ip::address_v6 v6(bytes);
    if (v6.is_link_local() && interface > 0) {
        v6.scope_id(static_cast<asio::ip::scope_id_type>(interface));
    }
    return {v6, port};
}

}  // namespace

namespace detail {

// One connect-time lookup of a service's addresses: an IPv4 and an IPv6 query side by side. An IPv4 answer is
// delivered at once; otherwise the IPv6 one, when both have ended.
class AvahiResolution {
public:
    AvahiResolution(AvahiDnsSd& owner, ServiceResolved done) : owner_(owner), done_(std::move(done)) {}

    void start(AvahiClient* client, const ServiceEndpoint& service) {
        const std::array<AvahiProtocol, 2> families{AVAHI_PROTO_INET, AVAHI_PROTO_INET6};
        for (std::size_t index = 0; index < families.size(); ++index) {
            queries_[index].reset(avahi_service_resolver_new(
                client, interfaceOf(service), AVAHI_PROTO_UNSPEC, service.name.c_str(), service.type.c_str(),
                service.domain.c_str(), families[index], AvahiLookupFlags{}, &AvahiResolution::onResolve, this));
        }
        settle();
    }

    // Delivers what was found, or the failure, once.
    void deliver(std::error_code error) {
        if (!done_) {
            return;
        }
        auto done = std::move(done_);
        done_ = nullptr;
        std::vector<asio::ip::tcp::endpoint> found;
        for (const auto& address : found_) {
            if (address) {
                found.push_back(*address);
            }
        }
        if (found.empty() && !error) {
            error = NetError::serviceUnresolvable;
        }
        done(error, std::move(found));
    }

private:
    static void onResolve(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                          AvahiResolverEvent event, const char*, const char*, const char*, const char*,
                          const AvahiAddress* address, uint16_t port, AvahiStringList*, AvahiLookupResultFlags,
                          void* self) {
        auto& resolution = *static_cast<AvahiResolution*>(self);
        for (std::size_t index = 0; index < resolution.queries_.size(); ++index) {
            if (resolution.queries_[index].get() != resolver) {
                continue;
            }
            if (event == AVAHI_RESOLVER_FOUND && address != nullptr) {
                resolution.found_[index] = tcpEndpoint(*address, interface, port);
            }
            resolution.queries_[index].reset();
        }
        resolution.settle();
    }

    // Finishes once the IPv4 query found an address or both queries have ended.
    void settle() {
        if (found_[0] || (!queries_[0] && !queries_[1])) {
            deliver({});
            owner_.finishResolution(this);
        }
    }

    AvahiDnsSd& owner_;
    ServiceResolved done_;
    std::array<ServiceResolverPtr, 2> queries_;
    std::array<std::optional<asio::ip::tcp::endpoint>, 2> found_;
};

}  // namespace detail

std::shared_ptr<AvahiDnsSd> AvahiDnsSd::create() {
    auto dnsSd = std::make_shared<AvahiDnsSd>(PrivateTag{});
    if (!dnsSd->poll_) {
        return nullptr;
    }
    dnsSd->connect();
    if (avahi_threaded_poll_start(dnsSd->poll_.get()) < 0) {
        return nullptr;
    }
    return dnsSd;
}

AvahiDnsSd::AvahiDnsSd(PrivateTag) : poll_(avahi_threaded_poll_new()) {}

AvahiDnsSd::~AvahiDnsSd() {
    if (!poll_) {
        return;
    }
    avahi_threaded_poll_stop(poll_.get());
    failResolutions();
    if (reconnect_ != nullptr) {
        const AvahiPoll* api = avahi_threaded_poll_get(poll_.get());
        api->timeout_free(reconnect_);
    }
    client_.reset();
}

std::shared_ptr<ServiceAdvertiser> AvahiDnsSd::makeAdvertiser() {
    return detail::makeAvahiAdvertiser(shared_from_this());
}

std::shared_ptr<ServiceBrowser> AvahiDnsSd::makeBrowser() {
    return detail::makeAvahiBrowser(shared_from_this());
}

ServiceResolver AvahiDnsSd::resolver() {
    return [weak = weak_from_this()](const ServiceEndpoint& service, ServiceResolved done) {
        if (auto self = weak.lock()) {
            self->resolve(service, std::move(done));
        } else {
            done(NetError::serviceUnresolvable, {});
        }
    };
}

void AvahiDnsSd::join(detail::AvahiParticipant* participant) {
    participants_.insert(participant);
}

void AvahiDnsSd::leave(detail::AvahiParticipant* participant) {
    participants_.erase(participant);
}

// With the lock held, or before the poll thread runs.
void AvahiDnsSd::connect() {
    int error = 0;
    client_.reset(avahi_client_new(avahi_threaded_poll_get(poll_.get()), AVAHI_CLIENT_NO_FAIL,
                                   &AvahiDnsSd::onClientState, this, &error));
    if (!client_) {
        // Not even the system bus answers: try again later.
        reconnectLater();
    }
}

void AvahiDnsSd::reconnectLater() {
    const AvahiPoll* api = avahi_threaded_poll_get(poll_.get());
    struct timeval when {};
    avahi_elapse_time(&when, kReconnectMs, 0);
    if (reconnect_ == nullptr) {
        reconnect_ = api->timeout_new(api, &when, &AvahiDnsSd::onReconnect, this);
    } else {
        api->timeout_update(reconnect_, &when);
    }
}

void AvahiDnsSd::onReconnect(AvahiTimeout* timeout, void* self) {
    auto& dnsSd = *static_cast<AvahiDnsSd*>(self);
    avahi_threaded_poll_get(dnsSd.poll_.get())->timeout_update(timeout, nullptr);
    dnsSd.connect();
}

void AvahiDnsSd::onClientState(AvahiClient* client, AvahiClientState state, void* self) {
    static_cast<AvahiDnsSd*>(self)->clientStateChanged(client, state);
}

void AvahiDnsSd::clientStateChanged(AvahiClient* client, AvahiClientState state) {
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            running_ = true;
            for (auto* participant : participants_) {
                participant->clientRunning(client);
            }
            return;
        case AVAHI_CLIENT_S_REGISTERING:
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_CONNECTING:
        case AVAHI_CLIENT_FAILURE:
            running_ = false;
            for (auto* participant : participants_) {
                participant->clientLost();
            }
            failResolutions();
            if (state == AVAHI_CLIENT_FAILURE) {
                // A failed client never recovers; a fresh one is made outside of its own callback.
                reconnectLater();
            }
            return;
    }
}

void AvahiDnsSd::failResolutions() {
    auto pending = std::move(resolutions_);
    resolutions_.clear();
    for (auto& [key, resolution] : pending) {
        resolution->deliver(NetError::serviceUnresolvable);
    }
}

void AvahiDnsSd::resolve(const ServiceEndpoint& service, ServiceResolved done) {
    const PollLock lock(poll_.get());
    AvahiClient* client = runningClient();
    if (client == nullptr) {
        done(NetError::serviceUnresolvable, {});
        return;
    }
    auto resolution = std::make_unique<detail::AvahiResolution>(*this, std::move(done));
    auto* raw = resolution.get();
    resolutions_.emplace(raw, std::move(resolution));
    raw->start(client, service);
}

void AvahiDnsSd::finishResolution(detail::AvahiResolution* resolution) {
    resolutions_.erase(resolution);
}

}  // namespace qb::platform
