#pragma once

// DNS-SD through the system's mDNS responder (avahi-daemon), over the Avahi client library. One poll thread
// and one client serve every advertiser, browser and connect-time resolution of the process. The client
// follows the daemon: missing at start, stopped or restarted, it waits and reconnects, and advertisements
// and browse operations come back by themselves once the daemon runs again.

#include <atomic>
#include <map>
#include <memory>
#include <set>

#include "platform/Endpoint.h"
#include "platform/ServiceAdvertiser.h"
#include "platform/ServiceBrowser.h"
#include "platform/detail/AvahiHandles.h"

namespace qb::platform {

namespace detail {
// Something that follows the client: told when the daemon can be used and when it is gone. Called on the
// poll thread, with the lock held.
class AvahiParticipant {
public:
    virtual ~AvahiParticipant() = default;
    virtual void clientRunning(AvahiClient* client) = 0;
    virtual void clientLost() = 0;
};
class AvahiResolution;
}  // namespace detail

class AvahiDnsSd : public std::enable_shared_from_this<AvahiDnsSd> {
    struct PrivateTag {};

public:
    // Starts the poll thread; null only when the thread cannot be had. A missing daemon is no failure.
    static std::shared_ptr<AvahiDnsSd> create();

    explicit AvahiDnsSd(PrivateTag);
    ~AvahiDnsSd();
    AvahiDnsSd(const AvahiDnsSd&) = delete;
    AvahiDnsSd& operator=(const AvahiDnsSd&) = delete;

    // Each advertiser registers one service; each browser browses one type. They keep this object alive.
    std::shared_ptr<ServiceAdvertiser> makeAdvertiser();
    std::shared_ptr<ServiceBrowser> makeBrowser();
    // For setServiceResolver(): resolves a service to its addresses, IPv4 first; holds this object weakly.
    ServiceResolver resolver();

    // Whether the daemon is reachable and running right now.
    bool isRunning() const { return running_.load(); }

    // For the advertisers and browsers of this object.
    AvahiThreadedPoll* poll() const { return poll_.get(); }
    // With the lock held.
    void join(detail::AvahiParticipant* participant);
    void leave(detail::AvahiParticipant* participant);
    AvahiClient* runningClient() const { return running_.load() ? client_.get() : nullptr; }

private:
    friend class detail::AvahiResolution;

    static void onClientState(AvahiClient* client, AvahiClientState state, void* self);
    static void onReconnect(AvahiTimeout* timeout, void* self);
    void clientStateChanged(AvahiClient* client, AvahiClientState state);
    void connect();
    void reconnectLater();
    void resolve(const ServiceEndpoint& service, ServiceResolved done);
    void finishResolution(detail::AvahiResolution* resolution);
    void failResolutions();

    // Declared first, so that it is freed last: every other handle belongs to it.
    detail::ThreadedPollPtr poll_;
    detail::ClientPtr client_;
    AvahiTimeout* reconnect_ = nullptr;
    std::atomic<bool> running_{false};
    // The rest is touched with the lock held only.
    std::set<detail::AvahiParticipant*> participants_;
    std::map<detail::AvahiResolution*, std::unique_ptr<detail::AvahiResolution>> resolutions_;
};

}  // namespace qb::platform
