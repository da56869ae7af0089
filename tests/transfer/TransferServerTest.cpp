#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <asio/connect.hpp>
#include <asio/ssl.hpp>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "ServerHarness.h"
#include "transfer/Wire.h"

namespace qb::transfer {
namespace {

using test::Exchange;
using test::ServerHarness;
using test::TestDevice;
using namespace std::chrono_literals;

// Closed without a single reply byte, by the server rather than by our time limit.
void expectClosedSilently(const Exchange& outcome) {
    EXPECT_EQ(outcome.reply, "");
    EXPECT_TRUE(outcome.closedByServer()) << outcome.end.message();
}

// Decisions taken on the test's event loop, which stands in for the main thread.
struct Gatekeeper {
    using Respond = std::function<void(const FileHeader&, const TransferServer::Answer&)>;

    void attach(TransferServer& server, Respond respond) {
        server.decide = [this, respond](const FileHeader& header, const std::optional<std::string>& senderKey,
                                        TransferServer::Answer answer) {
            headers.push_back(header);
            keys.push_back(senderKey);
            answers.push_back(answer);
            respond(header, answer);
        };
    }
    std::vector<FileHeader> headers;
    std::vector<std::optional<std::string>> keys;
    std::vector<TransferServer::Answer> answers;
};

const auto acceptAll = [](const FileHeader&, const TransferServer::Answer& answer) { answer(true); };
const auto declineAll = [](const FileHeader&, const TransferServer::Answer& answer) { answer(false); };

class HostileStreamTest : public ::testing::Test {
protected:
    HostileStreamTest() {
        harness.start();
        harness.run();
    }
    ServerHarness harness;
};

TEST_F(HostileStreamTest, MalformedPrefixesAndHeadersCloseWithoutReply) {
    const std::string valid = R"({"v":3,"name":"x","size":0,"from":"t"})";
    const std::vector<std::pair<std::string, platform::Bytes>> cases = {
        {"bad magic", test::concat(platform::toBytes("QBLX"), test::rawPrefix(valid))},
        {"length 0", test::rawPrefix("", 0)},
        {"length 2^20", test::rawPrefix(valid, 1u << 20)},
        {"short prefix", platform::toBytes(std::string_view("QBLF\0\0", 6))},
        {"short header", test::rawPrefix(valid.substr(0, 20), static_cast<std::uint32_t>(valid.size()))},
        {"invalid JSON", test::rawPrefix("{\"v\":3,\"name\":")},
        {"not an object", test::rawPrefix("[3]")},
        {"missing from", test::rawPrefix(R"({"v":3,"name":"x","size":0})")},
        {"negative size", test::rawPrefix(R"({"v":3,"name":"x","size":-1,"from":"t"})")},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        expectClosedSilently(harness.exchange(bytes));
        harness.expectStillServes();
    }
    EXPECT_EQ(harness.events.read([](auto& e) { return e.begun.size(); }), cases.size()) << "only the valid ones began";
}

TEST_F(HostileStreamTest, LargestHeaderIsReadAndSizeZeroIsAccepted) {
    std::string json = R"({"v":3,"name":"big","size":0,"from":"t","pad":""})";
    json.insert(json.size() - 2, Wire::kMaxHeaderLength - json.size(), 'a');
    ASSERT_EQ(json.size(), Wire::kMaxHeaderLength);
    const auto outcome = harness.exchange(test::rawPrefix(json));
    EXPECT_EQ(outcome.reply, "GO\nOK\n");
    ASSERT_TRUE(harness.events.waitFinish());
    EXPECT_EQ(test::treeOf(harness.inbox), std::set<std::string>{"big"});
}

TEST_F(HostileStreamTest, DotComponentsAreRefusedEvenWhenTheOwnerAccepts) {
    Gatekeeper gate;
    gate.attach(*harness.server, acceptAll);
    for (const char* unsafe : {"a/../b", "./x", ".."}) {
        SCOPED_TRACE(unsafe);
        const auto header = test::treeHeader("F", {{.p = "ok.txt", .s = 1}, {.p = unsafe, .s = 1}}, false);
        const auto outcome = harness.send(header, platform::toBytes("12"));
        EXPECT_EQ(outcome.reply, "NO\n");
        EXPECT_TRUE(outcome.closedByServer());

        const auto older = test::treeHeader("F", {{.p = unsafe, .s = 1}}, false, Wire::generationNoWait);
        expectClosedSilently(harness.send(older, platform::toBytes("1")));
    }
    EXPECT_EQ(gate.headers.size(), 6u) << "the owner was asked first";
    EXPECT_TRUE(test::treeOf(harness.inbox).empty());
    EXPECT_TRUE(harness.events.read([](auto& e) { return e.begun.empty(); }));
    harness.expectStillServes();
}

class TlsServerTest : public ::testing::Test {
protected:
    TlsServerTest() {
        harness.start();
        gate.attach(*harness.server, acceptAll);
        harness.run();
    }
    ServerHarness harness{ServerHarness::Security::tls};
    TestDevice sender{harness.temp / "sender"};
    TestDevice bystander{harness.temp / "bystander"};
    Gatekeeper gate;
};

TEST_F(TlsServerTest, SignedHeaderPassesTheSendersKeyToTheOwner) {
    ASSERT_TRUE(harness.server->isTls());
    harness.expectStillServes(&sender);
    ASSERT_EQ(gate.keys.size(), 1u);
    EXPECT_EQ(gate.keys.front(), sender.identity.ownFingerprint());
}

TEST_F(TlsServerTest, HeadersWithoutAValidSignatureForThisReceiverGetNo) {
    const auto unsigned_ = test::fileHeader("x.txt", 1, Wire::generationTls);
    auto forAnother = unsigned_;
    const auto proof = identity::signForReceiver(sender.identity, bystander.identity.ownFingerprint());
    forAnother.cert = proof->certB64;
    forAnother.sig = proof->sigB64;
    auto borrowedCert = harness.signedBy(sender, unsigned_);
    borrowedCert.cert = platform::base64Encode(bystander.identity.certDer());
    auto garbled = harness.signedBy(sender, unsigned_);
    garbled.sig = "not base64!";

    for (const auto& header : {unsigned_, forAnother, borrowedCert, garbled}) {
        const auto outcome = harness.send(header, platform::toBytes("x"), harness.pinned());
        EXPECT_EQ(outcome.reply, "NO\n");
        EXPECT_TRUE(outcome.closedByServer());
    }
    EXPECT_TRUE(gate.headers.empty()) << "refused before the gate";
    EXPECT_TRUE(test::treeOf(harness.inbox).empty());
    harness.expectStillServes(&sender);
}

TEST_F(TlsServerTest, PlainClientsAndTls12ClientsGetNothing) {
    // Speaking plain TCP to the TLS listener fails its handshake.
    const auto plain = harness.exchange(test::concat(Wire::encodePrefix(test::fileHeader("x", 0)), {}));
    EXPECT_EQ(plain.reply, "");

    asio::io_context io;
    asio::ssl::context context(asio::ssl::context::tls_client);
    SSL_CTX_set_max_proto_version(context.native_handle(), TLS1_2_VERSION);
    context.set_verify_mode(asio::ssl::verify_none);
    asio::ssl::stream<asio::ip::tcp::socket> client(io, context);
    std::error_code handshakeError = asio::error::timed_out;
    client.next_layer().async_connect(
        {asio::ip::make_address("127.0.0.1"), harness.server->port()}, [&](std::error_code error) {
            if (error) {
                handshakeError = error;
                return;
            }
            client.async_handshake(asio::ssl::stream_base::client,
                                   [&](std::error_code failed) { handshakeError = failed; });
        });
    io.run_for(10s);
    EXPECT_TRUE(handshakeError);
    EXPECT_NE(handshakeError, asio::error::timed_out);
    harness.expectStillServes(&sender);
}

TEST_F(TlsServerTest, PairingAcceptedGetsGoAndCloses) {
    auto pairing = test::fileHeader("pair", 0, Wire::generationTls);
    pairing.pair = true;
    const auto outcome = harness.send(harness.signedBy(sender, pairing), {}, harness.pinned());
    EXPECT_EQ(outcome.reply, "GO\n");
    EXPECT_TRUE(outcome.closedByServer());
    ASSERT_EQ(gate.headers.size(), 1u);
    EXPECT_TRUE(gate.headers.front().pair);
    EXPECT_TRUE(harness.events.read([](auto& e) { return e.begun.empty(); })) << "no body for a pairing";
}

class GateTest : public ::testing::Test {
protected:
    ServerHarness harness;
};

TEST_F(GateTest, WithoutDecideEveryValidHeaderIsAccepted) {
    harness.start();
    harness.run();
    harness.expectStillServes();
    const auto older = harness.send(test::fileHeader("old.txt", 3, Wire::generationNoWait), platform::toBytes("abc"));
    EXPECT_EQ(older.reply, "OK\n") << "an older sender gets no answer to its header";
    ASSERT_TRUE(harness.events.waitFinish());
    EXPECT_EQ(test::readText(harness.inbox / "old.txt"), "abc");
}

TEST_F(GateTest, OnlyTheFirstAnswerCounts) {
    harness.start();
    Gatekeeper gate;
    gate.attach(*harness.server, [](const FileHeader& header, const TransferServer::Answer& answer) {
        const bool acceptFirst = header.name != "no.txt";
        answer(acceptFirst);
        answer(!acceptFirst);
    });
    harness.run();
    harness.expectStillServes();
    EXPECT_EQ(harness.send(test::fileHeader("no.txt", 1), platform::toBytes("n")).reply, "NO\n");
}

TEST_F(GateTest, NoAnswerInTimeDeclinesAndALateAnswerDoesNothing) {
    harness.options.timings.gate = 200ms;
    harness.start();
    Gatekeeper gate;
    gate.attach(*harness.server, [](const FileHeader& header, const TransferServer::Answer& answer) {
        if (header.name != "late.txt") {
            answer(true);
        }
    });
    harness.run();
    const auto outcome = harness.send(test::fileHeader("late.txt", 1), platform::toBytes("l"));
    EXPECT_EQ(outcome.reply, "NO\n");
    ASSERT_EQ(gate.answers.size(), 1u);
    gate.answers.front()(true);

    harness.expectStillServes();
    EXPECT_EQ(harness.events.read([](auto& e) { return e.begun.size(); }), 1u) << "the late answer began nothing";
    EXPECT_FALSE(std::filesystem::exists(harness.inbox / "late.txt"));
}

TEST_F(GateTest, DeclinedOlderSenderIsClosedWithoutReply) {
    harness.start();
    Gatekeeper gate;
    gate.attach(*harness.server, declineAll);
    harness.run();
    expectClosedSilently(
        harness.send(test::fileHeader("two.txt", 3, Wire::generationNoWait), platform::toBytes("abc")));
    EXPECT_EQ(harness.send(test::fileHeader("three.txt", 3), platform::toBytes("abc")).reply, "NO\n");
    EXPECT_TRUE(test::treeOf(harness.inbox).empty());
}

TEST_F(GateTest, ServerDroppedWhileAskingStartsNoBodyAndIsReleased) {
    harness.start();
    std::promise<TransferServer::Answer> asked;
    harness.server->decide = [&asked](const FileHeader&, const std::optional<std::string>&,
                                      TransferServer::Answer answer) { asked.set_value(std::move(answer)); };
    harness.run();
    const auto port = harness.server->port();
    auto pending = std::async(std::launch::async, [&] {
        return test::runFor(
            harness.io, test::exchangeWith(port, std::nullopt, Wire::encodePrefix(test::fileHeader("x", 0)), true, 10s),
            std::chrono::seconds(15));
    });
    auto answer = asked.get_future();
    ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
    const std::weak_ptr<TransferServer> weak = harness.server;
    harness.server->cancel();
    harness.server.reset();
    EXPECT_FALSE(weak.expired()) << "the waiting gate holds the server";

    std::thread([answer = answer.get()] { answer(true); }).join();
    const auto outcome = pending.get();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->reply, "GO\n");
    EXPECT_TRUE(outcome->closedByServer());
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(harness.events.read([](auto& e) { return e.begun.empty(); }));
}

// Records what is advertised and lets the test play the responder.
class FakeAdvertiser : public platform::ServiceAdvertiser {
public:
    void advertise(Service service, Callbacks callbacks) override {
        {
            const std::lock_guard lock(mutex_);
            advertised_ = std::move(service);
            callbacks_ = std::move(callbacks);
        }
        changed_.notify_all();
    }
    void withdraw() override {
        {
            const std::lock_guard lock(mutex_);
            ++withdrawals_;
        }
        changed_.notify_all();
    }

