// Discovery against a real avahi-daemon, inside the sandbox of tests/support/sandbox.sh.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <asio/ip/tcp.hpp>

#include <atomic>
#include <future>
#include <mutex>

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
using ::testing::Contains;
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

// Polls `done` every 100 ms, for at most `limit`, turning the event loop in between.
bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 15s) {
    return waitUntil(
        [&] {
            std::this_thread::sleep_for(100ms);
            return done();
        },
        limit);
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
    // The peer listed under `field` (its name, or with &Peer::serviceName its service).
    std::optional<model::Peer> peer(const std::string& value, std::string model::Peer::*field = &model::Peer::name) {
        for (const auto& listed : model().peers()) {
            if (listed.*field == value) {
                return listed;
            }
        }
        return std::nullopt;
    }

    ModelHarness harness;
    identity::Identity identity;
};

class DiscoverySandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        QB_REQUIRE_SANDBOX();
        testApp();
        dnsSd();  // installs the resolver that probes of advertised services connect through
        l10n::L::setLang("en");
    }
};

TEST_F(DiscoverySandboxTest, AvahiBrowseSeesTheAdvertisedTxtRecords) {
    TempDir dir;
    identity::Identity identity({true, dir / "keys", dir / "settings.json", nullptr});
    ASSERT_TRUE(identity.hasIdentity());
    const std::string tlsName = "Zo\xC3\xAB's Lab";
    std::string longName;
    for (int i = 0; i < 200; ++i) {
        longName += "\xC3\x96";
    }
    std::atomic<int> started{0};
    std::vector<std::shared_ptr<transfer::TransferServer>> servers;
    for (const auto& [who, name] :
         std::vector<std::pair<const identity::Identity*, std::string>>{{&identity, tlsName}, {nullptr, longName}}) {
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
    const auto tls = transfer::Wire::asciiName(tlsName), plain = transfer::Wire::asciiName(longName);
    ASSERT_TRUE(pollUntil([&] {
        txtByName.clear();
        for (auto& service : avahiBrowse(kType)) {
            txtByName[service.name] = service.txt;
        }
        return txtByName.contains(tls) && txtByName.contains(plain);
    }));
    EXPECT_THAT(txtByName[tls], Contains("v=5"));
    EXPECT_THAT(txtByName[tls], Contains("n=" + tlsName)) << "the device name goes out unchanged";
    EXPECT_THAT(txtByName[tls], Contains("k=" + identity.ownFingerprint()));
    // A plain listener's name too long for one entry: 255 bytes at most, cut between characters ("n=" and 126
    // two-byte characters).
    EXPECT_THAT(txtByName[plain], Contains("v=3"));
    EXPECT_THAT(txtByName[plain], Contains("n=" + longName.substr(0, 252)));
}

// What the daemon makes of entries without a value or without "=".
TEST_F(DiscoverySandboxTest, TxtRecordsPublishedByHandBecomePeers) {
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
    Device watcher("Watcher");
    // Services of earlier tests may still be listed for a moment: wait for these, not for a count.
    ASSERT_TRUE(pollUntil([&] {
        return std::all_of(cases.begin(), cases.end(),
                           [&](const Case& c) { return watcher.peer(c.service, &model::Peer::serviceName); });
    })) << watcher.model().peers().size();
    for (const auto& c : cases) {
        const auto found = watcher.peer(c.service, &model::Peer::serviceName);
        ASSERT_TRUE(found) << c.service;
        EXPECT_EQ(found->name, c.name) << c.service;
        EXPECT_EQ(found->proto, c.proto) << c.service;
        EXPECT_EQ(found->key.has_value(), c.keyed) << c.service;
    }
}

TEST_F(DiscoverySandboxTest, PresenceFollowsAListenerThatStopsAndComesBack) {
    // A port below the ephemeral range, in a namespace of the test's own: no probe can ever take it as its
    // source port while the listener is away.
    constexpr std::uint16_t port = 4712;
    asio::io_context io;
    const auto listen = [&] {
        return std::make_unique<asio::ip::tcp::acceptor>(io, asio::ip::tcp::endpoint(asio::ip::tcp::v4(), port));
    };
    auto listener = listen();
    Background publisher({"avahi-publish", "-s", "watched", kType, std::to_string(port), "v=5"});
    const discovery::Peer watched{"watched", "watched", platform::ServiceEndpoint("watched", kType, "local"), 5, {}};
    // The advertisement must be resolvable before the first probe can pass.
    ASSERT_TRUE(pollUntil([&] {
        const auto services = avahiBrowse(kType);
        return std::any_of(services.begin(), services.end(),
                           [](const auto& service) { return service.name == "watched"; });
    }));

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
    asio::post(strand, [&] { monitor->start([&watched] { return std::vector<discovery::Peer>{watched}; }); });
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(seen().empty()) << "a device that answers stays reachable";

    listener.reset();
    ASSERT_TRUE(pollUntil([&] { return seen().size() >= 1; }, 10s));
    EXPECT_EQ(seen(), std::vector<bool>{true});

    listener = listen();
    ASSERT_TRUE(pollUntil([&] { return seen().size() >= 2; }, 10s));
    EXPECT_EQ(seen(), (std::vector<bool>{true, false})) << "one success makes it reachable again";
    std::promise<void> gone;
    asio::post(strand, [&] {
        monitor.reset();
        gone.set_value();
    });
    gone.get_future().wait();
}

TEST_F(DiscoverySandboxTest, TwoModelsFindPairSendRenameAndWithdraw) {
    Device ann("Ann");
    Device ben("Ben");
    ASSERT_TRUE(waitUntil([&] { return ann.peer("Ben") && ben.peer("Ann"); }, 15s));
    EXPECT_FALSE(ann.peer("Ann")) << "never itself";
    EXPECT_EQ(ann.peer("Ben")->key, ben.key());

    const auto pairAnswered = [&](bool accept) {
        ann.model().pairDevice(*ann.peer("Ben"));
        ASSERT_TRUE(waitUntil([&] { return ben.model().requests().size() == 1; }));
        ben.model().respond(ben.model().requests().front(), accept, false);
    };
    // A declined pairing records nothing.
    pairAnswered(false);
    ASSERT_TRUE(waitUntil([&] { return !ann.model().jobs().empty() && ann.model().jobs().back().state.isFailed(); }));
    EXPECT_EQ(ann.model().jobs().back().state.message(), l10n::L::format(l10n::L::t("pair.declined"), {"Ben"}));
    EXPECT_TRUE(ann.model().myDevices().empty());
    EXPECT_TRUE(ben.model().myDevices().empty());

    pairAnswered(true);
    ASSERT_TRUE(waitUntil([&] { return !ann.model().myDevices().empty(); }));
    EXPECT_EQ(ann.model().myDevices(), std::vector<std::string>{ben.key()});
    EXPECT_EQ(ann.model().knownKeys().at("Ben"), ben.key());
    EXPECT_EQ(ben.model().myDevices(), std::vector<std::string>{ann.key()});
    EXPECT_EQ(ben.model().knownKeys().at("Ann"), ann.key());
    EXPECT_TRUE(ann.model().isOnline(ben.key()));

    // A paired device sends without being asked, TLS pinned to the advertised key.
    const std::string content(300'000, 'q');
    writeFile(ann.harness.dir / "out" / "notes.bin", content);
    ann.model().send({ann.harness.dir / "out" / "notes.bin"}, *ann.peer("Ben"));
    const auto arrived = ben.model().saveDir() / "notes.bin";
    ASSERT_TRUE(waitUntil([&] { return readFile(arrived) == content; }));

    ben.model().applyDeviceName("Ben Two");
    ASSERT_TRUE(waitUntil([&] { return ann.peer("Ben Two") && !ann.peer("Ben"); }, 15s));

    // The daemon goes away and comes back: the listener keeps running and the advertisement returns.
    const std::string ctl = std::getenv("QB_SANDBOX_AVAHI_CTL");
    ASSERT_EQ(std::system((ctl + " stop").c_str()), 0);
    asio::io_context io;
    asio::ip::tcp::socket probe(io);
    std::error_code refused;
    probe.connect({asio::ip::address_v4::loopback(), ben.model().port()}, refused);
    EXPECT_FALSE(refused) << "the listener survives the daemon";
    const auto lonely = shellOutput(std::string(QB_EXECUTABLE) + " --browse 1 2>&1; echo status $?");
    EXPECT_NE(lonely.find("avahi-daemon must be running"), std::string::npos) << lonely;
    EXPECT_NE(lonely.find("status 0"), std::string::npos) << lonely;
    ASSERT_EQ(std::system((ctl + " start").c_str()), 0);
    ASSERT_TRUE(waitUntil([&] { return ann.peer("Ben Two").has_value(); }, 20s));

    ben.model().setReceiveMode(model::ReceiveMode::off);
    ASSERT_TRUE(waitUntil([&] { return !ann.peer("Ben Two"); }, 15s));
    EXPECT_FALSE(ann.model().isOnline(ben.key()));
}

// The application as a separate process, with a home of its own.
std::map<std::string, std::optional<std::string>> instanceEnvironment(const TempDir& home, const std::string& name) {
    return {{"HOME", home.path()},
            {"XDG_CONFIG_HOME", home / "config"},
            {"XDG_DATA_HOME", home / "data"},
            {"XDG_DOWNLOAD_DIR", home / "Downloads"},
            {"QUOBBLEFIN_NAME", name},
            {"QT_QPA_PLATFORM", "offscreen"}};
}

// Its --browse rows for `name` only (services of earlier tests may still be on their way out), split into their
// tab-separated fields.
std::vector<std::vector<std::string>> browseRows(const TempDir& home, const std::string& as, const std::string& name) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(runChild(QB_EXECUTABLE, {{"--browse", "3"}, instanceEnvironment(home, as), ".", 30}).out);
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

TEST_F(DiscoverySandboxTest, InstancesWithOneNameBothRegisterAndBrowseListsThemButNeverItself) {
    TempDir first, second, onlooker;
    Background one({QB_EXECUTABLE, "--hidden"}, instanceEnvironment(first, "Twin"));
    Background two({QB_EXECUTABLE, "--hidden"}, instanceEnvironment(second, "Twin"));
    ASSERT_TRUE(pollUntil([] { return avahiBrowse(kType).size() >= 2; }, 20s));

    auto fromFirst = std::async(std::launch::async, [&] { return browseRows(first, "Twin", "Twin"); });
    const auto seen = browseRows(onlooker, "Onlooker", "Twin");
    const auto seenByFirst = fromFirst.get();

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
    EXPECT_THAT(seen, Contains(seenByFirst[0]));
}

}  // namespace
}  // namespace qb::test
