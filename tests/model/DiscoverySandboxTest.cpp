// Discovery against a real avahi-daemon, inside the sandbox of tests/support/sandbox.sh.
#include <gtest/gtest.h>

#include <asio/ip/tcp.hpp>

#include <atomic>
#include <future>
#include <mutex>

#include "discovery/PeerBrowser.h"
#include "discovery/PresenceMonitor.h"
#include "identity/Identity.h"
#include "l10n/L.h"
#include "model/ModelTestSupport.h"
#include "model/SandboxSupport.h"
#include "platform/AvahiDnsSd.h"
#include "transfer/FileSender.h"

namespace qb::test {
namespace {

using namespace std::chrono_literals;
constexpr const char* kType = "_quobblefin._tcp";

// One responder client for the whole test process, and the connect-time resolver on it.
platform::AvahiDnsSd& dnsSd() {
    static const auto shared = [] {
        auto made = platform::AvahiDnsSd::create();
        platform::setServiceResolver(made->resolver());
        return made;
    }();
    return *shared;
}

// Polls `done` every 100 ms, for at most `limit`, without an event loop.
bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 15s) {
    for (auto waited = 0ms; waited < limit; waited += 100ms) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(100ms);
    }
    return done();
}

// Browses in-process, the way the application does, and keeps the latest list.
class Watcher {
public:
    Watcher() : strand_(platform::NetRuntime::shared().makeStrand()) {
        browser_ = discovery::PeerBrowser::create(dnsSd().makeBrowser(), discovery::MainLoop::onStrand(strand_));
        browser_->lang = [] { return std::string("en"); };
        browser_->onUpdate = [this](std::vector<discovery::Peer> peers) {
            const std::lock_guard lock(mutex_);
            peers_ = std::move(peers);
        };
        asio::post(strand_, [browser = browser_] { browser->start(); });
    }
    ~Watcher() {
        std::promise<void> gone;
        asio::post(strand_, [this, &gone] {
            browser_.reset();
            gone.set_value();
        });
        gone.get_future().wait();
    }
    std::vector<discovery::Peer> peers() {
        const std::lock_guard lock(mutex_);
        return peers_;
    }

private:
    platform::Strand strand_;
    std::shared_ptr<discovery::PeerBrowser> browser_;
    std::mutex mutex_;
    std::vector<discovery::Peer> peers_;
};

TEST(DiscoverySandboxTest, AvahiBrowseSeesTheAdvertisedTxtRecords) {
    QB_REQUIRE_SANDBOX();
    TempDir dir;
    identity::Identity identity({true, dir / "keys", dir / "settings.json", nullptr});
    ASSERT_TRUE(identity.hasIdentity());
    const std::string tlsName = "Zo\xC3\xAB's Lab";
    std::atomic<int> started{0};
    std::vector<std::shared_ptr<transfer::TransferServer>> servers;
    std::string longName;
    for (int i = 0; i < 200; ++i) {
        longName += "\xC3\x96";
    }
    const std::vector<std::pair<const identity::Identity*, std::string>> listeners{{&identity, tlsName},
                                                                                   {nullptr, longName}};
    for (const auto& [who, name] : listeners) {
        transfer::TransferServer::Options options;
        options.identity = who;
        options.advertiser = dnsSd().makeAdvertiser();
        auto created = transfer::TransferServer::create(
            name, [&dir] { return dir.path(); }, std::move(options));
        ASSERT_TRUE(created.server);
        created.server->onStarted = [&started](const std::string&, std::uint16_t) { ++started; };
        created.server->start();
        servers.push_back(std::move(created.server));
    }
    ASSERT_TRUE(pollUntil([&] { return started >= 2; }));

    std::map<std::string, std::vector<std::string>> txtByName;
    ASSERT_TRUE(pollUntil([&] {
        txtByName.clear();
        for (auto& service : avahiBrowse(kType)) {
            txtByName[service.name] = service.txt;
        }
        return txtByName.contains(transfer::Wire::asciiName(tlsName)) &&
               txtByName.contains(transfer::Wire::asciiName(longName));
    }));
    const auto has = [](const std::vector<std::string>& txt, const std::string& entry) {
        return std::find(txt.begin(), txt.end(), entry) != txt.end();
    };
    const auto& tls = txtByName[transfer::Wire::asciiName(tlsName)];
    EXPECT_TRUE(has(tls, "v=5"));
    EXPECT_TRUE(has(tls, "n=" + tlsName)) << "the device name goes out unchanged";
    EXPECT_TRUE(has(tls, "k=" + identity.ownFingerprint()));
    // A plain listener's record (no key) is TransferServerTest's; here its name is too long for one entry: 255
    // bytes at most, cut between characters ("n=" and 126 two-byte characters).
    const auto& plain = txtByName[transfer::Wire::asciiName(longName)];
    EXPECT_TRUE(has(plain, "v=3"));
    EXPECT_TRUE(has(plain, "n=" + longName.substr(0, 252)));
}

