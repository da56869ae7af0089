#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/MainLoop.h"
#include "discovery/Peer.h"
#include "platform/ServiceBrowser.h"

namespace qb::discovery {

struct PeerBrowserTimings {
    // After the browse operation failed, how long until a fresh one starts.
    std::chrono::milliseconds restartDelay{2000};
};

// Keeps the list of other devices that advertise the transfer service and hands the whole sorted list to its
// owner after every change. Lives on the main loop's thread: every report hops there first.
class PeerBrowser : public std::enable_shared_from_this<PeerBrowser> {
    struct PrivateTag {};

public:
    static std::shared_ptr<PeerBrowser> create(std::shared_ptr<platform::ServiceBrowser> browser, MainLoop loop,
                                               PeerBrowserTimings timings = {});
    PeerBrowser(PrivateTag, std::shared_ptr<platform::ServiceBrowser> browser, MainLoop loop,
                PeerBrowserTimings timings);
    ~PeerBrowser();
    PeerBrowser(const PeerBrowser&) = delete;
    PeerBrowser& operator=(const PeerBrowser&) = delete;

    // Read at every change of results. Each should hold its owner weakly.
    // The name this device's listener is registered under.
    std::function<std::optional<std::string>()> ownName = [] { return std::nullopt; };
    // This device's key fingerprint.
    std::function<std::optional<std::string>()> ownKey = [] { return std::nullopt; };
    // The language whose collation orders the names; unset means the current one of the string tables.
    std::function<std::string()> lang;
    // Every newly built list.
    std::function<void(std::vector<Peer>)> onUpdate;

    // (Re)starts browsing. On the main loop's thread.
    void start();

private:
    void publish(const std::vector<platform::ServiceBrowser::Result>& results);
    void restartLater();

    const std::shared_ptr<platform::ServiceBrowser> browser_;
    const MainLoop loop_;
    const PeerBrowserTimings timings_;
    // Tells the current browse operation's reports from those of one it replaced.
    unsigned generation_ = 0;
};

}  // namespace qb::discovery
