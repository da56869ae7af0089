// One DNS-SD browse operation on the shared Avahi client, with the TXT lookup of each result.
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/AvahiDnsSd.h"
#include "platform/NetError.h"
#include "platform/detail/AvahiParts.h"

namespace qb::platform::detail {

namespace {

std::vector<std::string> txtEntries(AvahiStringList* list) {
    std::vector<std::string> entries;
    for (; list != nullptr; list = avahi_string_list_get_next(list)) {
        entries.emplace_back(reinterpret_cast<const char*>(avahi_string_list_get_text(list)),
                             avahi_string_list_get_size(list));
    }
    return entries;
}

// One browse operation and the TXT lookup of each result. Everything but construction runs with the lock held.
class AvahiBrowser final : public ServiceBrowser, public AvahiParticipant {
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
        ServiceResolverPtr resolver;
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
            callbacks_.onFailed(NetError::dnsSdFailed);
        }
    }

    const std::shared_ptr<AvahiDnsSd> dnsSd_;
    std::optional<std::string> type_;
    Callbacks callbacks_;
    ServiceBrowserPtr browser_;
    std::map<Key, Item> items_;
};

}  // namespace

std::shared_ptr<ServiceBrowser> makeAvahiBrowser(std::shared_ptr<AvahiDnsSd> dnsSd) {
    return std::make_shared<AvahiBrowser>(std::move(dnsSd));
}

}  // namespace qb::platform::detail