// What the daemon makes of entries without a value or without "=" (PeerRecordTest holds the other rules, and the
// order of the list).
TEST(DiscoverySandboxTest, TxtRecordsPublishedByHandBecomePeers) {
    QB_REQUIRE_SANDBOX();
    const std::string key(64, 'c');
    struct Case {
        std::string service;
        std::vector<std::string> txt;
        std::string name;
        int proto;
        bool keyed;
    };
    const std::vector<Case> cases{
        {"t-good", {"v=5", "n=Good one", "k=" + key}, "Good one", 5, true},
        {"t-nov", {"n=No v", "k=" + key}, "No v", 2, false},
        {"t-emptyv", {"v=", "k=" + key}, "t-emptyv", 2, false},
        {"t-emptyn", {"v=5", "n="}, "t-emptyn", 5, false},
        {"t-bare", {"v=5", "n"}, "t-bare", 5, false},
    };
    std::vector<std::unique_ptr<Background>> publishers;
    for (const auto& c : cases) {
        std::vector<std::string> arguments{"avahi-publish", "-s", c.service, kType, "4711"};
        arguments.insert(arguments.end(), c.txt.begin(), c.txt.end());
        publishers.push_back(std::make_unique<Background>(arguments));
    }
    Watcher watcher;
    std::vector<discovery::Peer> peers;
    const auto listed = [&peers](const std::string& service) {
        return std::find_if(peers.begin(), peers.end(), [&](auto& p) { return p.serviceName == service; });
    };
    // Services of earlier tests may still be listed for a moment: wait for these, not for a count.
    ASSERT_TRUE(pollUntil([&] {
        peers = watcher.peers();
        return std::all_of(cases.begin(), cases.end(), [&](const Case& c) { return listed(c.service) != peers.end(); });
    })) << peers.size();
    for (const auto& c : cases) {
        const auto found = listed(c.service);
        ASSERT_NE(found, peers.end()) << c.service;
        EXPECT_EQ(found->name, c.name) << c.service;
        EXPECT_EQ(found->proto, c.proto) << c.service;
        EXPECT_EQ(found->key.has_value(), c.keyed) << c.service;
    }
}

TEST(DiscoverySandboxTest, PresenceFollowsAListenerThatStopsAndComesBack) {
    QB_REQUIRE_SANDBOX();
    // A port below the ephemeral range, in a namespace of the test's own: no probe can ever take it as its
    // source port while the listener is away.
    constexpr std::uint16_t port = 4712;
    asio::io_context io;
    auto listener = std::make_unique<asio::ip::tcp::acceptor>(io, asio::ip::tcp::endpoint(asio::ip::tcp::v4(), port));
    Background publisher({"avahi-publish", "-s", "watched", kType, std::to_string(port), "v=5"});
    const discovery::Peer watched{"watched", "watched", platform::ServiceEndpoint("watched", kType, "local"), 5, {}};

    auto strand = platform::NetRuntime::shared().makeStrand();
    auto monitor = discovery::PresenceMonitor::create(
        discovery::MainLoop::onStrand(strand), discovery::tcpProbe(platform::NetRuntime::shared()), {200ms, 500ms, 2});
    std::mutex mutex;
    std::vector<bool> changes;
    monitor->onChange = [&] {
        const std::lock_guard lock(mutex);
        changes.push_back(monitor->unreachable().contains("watched"));
    };
    const auto seen = [&] {
        const std::lock_guard lock(mutex);
        return changes;
    };
    // The advertisement must be resolvable before the first probe can pass.
    Watcher watcher;
    ASSERT_TRUE(pollUntil([&] { return !watcher.peers().empty(); }));
    asio::post(strand, [&] { monitor->start([&watched] { return std::vector<discovery::Peer>{watched}; }); });
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(seen().empty()) << "a device that answers stays reachable";

    listener.reset();
    ASSERT_TRUE(pollUntil([&] { return seen().size() >= 1; }, 10s));
    EXPECT_EQ(seen(), std::vector<bool>{true});

    listener = std::make_unique<asio::ip::tcp::acceptor>(io, asio::ip::tcp::endpoint(asio::ip::tcp::v4(), port));
    ASSERT_TRUE(pollUntil([&] { return seen().size() >= 2; }, 10s));
    EXPECT_EQ(seen(), (std::vector<bool>{true, false})) << "one success makes it reachable again";
    std::promise<void> gone;
    asio::post(strand, [&] {
        monitor.reset();
        gone.set_value();
    });
    gone.get_future().wait();
}