    // The advertised service and the responder's callbacks, once advertise() was called.
    std::optional<std::pair<Service, Callbacks>> waitAdvertised() {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, 10s, [this] { return advertised_.has_value(); })) {
            return std::nullopt;
        }
        return std::make_pair(*advertised_, callbacks_);
    }
    bool waitWithdrawn() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [this] { return withdrawals_ > 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Service> advertised_;
    Callbacks callbacks_;
    int withdrawals_ = 0;
};

class AdvertisingTest : public ::testing::Test {
protected:
    void startWith(ServerHarness& harness, std::string name) {
        harness.options.advertiser = fake;
        harness.start(std::move(name));
        harness.run();
    }
    std::shared_ptr<FakeAdvertiser> fake = std::make_shared<FakeAdvertiser>();
};

TEST_F(AdvertisingTest, TlsListenerAdvertisesGenerationNameAndKeyUnderItsAsciiName) {
    ServerHarness harness(ServerHarness::Security::tls);
    startWith(harness, "Zoë's  Mac\t");
    const auto advertised = fake->waitAdvertised();
    ASSERT_TRUE(advertised);
    const auto& service = advertised->first;
    EXPECT_EQ(service.name, "Zo 's Mac");
    EXPECT_EQ(service.type, "_quobblefin._tcp");
    EXPECT_EQ(service.port, harness.server->port());
    EXPECT_EQ(service.txt.at("v"), "5");
    EXPECT_EQ(service.txt.at("n"), "Zoë's  Mac\t");
    EXPECT_THAT(service.txt.at("k"), ::testing::MatchesRegex("[0-9a-f]{64}"));
    EXPECT_EQ(service.txt.at("k"), harness.receiver->identity.ownFingerprint());
    EXPECT_EQ(service.txt.size(), 3u);
}

