#include "app/BrowseMode.h"

#include <asio/post.hpp>

#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "discovery/PeerBrowser.h"
#include "identity/Identity.h"
#include "platform/AvahiDnsSd.h"
#include "platform/NetRuntime.h"

namespace qb::app {

namespace {

// The peers of the latest report, handed from the browser's strand to the waiting main thread.
class LatestPeers {
public:
    void store(std::vector<discovery::Peer> peers) {
        const std::lock_guard lock(mutex_);
        peers_ = std::move(peers);
    }
    std::vector<discovery::Peer> take() {
        const std::lock_guard lock(mutex_);
        return std::move(peers_);
    }

private:
    std::mutex mutex_;
    std::vector<discovery::Peer> peers_;
};

// "address:port" of the first address the resolver gives (IPv4 first), or "-".
std::string resolvedAddress(platform::AvahiDnsSd& dnsSd, const discovery::Peer& peer) {
    const auto* service = std::get_if<platform::ServiceEndpoint>(&peer.endpoint);
    if (service == nullptr) {
        return platform::describe(peer.endpoint);
    }
    struct Outcome {
        std::mutex mutex;
        std::string text = "-";
        std::binary_semaphore done{0};
    };
    auto outcome = std::make_shared<Outcome>();
    dnsSd.resolver()(*service, [outcome](std::error_code error, std::vector<asio::ip::tcp::endpoint> addresses) {
        if (!error && !addresses.empty()) {
            const auto& first = addresses.front();
            const std::lock_guard lock(outcome->mutex);
            outcome->text = platform::describe(platform::HostPort(first.address().to_string(), first.port()));
        }
        outcome->done.release();
    });
    outcome->done.try_acquire_for(kBrowseResolveLimit);
    const std::lock_guard lock(outcome->mutex);
    return outcome->text;
}

// A name from the network on one line of its own: control characters (tabs and line breaks among them) would
// break the columns, so each becomes a space.
std::string oneLine(std::string text) {
    for (char& c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F) {
            c = ' ';
        }
    }
    return text;
}

std::optional<std::string> ownFingerprint() {
    auto key = identity::Identity::shared().ownFingerprint();
    return key.empty() ? std::nullopt : std::optional<std::string>(std::move(key));
}

}  // namespace

int runBrowse(const BrowseMode& mode, std::ostream& out, std::ostream& err) {
    if (mode.seconds < 0) {
        err << "--browse: the seconds must be a whole number from 0 to " << BrowseMode::kMaxSeconds << '\n';
        return 1;
    }
    const auto dnsSd = platform::AvahiDnsSd::create();
    if (!dnsSd) {
        err << "no devices found: DNS-SD could not be started\n";
        return 0;
    }
    auto strand = platform::NetRuntime::shared().makeStrand();
    auto latest = std::make_shared<LatestPeers>();
    auto browser = discovery::PeerBrowser::create(dnsSd->makeBrowser(), discovery::MainLoop::onStrand(strand));
    // Its own advertisement, if this device's application runs, carries the same key.
    browser->ownKey = [key = ownFingerprint()] { return key; };
    browser->onUpdate = [latest](std::vector<discovery::Peer> peers) { latest->store(std::move(peers)); };
    asio::post(strand, [browser] { browser->start(); });
    std::this_thread::sleep_for(std::chrono::seconds(mode.seconds));

    const auto peers = latest->take();
    for (const auto& peer : peers) {
        out << oneLine(peer.name) << '\t' << peer.proto << '\t' << peer.key.value_or("-") << '\t'
            << resolvedAddress(*dnsSd, peer) << '\n';
    }
    out.flush();
    if (peers.empty()) {
        err << (dnsSd->isRunning() ? "no devices found\n"
                                   : "no devices found: avahi-daemon must be running for devices to be found\n");
    }
    // The browser goes first, on its own strand, so that no report of it is still on the way.
    std::binary_semaphore stopped{0};
    asio::post(strand, [&browser, &stopped] {
        browser.reset();
        stopped.release();
    });
    stopped.acquire();
    return 0;
}

}  // namespace qb::app