// One instance of the model with an identity of its own, advertising and browsing through the sandbox's daemon.
struct Device {
    explicit Device(const std::string& name)
        : identity({true, harness.dir / "keys", harness.dir / "identity.json", nullptr}) {
        auto& config = harness.config;
        config.timings.failedLinger = 10s;
        config.ownKey = [this] { return identity.ownFingerprint(); };
        config.server.options.identity = &identity;
        config.server.makeAdvertiser = [] { return dnsSd().makeAdvertiser(); };
        config.discovery.browser = dnsSd().makeBrowser();
        config.discovery.presence = {300ms, 500ms, 2};
        transfer::SenderEnvironment environment;
        environment.identity = &identity;
        config.sender.send = [environment](model::SendRequest request, model::SenderHooks::Progress progress,
                                           model::SenderHooks::Completion completion) mutable {
            environment.cancellation = std::move(request.cancellation);
            transfer::FileSender::send(std::move(request.items), std::move(request.to), std::move(request.from),
                                       request.waitForGo, std::move(request.peerKey), false, std::move(progress),
                                       std::move(completion), environment);
        };
        config.sender.pair = [environment](platform::Endpoint to, std::string from, std::string peerKey,
                                           model::SenderHooks::Completion completion,
                                           std::shared_ptr<transfer::Cancellation> cancellation) mutable {
            environment.cancellation = std::move(cancellation);
            transfer::FileSender::pair(std::move(to), std::move(from), std::move(peerKey), std::move(completion),
                                       environment);
        };
        model::AppModel& made = harness.make();
        made.setDeviceName(name);
        made.setReceiveMode(model::ReceiveMode::known);
        made.start();
    }

    model::AppModel& model() { return *harness.model; }
    std::string key() const { return identity.ownFingerprint(); }
    std::optional<model::Peer> peerNamed(const std::string& name) {
        for (const auto& peer : model().peers()) {
            if (peer.name == name) {
                return peer;
            }
        }
        return std::nullopt;
    }

