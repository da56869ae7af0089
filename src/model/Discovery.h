#pragma once

#include <memory>

#include "discovery/PeerBrowser.h"
#include "discovery/PresenceMonitor.h"
#include "platform/ServiceBrowser.h"

namespace qb::model {

class AppModel;

// How the model finds peers and watches its own devices; the application gives the system's DNS-SD browser.
struct DiscoverySetup {
    // Unset: nothing is browsed, so no peer is ever listed.
    std::shared_ptr<platform::ServiceBrowser> browser;
    discovery::PeerBrowserTimings browsing;
    discovery::PresenceTimings presence;
    // Unset: a TCP connection on the shared network runtime.
    discovery::Probe probe;
};

// The model's part that owns the peer browser and the presence monitor and feeds their reports into the model's
// `peers` and unreachable set. Lives on the main thread with the model.
class Discovery {
public:
    Discovery(AppModel& model, DiscoverySetup setup);
    ~Discovery();
    Discovery(const Discovery&) = delete;
    Discovery& operator=(const Discovery&) = delete;

    // Starts browsing and probing; the browser hides this device by its registered name and its key.
    void start();

private:
    void startBrowser();
    void startMonitor();

    AppModel& model_;
    DiscoverySetup setup_;
    std::shared_ptr<discovery::PeerBrowser> browser_;
    std::shared_ptr<discovery::PresenceMonitor> monitor_;
};

}  // namespace qb::model
