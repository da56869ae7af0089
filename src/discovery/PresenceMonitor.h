#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "discovery/MainLoop.h"
#include "discovery/Peer.h"
#include "platform/NetRuntime.h"

namespace qb::discovery {

struct PresenceTimings {
    std::chrono::milliseconds interval{5000};
    // An unanswered probe fails after this long.
    std::chrono::milliseconds timeout{3000};
    // Consecutive failed probes after which a peer counts as unreachable.
    int failThreshold = 2;
};

// One reachability check of a peer: reports exactly once, from any thread, whether a TCP connection to it was
// established within `timeout`.
using Probe = std::function<void(const Peer& peer, std::chrono::milliseconds timeout, std::function<void(bool)> done)>;

// A plain TCP connection to the peer's endpoint (no TLS, nothing sent), closed as soon as it is up.
Probe tcpProbe(platform::NetRuntime& runtime);

// Probes the user's own advertised devices on a fixed period and keeps the set of those that stopped
// answering. Lives on the main loop's thread; the probes run on the network runtime.
class PresenceMonitor : public std::enable_shared_from_this<PresenceMonitor> {
    struct PrivateTag {};

public:
    static std::shared_ptr<PresenceMonitor> create(MainLoop loop, Probe probe, PresenceTimings timings = {});
    PresenceMonitor(PrivateTag, MainLoop loop, Probe probe, PresenceTimings timings);

    // Service names currently considered unreachable.
    const std::set<std::string>& unreachable() const { return unreachable_; }
    // Called whenever the membership of `unreachable` changes.
    std::function<void()> onChange;

    // (Re)starts the period with the peers to watch and probes at once. On the main loop's thread. A peer that
    // is watched now and for which `unvouched` holds (a stored address, which no advertisement vouches for)
    // counts as unreachable until a probe of it answers; one added later was just reached by whoever added it.
    void start(std::function<std::vector<Peer>()> peers, std::function<bool(const Peer&)> unvouched = {});

private:
    void presumeAway(const std::vector<Peer>& peers, const std::function<bool(const Peer&)>& unvouched);
    void scheduleTick(unsigned timer);
    void tick();
    void prune(const std::vector<Peer>& peers);
    void probe(const Peer& peer);
    void record(const std::string& serviceName, bool ok);

    const MainLoop loop_;
    const Probe probe_;
    const PresenceTimings timings_;
    std::function<std::vector<Peer>()> peersProvider_ = [] { return std::vector<Peer>{}; };
    std::set<std::string> unreachable_;
    std::map<std::string, int> failures_;
    std::set<std::string> inFlight_;
    // Tells the running timer from one that start() replaced.
    unsigned timer_ = 0;
};

}  // namespace qb::discovery