TEST_F(AdvertisingTest, PlainListenerAdvertisesNoKey) {
    ServerHarness harness;
    startWith(harness, "Desk");
    const auto advertised = fake->waitAdvertised();
    ASSERT_TRUE(advertised);
    EXPECT_EQ(advertised->first.txt, (platform::ServiceAdvertiser::TxtRecord{{"v", "3"}, {"n", "Desk"}}));
}

TEST_F(AdvertisingTest, StartedReportsTheRegisteredNameOrTheAsciiNameWhenDnsSdFails) {
    ServerHarness harness;
    startWith(harness, "Désk");
    const auto advertised = fake->waitAdvertised();
    ASSERT_TRUE(advertised);
    EXPECT_TRUE(harness.events.read([](auto& e) { return e.started.empty(); })) << "nothing before registration";
    const auto responder = advertised->second;
    std::thread([&responder] {
        responder.onRegistered("D sk (2)");
        responder.onFailed(std::make_error_code(std::errc::host_unreachable));
    }).join();
    ASSERT_TRUE(harness.events.waitUntil([](auto& e) { return e.started.size() == 2; }));
    const auto port = harness.server->port();
    EXPECT_EQ(harness.events.read([](auto& e) { return e.started; }),
              (std::vector<std::pair<std::string, std::uint16_t>>{{"D sk (2)", port}, {"D sk", port}}));

    harness.server->cancel();
    ASSERT_TRUE(fake->waitWithdrawn());
    responder.onRegistered("after cancel");
    const auto refused = test::runFor(harness.io, test::exchangeWith(port, std::nullopt, {}, true, 5s), 10s);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->end, asio::error::connection_refused) << "cancel closed the listener";
    EXPECT_EQ(harness.events.read([](auto& e) { return e.started.size(); }), 2u);
}

TEST_F(AdvertisingTest, WithoutAdvertiserTheServerReportsItsAsciiNameItself) {
    ServerHarness harness;
    harness.start("Büro");
    harness.run();
    ASSERT_TRUE(harness.events.waitUntil([](auto& e) { return !e.started.empty(); }));
    EXPECT_EQ(harness.events.read([](auto& e) { return e.started.front(); }),
              std::make_pair(std::string("B ro"), harness.server->port()));
}

TEST(TransferServerCreateTest, FailsWhenTheListenerCannotBeMade) {
    platform::NetRuntime runtime(1);
    ServerOptions options;
    options.identity = nullptr;
    options.runtime = &runtime;
    options.bindAddress = asio::ip::make_address("192.0.2.1");  // not an address of this machine
    const auto created = TransferServer::create(
        "x", [] { return std::filesystem::path("/tmp"); }, options);
    EXPECT_TRUE(created.error);
    EXPECT_FALSE(created.server);
}

}  // namespace
}  // namespace qb::transfer
