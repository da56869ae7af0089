#include "model/Discovery.h"

#include <QPointer>
#include <QTimer>

#include "model/AppModel.h"
#include "model/MainThread.h"
#include "platform/NetRuntime.h"

namespace qb::model {

namespace {

discovery::MainLoop qtMainLoop() {
    discovery::MainLoop loop;
    loop.post = [](discovery::MainLoop::Task task) { postToMainThread(std::move(task)); };
    loop.postAfter = [](std::chrono::milliseconds delay, discovery::MainLoop::Task task) {
        if (auto* app = QCoreApplication::instance()) {
            QTimer::singleShot(delay, app, std::move(task));
        }
    };
    return loop;
}

}  // namespace

Discovery::Discovery(AppModel& model, DiscoverySetup setup) : model_(model), setup_(std::move(setup)) {}

Discovery::~Discovery() = default;

void Discovery::start() {
    startMonitor();
    startBrowser();
}

void Discovery::startBrowser() {
    if (!setup_.browser) {
        return;
    }
    browser_ = discovery::PeerBrowser::create(setup_.browser, qtMainLoop(), setup_.browsing);
    QPointer<AppModel> model(&model_);
    browser_->ownName = [model]() -> std::optional<std::string> {
        if (!model || model->registeredName().empty()) {
            return std::nullopt;
        }
        return model->registeredName();
    };
    browser_->ownKey = [model]() -> std::optional<std::string> {
        if (!model || model->ownKey().empty()) {
            return std::nullopt;
        }
        return model->ownKey();
    };
    browser_->onUpdate = [model](std::vector<Peer> peers) {
        if (model) {
            model->setPeers(std::move(peers));
        }
    };
    browser_->start();
}

void Discovery::startMonitor() {
    auto probe = setup_.probe ? setup_.probe : discovery::tcpProbe(platform::NetRuntime::shared());
    monitor_ = discovery::PresenceMonitor::create(qtMainLoop(), std::move(probe), setup_.presence);
    QPointer<AppModel> model(&model_);
    const std::weak_ptr<discovery::PresenceMonitor> monitor = monitor_;
    monitor_->onChange = [model, monitor] {
        const auto locked = monitor.lock();
        if (model && locked) {
            model->setUnreachable(locked->unreachable());
        }
    };
    // Only the user's own devices are watched: those advertised right now, and those with a stored address.
    monitor_->start([model] { return model ? model->deviceLists().watchedPeers() : std::vector<Peer>{}; },
                    [model](const Peer& peer) { return model && model->deviceLists().isStoredAddress(peer); });
}

}  // namespace qb::model
