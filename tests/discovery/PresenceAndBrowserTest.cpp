#include <gtest/gtest.h>

#include "discovery/ManualLoop.h"
#include "discovery/PeerBrowser.h"
#include "discovery/PresenceMonitor.h"

namespace qb::discovery {
namespace {

using namespace std::chrono_literals;

Peer peer(const std::string& serviceName) {
    return {serviceName, serviceName, platform::ServiceEndpoint(serviceName, "_quobblefin._tcp", "local"), 5, {}};
}

// Probes wait until the test answers them.
struct ProbeLog {
    std::vector<std::pair<std::string, std::function<void(bool)>>> pending;
    int started = 0;

    Probe probe() {
        return [this](const Peer& p, std::chrono::milliseconds timeout, std::function<void(bool)> done) {
            EXPECT_EQ(timeout, 300ms);
            ++started;
            pending.emplace_back(p.serviceName, std::move(done));
        };
    }
    void answer(bool ok) {
        auto waiting = std::move(pending);
        pending.clear();
        for (auto& [name, done] : waiting) {
            done(ok);
        }
    }
};

TEST(PresenceMonitorTest, TwoFailuresMakeUnreachableOneSuccessBackAndForgottenPeersDrop) {
    test::ManualLoop loop;
    ProbeLog probes;
    auto monitor = PresenceMonitor::create(loop.hooks(), probes.probe(), {500ms, 300ms, 2});
    int changes = 0;
    monitor->onChange = [&changes] { ++changes; };
    std::vector<Peer> watched{peer("Tab")};
    monitor->start([&watched] { return watched; });
    EXPECT_EQ(probes.started, 1) << "the first tick runs at once";

    loop.advance(500ms);
    EXPECT_EQ(probes.started, 1) << "one probe per service name in flight";

    // Step by step: what each answer does to the unreachable set and to onChange.
    const std::vector<std::tuple<bool, bool, int>> steps{
        {false, false, 0}, {false, true, 1}, {false, true, 1}, {true, false, 2}, {true, false, 2}};
    for (const auto& [ok, unreachable, expectedChanges] : steps) {
        probes.answer(ok);
        loop.drain();
        EXPECT_EQ(monitor->unreachable().contains("Tab"), unreachable);
        EXPECT_EQ(changes, expectedChanges);
        loop.advance(500ms);
    }

    probes.answer(false);
    loop.advance(500ms);
    probes.answer(false);
    loop.drain();
    ASSERT_EQ(changes, 3);
    watched.clear();
    loop.advance(500ms);
    EXPECT_TRUE(monitor->unreachable().empty());
    EXPECT_EQ(changes, 4) << "a peer no longer watched is forgotten";
}

class FakeBrowser : public platform::ServiceBrowser {
public:
    void browse(std::string type, Callbacks callbacks) override {
        types.push_back(std::move(type));
        current = std::move(callbacks);
    }
    void stop() override { current = {}; }

    std::vector<std::string> types;
    Callbacks current;
};

TEST(PeerBrowserTest, PublishesSortedListsAndRestartsTwoSecondsAfterAFailure) {
    test::ManualLoop loop;
    auto fake = std::make_shared<FakeBrowser>();
    auto browser = PeerBrowser::create(fake, loop.hooks());
    std::vector<std::vector<Peer>> updates;
    browser->ownName = [] { return std::optional<std::string>("Me"); };
    browser->lang = [] { return std::string("en"); };
    browser->onUpdate = [&updates](std::vector<Peer> peers) { updates.push_back(std::move(peers)); };
    browser->start();
    ASSERT_EQ(fake->types, std::vector<std::string>{"_quobblefin._tcp"});

    const auto report = [&fake](std::vector<std::string> names) {
        std::vector<platform::ServiceBrowser::Result> results;
        for (auto& name : names) {
            results.push_back({platform::ServiceEndpoint(name, "_quobblefin._tcp", "local"), std::nullopt});
        }
        fake->current.onResults(std::move(results));
    };
    report({"carol", "Me", "bob", "Alice"});
    loop.drain();
    ASSERT_EQ(updates.size(), 1u);
    ASSERT_EQ(updates[0].size(), 3u);
    EXPECT_EQ(updates[0][0].name, "Alice");

    const auto stale = fake->current;
    fake->current.onFailed(std::make_error_code(std::errc::io_error));
    loop.advance(1999ms);
    EXPECT_EQ(fake->types.size(), 1u);
    loop.advance(1ms);
    EXPECT_EQ(fake->types.size(), 2u) << "a fresh browse operation 2 s after the failure";

    stale.onResults({});
    loop.drain();
    EXPECT_EQ(updates.size(), 1u) << "the replaced operation's reports are ignored";
    EXPECT_EQ(updates.back().size(), 3u) << "the last list stays until the new operation reports";
}

}  // namespace
}  // namespace qb::discovery
