#include "discovery/PeerBrowser.h"

#include <utility>

#include "discovery/PeerRecord.h"
#include "l10n/L.h"

namespace qb::discovery {

namespace {

constexpr const char* kServiceType = "_quobblefin._tcp";

}  // namespace

std::shared_ptr<PeerBrowser> PeerBrowser::create(std::shared_ptr<platform::ServiceBrowser> browser, MainLoop loop,
                                                 PeerBrowserTimings timings) {
    return std::make_shared<PeerBrowser>(PrivateTag{}, std::move(browser), std::move(loop), timings);
}

PeerBrowser::PeerBrowser(PrivateTag, std::shared_ptr<platform::ServiceBrowser> browser, MainLoop loop,
                         PeerBrowserTimings timings)
    : browser_(std::move(browser)), loop_(std::move(loop)), timings_(timings) {}

PeerBrowser::~PeerBrowser() {
    browser_->stop();
}

void PeerBrowser::start() {
    const unsigned generation = ++generation_;
    const std::weak_ptr<PeerBrowser> weak = weak_from_this();
    // Reports arrive on the responder's thread; they only hop.
    const auto onMain = [weak, generation, post = loop_.post](auto task) {
        post([weak, generation, task = std::move(task)]() mutable {
            auto self = weak.lock();
            if (self && self->generation_ == generation) {
                task(*self);
            }
        });
    };
    browser_->browse(kServiceType,
                     {[onMain](std::vector<platform::ServiceBrowser::Result> results) {
                          onMain([results = std::move(results)](PeerBrowser& self) { self.publish(results); });
                      },
                      [onMain](std::error_code) { onMain([](PeerBrowser& self) { self.restartLater(); }); }});
}

void PeerBrowser::restartLater() {
    const unsigned generation = generation_;
    loop_.postAfter(timings_.restartDelay, [weak = weak_from_this(), generation] {
        auto self = weak.lock();
        if (self && self->generation_ == generation) {
            self->start();
        }
    });
}

void PeerBrowser::publish(const std::vector<platform::ServiceBrowser::Result>& results) {
    const OwnDevice own{ownName(), ownKey()};
    auto peers = peerList(results, own, lang ? lang() : l10n::L::lang());
    if (onUpdate) {
        onUpdate(std::move(peers));
    }
}

}  // namespace qb::discovery
