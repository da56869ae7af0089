#include "discovery/PresenceMonitor.h"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>

#include <utility>

#include "platform/Connect.h"

namespace qb::discovery {

Probe tcpProbe(platform::NetRuntime& runtime) {
    return [&runtime](const Peer& peer, std::chrono::milliseconds timeout, std::function<void(bool)> done) {
        auto attempt = [](platform::Endpoint endpoint, std::chrono::milliseconds limit,
                          std::function<void(bool)> report) -> asio::awaitable<void> {
            auto connected = co_await platform::connect(std::move(endpoint), std::nullopt, limit);
            // Dropping the stream closes it: a probe only asks whether the handshake completes.
            report(!connected.error);
        };
        asio::co_spawn(runtime.makeStrand(), attempt(peer.endpoint, timeout, std::move(done)), asio::detached);
    };
}

std::shared_ptr<PresenceMonitor> PresenceMonitor::create(MainLoop loop, Probe probe, PresenceTimings timings) {
    return std::make_shared<PresenceMonitor>(PrivateTag{}, std::move(loop), std::move(probe), timings);
}

PresenceMonitor::PresenceMonitor(PrivateTag, MainLoop loop, Probe probe, PresenceTimings timings)
    : loop_(std::move(loop)), probe_(std::move(probe)), timings_(timings) {}

void PresenceMonitor::start(std::function<std::vector<Peer>()> peers, std::function<bool(const Peer&)> unvouched) {
    peersProvider_ = std::move(peers);
    if (unvouched) {
        presumeAway(peersProvider_(), unvouched);
    }
    scheduleTick(++timer_);
    tick();
}

void PresenceMonitor::presumeAway(const std::vector<Peer>& peers, const std::function<bool(const Peer&)>& unvouched) {
    const auto before = unreachable_;
    for (const auto& peer : peers) {
        // A failure count, even of zero, means the peer has been watched before.
        if (!failures_.contains(peer.serviceName) && unvouched(peer)) {
            failures_[peer.serviceName] = timings_.failThreshold;
            unreachable_.insert(peer.serviceName);
        }
    }
    if (unreachable_ != before && onChange) {
        onChange();
    }
}

void PresenceMonitor::scheduleTick(unsigned timer) {
    loop_.postAfter(timings_.interval, [weak = weak_from_this(), timer] {
        auto self = weak.lock();
        if (self && self->timer_ == timer) {
            self->scheduleTick(timer);
            self->tick();
        }
    });
}

void PresenceMonitor::tick() {
    const auto peers = peersProvider_();
    prune(peers);
    for (const auto& peer : peers) {
        if (!inFlight_.contains(peer.serviceName)) {
            probe(peer);
        }
    }
}

void PresenceMonitor::prune(const std::vector<Peer>& peers) {
    std::set<std::string> names;
    for (const auto& peer : peers) {
        names.insert(peer.serviceName);
    }
    std::erase_if(failures_, [&names](const auto& entry) { return !names.contains(entry.first); });
    const auto before = unreachable_.size();
    std::erase_if(unreachable_, [&names](const std::string& name) { return !names.contains(name); });
    if (unreachable_.size() != before && onChange) {
        onChange();
    }
}

void PresenceMonitor::probe(const Peer& peer) {
    inFlight_.insert(peer.serviceName);
    probe_(peer, timings_.timeout, [weak = weak_from_this(), post = loop_.post, name = peer.serviceName](bool ok) {
        post([weak, name, ok] {
            if (auto self = weak.lock()) {
                self->record(name, ok);
            }
        });
    });
}

void PresenceMonitor::record(const std::string& serviceName, bool ok) {
    inFlight_.erase(serviceName);
    const bool was = unreachable_.contains(serviceName);
    if (ok) {
        failures_[serviceName] = 0;
        unreachable_.erase(serviceName);
    } else if (++failures_[serviceName] >= timings_.failThreshold) {
        unreachable_.insert(serviceName);
    }
    if (unreachable_.contains(serviceName) != was && onChange) {
        onChange();
    }
}

}  // namespace qb::discovery
