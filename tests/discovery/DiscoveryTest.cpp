#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <map>

#include "discovery/MainLoop.h"
#include "discovery/PeerBrowser.h"
#include "discovery/PeerRecord.h"
#include "discovery/PresenceMonitor.h"

namespace qb::discovery {
namespace {

using namespace std::chrono_literals;
using Result = platform::ServiceBrowser::Result;
using Entries = std::vector<std::string>;

const std::string kKey(64, 'a');
const std::string kOwn(64, 'e');

Result result(const std::string& serviceName, std::optional<Entries> txt, int interface = 2) {
    return {platform::ServiceEndpoint(serviceName, "_quobblefin._tcp", "local", interface), std::move(txt)};
}

// A main loop the test turns by hand, with a clock that only moves when the test says so.
class ManualLoop {
public:
    MainLoop hooks() {
        MainLoop loop;
        loop.post = [this](MainLoop::Task task) { posted_.push_back(std::move(task)); };
        loop.postAfter = [this](std::chrono::milliseconds delay, MainLoop::Task task) {
            timers_.emplace(now_ + delay, std::move(task));
        };
        return loop;
    }

    void drain() {
        while (!posted_.empty()) {
            auto task = std::move(posted_.front());
            posted_.pop_front();
            task();
        }
    }

    // Runs every timer due within `span`, in time order, and what each posts.
    void advance(std::chrono::milliseconds span) {
        const auto until = now_ + span;
        drain();
        while (!timers_.empty() && timers_.begin()->first <= until) {
            auto due = timers_.extract(timers_.begin());
            now_ = due.key();
            due.mapped()();
            drain();
        }
        now_ = until;
    }

private:
    std::chrono::milliseconds now_{0};
    std::deque<MainLoop::Task> posted_;
    std::multimap<std::chrono::milliseconds, MainLoop::Task> timers_;
};

TEST(PeerRecordTest, TxtEntriesGiveThePeersFields) {
    const struct {
        const char* what;
        std::optional<Entries> txt;
        std::string name;
        int proto;
        std::optional<std::string> key;
    } cases[] = {
        {"all three", Entries{"v=5", "n=Ann's laptop", "k=" + kKey}, "Ann's laptop", 5, kKey},
        {"generation 3 drops the key", Entries{"v=3", "k=" + kKey}, "svc", 3, std::nullopt},
        {"generation 4 keeps it", Entries{"v=4", "k=" + kKey}, "svc", 4, kKey},
        {"no v", Entries{"k=" + kKey}, "svc", 2, std::nullopt},
        {"empty v", Entries{"v=", "k=" + kKey}, "svc", 2, std::nullopt},
        {"v not a number", Entries{"v=abc", "k=" + kKey}, "svc", 2, std::nullopt},
        {"v with trailing text", Entries{"v=5x"}, "svc", 2, std::nullopt},
        {"signed v", Entries{"v=+5", "k=" + kKey}, "svc", 5, kKey},
        {"negative v", Entries{"v=-1"}, "svc", -1, std::nullopt},
        {"v overflows", Entries{"v=99999999999"}, "svc", 2, std::nullopt},
        {"k of 63", Entries{"v=5", "k=" + kKey.substr(1)}, "svc", 5, std::nullopt},
        {"k of 65", Entries{"v=5", "k=" + kKey + "a"}, "svc", 5, std::nullopt},
        {"empty n", Entries{"v=5", "n="}, "svc", 5, std::nullopt},
        {"entries without =", Entries{"n", "v"}, "svc", 2, std::nullopt},
        {"keys ignore case, first wins", Entries{"V=3", "v=5", "N=first", "n=second"}, "first", 3, std::nullopt},
        {"n not UTF-8", Entries{"v=5", "n=\xff\xfe"}, "svc", 5, std::nullopt},
        {"other entries ignored", Entries{"x=1", "v=5", "n=Bo"}, "Bo", 5, std::nullopt},
        {"no TXT record", std::nullopt, "svc", 2, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto peer = peerFrom(result("svc", c.txt), kOwn);
        ASSERT_TRUE(peer);
        EXPECT_EQ(peer->name, c.name);
        EXPECT_EQ(peer->serviceName, "svc");
        EXPECT_EQ(peer->proto, c.proto);
        EXPECT_EQ(peer->key, c.key);
    }
}

TEST(PeerRecordTest, ListDropsThisDeviceAndRepeatsAndSortsByName) {
    const std::vector<Result> results{
        result("bob", Entries{"v=5", "n=bob"}),
        result("Me", Entries{"v=5", "n=Me"}),
        result("Mirror", Entries{"v=5", "n=Mirror", "k=" + kOwn}),
        result("carol", Entries{"v=3", "n=carol"}),
        result("bob", Entries{"v=3", "n=bob again"}, 7),
        result("Alice", Entries{"v=5", "n=Alice"}),
        result("alice2", Entries{"v=5", "n=alice"}),
    };
    const auto peers = peerList(results, {"Me", kOwn}, "en");
    std::vector<std::string> names;
    for (const auto& peer : peers) {
        names.push_back(peer.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alice", "alice", "bob", "carol"}));
    EXPECT_EQ(peers[2].proto, 5) << "the first report of a service name wins";
    EXPECT_EQ(std::get<platform::ServiceEndpoint>(peers[2].endpoint).interfaceIndex, 2);
}

TEST(PeerRecordTest, SortFollowsTheLanguagesCollation) {
    std::vector<Peer> peers;
    for (const char* name : {"\xC3\xB6rjan", "zed", "Oskar"}) {
        peers.push_back({name, name, platform::HostPort("h", 1), 5, std::nullopt});
    }
    auto german = peers;
    sortByName(german, "de");
    EXPECT_EQ(german[0].name, "\xC3\xB6rjan") << "German sorts \xC3\xB6 with o";
    sortByName(peers, "sv");
    EXPECT_EQ(peers[2].name, "\xC3\xB6rjan") << "Swedish sorts \xC3\xB6 after z";
}

TEST(PresenceMonitorTest, TwoFailuresMakeUnreachableOneSuccessBackAndForgottenPeersDrop) {
    ManualLoop loop;
    // Probes wait until the test answers them.
    std::vector<std::function<void(bool)>> pending;
    int started = 0;
    const auto answer = [&pending](bool ok) {
        for (auto& done : std::exchange(pending, {})) {
            done(ok);
        }
    };
    auto monitor =
        PresenceMonitor::create(loop.hooks(),
                                [&](const Peer&, std::chrono::milliseconds timeout, std::function<void(bool)> done) {
                                    EXPECT_EQ(timeout, 300ms);
                                    ++started;
                                    pending.push_back(std::move(done));
                                },
                                {500ms, 300ms, 2});
    int changes = 0;
    monitor->onChange = [&changes] { ++changes; };
    std::vector<Peer> watched{
        {"Tab", "Tab", platform::ServiceEndpoint("Tab", "_quobblefin._tcp", "local"), 5, std::nullopt}};
    monitor->start([&watched] { return watched; });
    EXPECT_EQ(started, 1) << "the first tick runs at once";

    loop.advance(500ms);
    EXPECT_EQ(started, 1) << "one probe per service name in flight";

    // Step by step: what each answer does to the unreachable set and to onChange.
    const std::vector<std::tuple<bool, bool, int>> steps{
        {false, false, 0}, {false, true, 1}, {false, true, 1}, {true, false, 2}, {true, false, 2}};
    for (const auto& [ok, unreachable, expectedChanges] : steps) {
        answer(ok);
        loop.drain();
        EXPECT_EQ(monitor->unreachable().contains("Tab"), unreachable);
        EXPECT_EQ(changes, expectedChanges);
        loop.advance(500ms);
    }

    answer(false);
    loop.advance(500ms);
    answer(false);
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
    ManualLoop loop;
    auto fake = std::make_shared<FakeBrowser>();
    auto browser = PeerBrowser::create(fake, loop.hooks());
    std::vector<std::vector<Peer>> updates;
    browser->ownName = [] { return std::optional<std::string>("Me"); };
    browser->lang = [] { return std::string("en"); };
    browser->onUpdate = [&updates](std::vector<Peer> peers) { updates.push_back(std::move(peers)); };
    browser->start();
    ASSERT_EQ(fake->types, std::vector<std::string>{"_quobblefin._tcp"});

    std::vector<Result> results;
    for (const char* name : {"carol", "Me", "bob", "Alice"}) {
        results.push_back(result(name, std::nullopt));
    }
    fake->current.onResults(std::move(results));
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