    ModelHarness harness;
    identity::Identity identity;
};

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(DiscoverySandboxTest, TwoModelsFindPairSendRenameAndWithdraw) {
    QB_REQUIRE_SANDBOX();
    l10n::L::setLang("en");
    Device ann("Ann");
    Device ben("Ben");
    ASSERT_TRUE(waitUntil([&] { return ann.peerNamed("Ben") && ben.peerNamed("Ann"); }, 15s));
    EXPECT_FALSE(ann.peerNamed("Ann")) << "never itself";
    EXPECT_EQ(ann.peerNamed("Ben")->key, ben.key());

    // A declined pairing records nothing.
    ann.model().pairDevice(*ann.peerNamed("Ben"));
    ASSERT_TRUE(waitUntil([&] { return ben.model().requests().size() == 1; }));
    ben.model().respond(ben.model().requests().front(), false, false);
    ASSERT_TRUE(waitUntil([&] { return !ann.model().jobs().empty() && ann.model().jobs().back().state.isFailed(); }));
    EXPECT_EQ(ann.model().jobs().back().state.message(), l10n::L::format(l10n::L::t("pair.declined"), {"Ben"}));
    EXPECT_TRUE(ann.model().myDevices().empty());
    EXPECT_TRUE(ben.model().myDevices().empty());

    ann.model().pairDevice(*ann.peerNamed("Ben"));
    ASSERT_TRUE(waitUntil([&] { return ben.model().requests().size() == 1; }));
    ben.model().respond(ben.model().requests().front(), true, false);
    ASSERT_TRUE(waitUntil([&] { return contains(ann.model().myDevices(), ben.key()); }));
    EXPECT_EQ(ann.model().knownKeys().at("Ben"), ben.key());
    EXPECT_TRUE(contains(ben.model().myDevices(), ann.key()));
    EXPECT_EQ(ben.model().knownKeys().at("Ann"), ann.key());
    EXPECT_TRUE(ann.model().isOnline(ben.key()));

    // A paired device sends without being asked, TLS pinned to the advertised key.
    const std::string content(300'000, 'q');
    writeFile(ann.harness.dir / "out" / "notes.bin", content);
    ann.model().send({ann.harness.dir / "out" / "notes.bin"}, *ann.peerNamed("Ben"));
    const auto arrived = ben.model().saveDir() / "notes.bin";
    ASSERT_TRUE(waitUntil([&] { return readFile(arrived) == content; }));

    ben.model().applyDeviceName("Ben Two");
    ASSERT_TRUE(waitUntil([&] { return ann.peerNamed("Ben Two") && !ann.peerNamed("Ben"); }, 15s));

    // The daemon goes away and comes back: the listener keeps running and the advertisement returns.
    const std::string ctl = std::getenv("QB_SANDBOX_AVAHI_CTL");
    ASSERT_EQ(std::system((ctl + " stop").c_str()), 0);
    const auto port = ben.model().port();
    asio::io_context io;
    asio::ip::tcp::socket probe(io);
    std::error_code refused;
    probe.connect({asio::ip::address_v4::loopback(), port}, refused);
    EXPECT_FALSE(refused) << "the listener survives the daemon";
    const auto lonely = shellOutput(std::string(QB_EXECUTABLE) + " --browse 1 2>&1; echo status $?");
    EXPECT_NE(lonely.find("avahi-daemon must be running"), std::string::npos) << lonely;
    EXPECT_NE(lonely.find("status 0"), std::string::npos) << lonely;
    ASSERT_EQ(std::system((ctl + " start").c_str()), 0);
    ASSERT_TRUE(waitUntil([&] { return ann.peerNamed("Ben Two").has_value(); }, 20s));

    ben.model().setReceiveMode(model::ReceiveMode::off);
    ASSERT_TRUE(waitUntil([&] { return !ann.peerNamed("Ben Two"); }, 15s));
    EXPECT_FALSE(ann.model().isOnline(ben.key()));
}

// The application as a separate process.
using Environment = std::map<std::string, std::optional<std::string>>;

Environment instanceEnvironment(const TempDir& home, const std::string& name) {
    return {{"HOME", home.path()},
            {"XDG_CONFIG_HOME", home / "config"},
            {"XDG_DATA_HOME", home / "data"},
            {"XDG_DOWNLOAD_DIR", home / "Downloads"},
            {"QUOBBLEFIN_NAME", name},
            {"QT_QPA_PLATFORM", "offscreen"}};
}

std::string browseFrom(Environment environment) {
    return runChild(QB_EXECUTABLE, {{"--browse", "3"}, std::move(environment), ".", 30}).out;
}

// The rows of --browse output for `name` only: services of earlier tests may still be on their way out.
std::vector<std::vector<std::string>> rowsNamed(const std::string& text, const std::string& name) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) {
            fields.push_back(field);
        }
        if (!fields.empty() && fields[0] == name) {
            rows.push_back(fields);
        }
    }
    return rows;
}

TEST(DiscoverySandboxTest, InstancesWithOneNameBothRegisterAndBrowseListsThemButNeverItself) {
    QB_REQUIRE_SANDBOX();
    TempDir first, second, onlooker;
    Background one({QB_EXECUTABLE, "--hidden"}, instanceEnvironment(first, "Twin"));
    Background two({QB_EXECUTABLE, "--hidden"}, instanceEnvironment(second, "Twin"));
    ASSERT_TRUE(pollUntil([] { return avahiBrowse(kType).size() >= 2; }, 20s));

    auto fromFirst = std::async(std::launch::async, [&] { return browseFrom(instanceEnvironment(first, "Twin")); });
    const auto seen = rowsNamed(browseFrom(instanceEnvironment(onlooker, "Onlooker")), "Twin");
    const auto seenByFirst = rowsNamed(fromFirst.get(), "Twin");

    ASSERT_EQ(seen.size(), 2u);
    for (const auto& row : seen) {
        ASSERT_EQ(row.size(), 4u);
        EXPECT_EQ(row[0], "Twin");
        EXPECT_EQ(row[1], "5");
        EXPECT_EQ(row[2].size(), 64u);
        EXPECT_TRUE(row[3].starts_with("10.77.0.1:")) << row[3];
    }
    EXPECT_NE(seen[0][2], seen[1][2]);
    ASSERT_EQ(seenByFirst.size(), 1u) << "the first instance lists the other one, not itself";
    EXPECT_TRUE(seenByFirst[0] == seen[0] || seenByFirst[0] == seen[1]);
}

}  // namespace
}  // namespace qb::test
