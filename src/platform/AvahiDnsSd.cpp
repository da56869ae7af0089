#include "platform/AvahiDnsSd.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
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

namespace qb::platform {

namespace {

using detail::PollLock;

// After the daemon or the bus went away, how soon a fresh client tries again.
constexpr unsigned kReconnectMs = 1000;
// Bounds the renames of one registration, so that a responder that reports collisions forever cannot spin.
constexpr int kMaxRenames = 32;
// The DNS-SD limit of one TXT entry, "key=value" included.
constexpr std::size_t kTxtEntryMax = 255;

// `entry` cut to `limit` bytes without splitting a UTF-8 sequence: the cut backs up to the start of the
// sequence that would straddle it.
std::string cutAtUtf8Boundary(std::string entry, std::size_t limit) {
    if (entry.size() <= limit) {
        return entry;
    }
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(entry[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    entry.resize(cut);
    return entry;
}

detail::StringListPtr txtList(const ServiceAdvertiser::TxtRecord& txt) {
    AvahiStringList* list = nullptr;
    for (const auto& [key, value] : txt) {
        const std::string entry = cutAtUtf8Boundary(key + "=" + value, kTxtEntryMax);
        list = avahi_string_list_add_arbitrary(list, reinterpret_cast<const std::uint8_t*>(entry.data()), entry.size());
    }
    return detail::StringListPtr(avahi_string_list_reverse(list));
}

std::vector<std::string> txtEntries(AvahiStringList* list) {
    std::vector<std::string> entries;
    for (; list != nullptr; list = avahi_string_list_get_next(list)) {
        entries.emplace_back(reinterpret_cast<const char*>(avahi_string_list_get_text(list)),
                             avahi_string_list_get_size(list));
    }
    return entries;
}

std::error_code avahiFailure() {
    return NetError::dnsSdFailed;
}

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

// One registration. Everything but construction runs with the poll lock held.
class AvahiAdvertiser final : public ServiceAdvertiser, public detail::AvahiParticipant {
public:
    explicit AvahiAdvertiser(std::shared_ptr<AvahiDnsSd> dnsSd) : dnsSd_(std::move(dnsSd)) {
        const PollLock lock(dnsSd_->poll());
        dnsSd_->join(this);
    }

    ~AvahiAdvertiser() override {
        const PollLock lock(dnsSd_->poll());
        dnsSd_->leave(this);
        group_.reset();
    }

    void advertise(Service service, Callbacks callbacks) override {
        const PollLock lock(dnsSd_->poll());
        group_.reset();
        renames_ = 0;
        name_ = service.name;
        service_ = std::move(service);
        callbacks_ = std::move(callbacks);
        if (AvahiClient* client = dnsSd_->runningClient()) {
            publish(client);
        } else if (callbacks_.onFailed) {
            // The listener reports itself by its own name meanwhile; the registration follows the daemon.
            callbacks_.onFailed(avahiFailure());
        }
    }

    void withdraw() override {
        const PollLock lock(dnsSd_->poll());
        service_.reset();
        callbacks_ = {};
        group_.reset();
    }

    void clientRunning(AvahiClient* client) override {
        if (service_ && !group_) {
            publish(client);
        }
    }

    void clientLost() override { group_.reset(); }

private:
    static void onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
        static_cast<AvahiAdvertiser*>(self)->groupStateChanged(group, state);
    }

    void groupStateChanged(AvahiEntryGroup* group, AvahiEntryGroupState state) {
        switch (state) {
            case AVAHI_ENTRY_GROUP_ESTABLISHED:
                if (callbacks_.onRegistered) {
                    callbacks_.onRegistered(name_);
                }
                return;
            case AVAHI_ENTRY_GROUP_COLLISION:
                // Another host holds the name: take the responder's next alternative and register again.
                avahi_entry_group_reset(group);
                rename();
                publish(avahi_entry_group_get_client(group));
                return;
            case AVAHI_ENTRY_GROUP_FAILURE:
                fail();
                return;
            default:
                return;
        }
    }

    void rename() {
        char* alternative = avahi_alternative_service_name(name_.c_str());
        if (alternative != nullptr) {
            name_ = alternative;
            avahi_free(alternative);
        }
        ++renames_;
    }

    void publish(AvahiClient* client) {
        if (!service_) {
            return;
        }
        if (!group_) {
            group_.reset(avahi_entry_group_new(client, &AvahiAdvertiser::onGroupState, this));
            if (!group_) {
                fail();
                return;
            }
        }
        const auto txt = txtList(service_->txt);
        while (renames_ <= kMaxRenames) {
            const int added = avahi_entry_group_add_service_strlst(
                group_.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags{}, name_.c_str(),
                service_->type.c_str(), nullptr, nullptr, service_->port, txt.get());
            if (added == AVAHI_ERR_COLLISION) {
                // A service of this very host already has the name (a second instance, say).
                avahi_entry_group_reset(group_.get());
                rename();
                continue;
            }
            if (added < 0 || avahi_entry_group_commit(group_.get()) < 0) {
                break;
            }
            return;
        }
        fail();
    }

    void fail() {
        if (callbacks_.onFailed) {
            callbacks_.onFailed(avahiFailure());
        }
    }

    const std::shared_ptr<AvahiDnsSd> dnsSd_;
    std::optional<Service> service_;
    Callbacks callbacks_;
    std::string name_;
    int renames_ = 0;
    detail::EntryGroupPtr group_;
};

// One browse operation and the TXT lookup of each result. Everything but construction runs with the lock held.
class AvahiBrowser final : public ServiceBrowser, public detail::AvahiParticipant {
public:
    explicit AvahiBrowser(std::shared_ptr<AvahiDnsSd> dnsSd) : dnsSd_(std::move(dnsSd)) {
        const PollLock lock(dnsSd_->poll());
        dnsSd_->join(this);
    }

    ~AvahiBrowser() override {
        const PollLock lock(dnsSd_->poll());
        dnsSd_->leave(this);
        stopLocked();
    }

    void browse(std::string type, Callbacks callbacks) override {
        const PollLock lock(dnsSd_->poll());
        stopLocked();
        type_ = std::move(type);
        callbacks_ = std::move(callbacks);
        if (AvahiClient* client = dnsSd_->runningClient()) {
            clientRunning(client);
        }
    }

    void stop() override {
        const PollLock lock(dnsSd_->poll());
        stopLocked();
    }

    void clientRunning(AvahiClient* client) override {
        if (!type_ || browser_) {
            return;
        }
        browser_.reset(avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type_->c_str(), nullptr,
                                                 AvahiLookupFlags{}, &AvahiBrowser::onBrowse, this));
        if (!browser_) {
            fail();
        }
    }

    void clientLost() override {
        items_.clear();
        if (browser_) {
            browser_.reset();
            fail();
        }
    }

private:
    // One result: interface, protocol, name, type, domain.
    using Key = std::tuple<AvahiIfIndex, AvahiProtocol, std::string, std::string, std::string>;

    struct Item {
        detail::ServiceResolverPtr resolver;
        bool resolved = false;
        std::optional<std::vector<std::string>> txt;
    };

    void stopLocked() {
        browser_.reset();
        items_.clear();
        type_.reset();
        callbacks_ = {};
    }

    static void onBrowse(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
                         const char* name, const char* type, const char* domain, AvahiLookupResultFlags, void* self) {
        auto& browser = *static_cast<AvahiBrowser*>(self);
        if (event == AVAHI_BROWSER_FAILURE) {
            browser.fail();
            return;
        }
        if (name == nullptr || type == nullptr || domain == nullptr) {
            return;
        }
        Key key{interface, protocol, name, type, domain};
        if (event == AVAHI_BROWSER_NEW) {
            browser.add(std::move(key));
        } else if (event == AVAHI_BROWSER_REMOVE && browser.items_.erase(key) > 0) {
            browser.publish();
        }
    }

    void add(Key key) {
        if (items_.contains(key)) {
            return;
        }
        const auto& [interface, protocol, name, type, domain] = key;
        Item& item = items_[key];
        item.resolver.reset(avahi_service_resolver_new(
            avahi_service_browser_get_client(browser_.get()), interface, protocol, name.c_str(), type.c_str(),
            domain.c_str(), AVAHI_PROTO_UNSPEC, AvahiLookupFlags{}, &AvahiBrowser::onResolve, this));
        if (!item.resolver) {
            item.resolved = true;
            publish();
        }
    }

    static void onResolve(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                          const char*, const char*, const char*, const char*, const AvahiAddress*, uint16_t,
                          AvahiStringList* txt, AvahiLookupResultFlags, void* self) {
        auto& browser = *static_cast<AvahiBrowser*>(self);
        for (auto& [key, item] : browser.items_) {
            if (item.resolver.get() == resolver) {
                item.resolved = true;
                if (event == AVAHI_RESOLVER_FOUND) {
                    item.txt = txtEntries(txt);
                }
                item.resolver.reset();
                browser.publish();
                return;
            }
        }
    }

    // Only resolved results are reported, so that a peer never shows up first without its TXT record.
    void publish() {
        if (!callbacks_.onResults) {
            return;
        }
        std::vector<Result> results;
        for (const auto& [key, item] : items_) {
            if (item.resolved) {
                const auto& [interface, protocol, name, type, domain] = key;
                results.push_back({ServiceEndpoint(name, type, domain, interface), item.txt});
            }
        }
        callbacks_.onResults(std::move(results));
    }

    void fail() {
        if (callbacks_.onFailed) {
            callbacks_.onFailed(avahiFailure());
        }
    }

    const std::shared_ptr<AvahiDnsSd> dnsSd_;
    std::optional<std::string> type_;
    Callbacks callbacks_;
    detail::ServiceBrowserPtr browser_;
    std::map<Key, Item> items_;
};

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
    return std::make_shared<AvahiAdvertiser>(shared_from_this());
}

std::shared_ptr<ServiceBrowser> AvahiDnsSd::makeBrowser() {
    return std::make_shared<AvahiBrowser>(shared_from_this());
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
