#include "NetTestSupport.h"

#include "platform/Connect.h"
#include "platform/Deadline.h"
#include "platform/MainQueue.h"
#include "platform/NetError.h"
#include "platform/NetRuntime.h"

#include <asio/experimental/as_tuple.hpp>
#include <asio/post.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include <array>
#include <functional>
#include <future>
#include <thread>
#include <vector>

using namespace qb::platform;
using namespace std::chrono_literals;
using qb::test::listenOnLoopback;
using qb::test::runFor;
using qb::test::TestIdentity;

namespace {

constexpr auto kAsTuple = asio::experimental::as_tuple(asio::use_awaitable);

PinCheck pinTo(const Bytes& expectedDer, Bytes* seen = nullptr) {
    return [expectedDer, seen](ByteView leafDer) {
        if (seen != nullptr)
            seen->assign(leafDer.begin(), leafDer.end());
        return Bytes(leafDer.begin(), leafDer.end()) == expectedDer;
    };
}

struct ServiceResolverReset {
    ~ServiceResolverReset() { setServiceResolver({}); }
};

}  // namespace

// The listener here is hand-made so the test can see what the server side of a refused handshake got.
struct RefusedHandshake {
    std::error_code clientError;
    bool clientKeyRejected = false;
    std::error_code serverHandshake;
    std::error_code serverRead;
    std::size_t serverBytes = 0;
};

asio::awaitable<RefusedHandshake> handshakeAgainst(asio::io_context& io, TlsContext serverTls, PinnedTls clientTls) {
    RefusedHandshake result;
    auto acceptor = listenOnLoopback(io);
    // The server side moves this to the past once it has seen the end of its connection, whether or not
    // the client is already waiting.
    asio::steady_timer serverDone(io, 5s);
    acceptor->start([&](Stream plain) {
        asio::co_spawn(
            io,
            [&, stream = Stream(std::move(plain.tcpSocket()), serverTls)]() mutable -> asio::awaitable<void> {
                result.serverHandshake = co_await stream.handshakeAsServer(5s);
                std::array<std::uint8_t, 64> buffer{};
                const auto read = co_await stream.readSome(buffer, 5s);
                result.serverRead = read.error;
                result.serverBytes = read.size;
                serverDone.expires_at(asio::steady_timer::time_point::min());
            },
            asio::detached);
    });
    auto [error, stream] = co_await connect(HostPort{"127.0.0.1", acceptor->port()}, std::move(clientTls), 5s);
    result.clientError = error;
    result.clientKeyRejected = stream.keyRejected();
    if (!error)
        co_await stream.writeAll(asBytes("header"), 5s);
    stream.close();
    co_await serverDone.async_wait(kAsTuple);
    acceptor->cancel();
    co_return result;
}

// A pin that fails, throws or is missing is a rejected key; a listener that offers only TLS 1.2 is refused before
// any pin is asked. Either way the server never completes the handshake nor sees an application byte.
TEST(StreamTest, RefusedHandshakesEndBeforeAnyApplicationByte) {
    asio::io_context io;
    const auto listener = TestIdentity::make();
    const auto other = TestIdentity::make();
    auto tls12 = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
    SSL_CTX_use_certificate_ASN1(tls12->native_handle(), static_cast<int>(listener.certificateDer.size()),
                                 listener.certificateDer.data());
    SSL_CTX_use_PrivateKey(tls12->native_handle(), listener.key.native());
    SSL_CTX_set_max_proto_version(tls12->native_handle(), TLS1_2_VERSION);
    bool pinAsked = false;

    const struct {
        const char* name;
        TlsContext server;
        PinCheck pin;
        bool keyRejected;
    } rows[] = {
        {"mismatch", listener.serverContext(), pinTo(other.certificateDer), true},
        {"throws", listener.serverContext(), [](ByteView) -> bool { throw std::runtime_error("x"); }, true},
        {"missing", listener.serverContext(), PinCheck{}, true},
        {"TLS 1.2 only listener", tls12, [&](ByteView) { return pinAsked = true; }, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto result = runFor(io, handshakeAgainst(io, row.server, PinnedTls(row.pin)));
        ASSERT_TRUE(result);
        EXPECT_TRUE(result->clientError);
        EXPECT_EQ(result->clientError == NetError::peerKeyRejected, row.keyRejected) << result->clientError.message();
        EXPECT_EQ(result->clientKeyRejected, row.keyRejected);
        EXPECT_TRUE(result->serverHandshake) << "the server must not complete a refused handshake";
        EXPECT_EQ(result->serverBytes, 0U);
    }
    EXPECT_FALSE(pinAsked);
}

TEST(StreamTest, OurListenerRefusesATls12OnlyClient) {
    asio::io_context io;
    const auto listener = TestIdentity::make();
    auto acceptor = listenOnLoopback(io, listener.serverContext());
    int connections = 0;
    acceptor->start([&](Stream) { ++connections; });

    asio::ssl::context tls12(asio::ssl::context::tls_client);
    SSL_CTX_set_max_proto_version(tls12.native_handle(), TLS1_2_VERSION);
    tls12.set_verify_mode(asio::ssl::verify_none);
    auto attempt = [&]() -> asio::awaitable<std::error_code> {
        asio::ssl::stream<asio::ip::tcp::socket> client(io, tls12);
        auto [connectError] = co_await client.next_layer().async_connect(
            {asio::ip::make_address("127.0.0.1"), acceptor->port()}, kAsTuple);
        if (connectError)
            co_return connectError;
        auto [handshakeError] = co_await client.async_handshake(asio::ssl::stream_base::client, kAsTuple);
        co_return handshakeError;
    };
    const auto error = runFor(io, attempt());
    ASSERT_TRUE(error);
    EXPECT_TRUE(*error);
    EXPECT_EQ(connections, 0);
}

// What a connection's client side sees for each way its listener's side behaves, over pinned TLS (1.3 on both sides,
// the pin shown the leaf) and some over plain TCP. OpenSSL drives the socket itself here, so the bulk case crosses
// many records and partial writes and ends with EOF after a graceful close, and the others check that every end is
// a value: a reset peer (with no SIGPIPE to kill the process), a silent peer under a time limit, a close from another
// handler while a read waits. A cancelled acceptor then refuses connections.
TEST(StreamTest, BulkArrivesIntactAndEveryWayOfEndingIsAValue) {
    constexpr std::size_t kPiece = (1 << 20) + 7;
    Bytes bulk(6 * kPiece + 13);
    for (std::size_t i = 0; i < bulk.size(); ++i)
        bulk[i] = static_cast<std::uint8_t>(i * 131 + i / 4099);
    const Bytes large(16 << 20, 0x5a);

    enum class Listener { readsAllThenAnswers, resetsAtOnce, staysSilent };
    struct Case {
        const char* name;
        Listener listener;
        std::function<asio::awaitable<void>(Stream&)> client;
        bool plain = false;
    };
    const auto silentPeerTimesOut = [](Stream& stream) -> asio::awaitable<void> {
        std::array<std::uint8_t, 8> into{};
        EXPECT_EQ((co_await stream.readSome(into, 200ms)).error, asio::error::timed_out);
        EXPECT_FALSE(stream.isOpen());
        EXPECT_EQ((co_await stream.readFull(into, 1s)).error, asio::error::not_connected);
        EXPECT_EQ(co_await stream.writeAll(asBytes("late"), 1s), asio::error::not_connected);
    };
    const auto sendsBulk = [&](Stream& stream) -> asio::awaitable<void> {
        EXPECT_FALSE(co_await stream.writeAll(bulk, 10s));
        const auto answer = co_await stream.readExactly(2, 10s);
        EXPECT_EQ(toString(answer.bytes), "OK") << answer.error.message();
        std::array<std::uint8_t, 8> rest{};
        EXPECT_EQ((co_await stream.readSome(rest, 5s)).error, asio::error::eof);
    };
    const std::vector<Case> cases = {
        {"bulk", Listener::readsAllThenAnswers, sendsBulk},
        {"bulk, plain TCP", Listener::readsAllThenAnswers, sendsBulk, true},
        {"reset", Listener::resetsAtOnce,
         [&](Stream& stream) -> asio::awaitable<void> {
             const auto error = co_await stream.writeAll(large, 10s);
             EXPECT_TRUE(error == asio::error::connection_reset || error == asio::error::broken_pipe)
                 << error.message();
         }},
        {"time limit", Listener::staysSilent, silentPeerTimesOut},
        {"time limit, plain TCP", Listener::staysSilent, silentPeerTimesOut, true},
        {"closed while reading", Listener::staysSilent,
         [&](Stream& stream) -> asio::awaitable<void> {
             asio::steady_timer closer(co_await asio::this_coro::executor, 100ms);
             closer.async_wait([&](std::error_code) { stream.close(); });
             std::array<std::uint8_t, 8> into{};
             EXPECT_EQ((co_await stream.readFull(into)).error, asio::error::operation_aborted);
             stream.close();
         }},
    };

    for (const auto& scenario : cases) {
        SCOPED_TRACE(scenario.name);
        asio::io_context io;
        const auto identity = TestIdentity::make();
        auto acceptor = listenOnLoopback(io, scenario.plain ? TlsContext{} : identity.serverContext());
        std::vector<std::shared_ptr<Stream>> held;
        const auto version = scenario.plain ? std::nullopt : std::optional<std::uint16_t>(772);
        acceptor->start([&](Stream accepted) {
            EXPECT_EQ(accepted.negotiatedTlsVersion(), version);
            auto stream = std::make_shared<Stream>(std::move(accepted));
            held.push_back(stream);
            if (scenario.listener == Listener::resetsAtOnce)
                stream->abort();
            if (scenario.listener != Listener::readsAllThenAnswers)
                return;
            asio::co_spawn(
                io,
                [&, stream]() -> asio::awaitable<void> {
                    Bytes received(bulk.size());
                    for (std::size_t at = 0; at < received.size(); at += kPiece) {
                        const auto piece = std::span(received).subspan(at, std::min(kPiece, received.size() - at));
                        EXPECT_FALSE((co_await stream->readFull(piece, 10s)).error);
                    }
                    EXPECT_TRUE(received == bulk);
                    co_await stream->writeAll(asBytes("OK"), 5s);
                    co_await stream->closeGracefully(5s);
                },
                asio::detached);
        });
        const auto finished = runFor(io, [&]() -> asio::awaitable<bool> {
            Bytes seenLeaf;
            const auto pin =
                scenario.plain ? std::nullopt : std::optional(PinnedTls(pinTo(identity.certificateDer, &seenLeaf)));
            auto [error, ours] = co_await connect(HostPort{"127.0.0.1", acceptor->port()}, pin, 5s);
            EXPECT_FALSE(error) << error.message();
            EXPECT_EQ(ours.negotiatedTlsVersion(), version);
            EXPECT_EQ(seenLeaf, scenario.plain ? Bytes{} : identity.certificateDer);
            if (!error)
                co_await scenario.client(ours);
            acceptor->cancel();
            for (const auto& theirs : held)
                theirs->close();
            EXPECT_EQ((co_await connect(HostPort{"127.0.0.1", acceptor->port()}, pin, 5s)).error,
                      asio::error::connection_refused);
            co_return true;
        }());
        EXPECT_TRUE(finished);
        EXPECT_EQ(held.size(), 1u);
    }
}

TEST(DeadlineTest, DisarmedOrDestroyedDeadlineNeverFires) {
    asio::io_context io;
    int fired = 0;
    {
        Deadline destroyed(io.get_executor(), 0ms, [&] { ++fired; });
    }
    Deadline disarmed(io.get_executor(), 0ms, [&] { ++fired; });
    disarmed.disarm();
    Deadline unlimited(io.get_executor(), kNoTimeLimit, [&] { ++fired; });
    Deadline firing(io.get_executor(), 0ms, [&] { ++fired; });
    io.run_for(5s);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(firing.expired());
    EXPECT_FALSE(disarmed.expired());
    EXPECT_FALSE(unlimited.expired());
}

TEST(ConnectTest, ServiceEndpointUsesTheInstalledResolverFailsClearlyWithoutOneAndWithinTheLimit) {
    asio::io_context io;
    const ServiceResolverReset reset;
    const ServiceEndpoint service{"Desk", "_quobblefin._tcp", "local", 0};

    const auto withoutResolver = runFor(io, connect(service, std::nullopt, 1s));
    ASSERT_TRUE(withoutResolver);
    EXPECT_EQ(withoutResolver->error, NetError::serviceUnresolvable);

    auto acceptor = listenOnLoopback(io);
    acceptor->start([](Stream) {});
    std::thread answering;
    setServiceResolver([&](const ServiceEndpoint& asked, ServiceResolved done) {
        EXPECT_EQ(asked, service);
        // Discovery answers from its own thread.
        answering = std::thread([done, port = acceptor->port()] {
            done({}, {asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), port)});
        });
    });
    const auto resolved = runFor(io, connect(service, std::nullopt, 5s));
    answering.join();
    ASSERT_TRUE(resolved);
    EXPECT_FALSE(resolved->error) << resolved->error.message();
    EXPECT_TRUE(resolved->stream.isOpen());

    setServiceResolver([](const ServiceEndpoint&, ServiceResolved done) { done({}, {}); });
    const auto empty = runFor(io, connect(service, std::nullopt, 5s));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->error, NetError::serviceUnresolvable);

    // The connect limit covers a resolver that never answers.
    ServiceResolved kept;
    setServiceResolver([&](const ServiceEndpoint&, ServiceResolved done) { kept = std::move(done); });

    const auto result = runFor(io, connect(service, std::nullopt, 50ms));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->error, asio::error::timed_out);
    // A late answer finds the connection attempt gone: even addresses of a live listener lead nowhere.
    auto late = listenOnLoopback(io);
    int connections = 0;
    late->start([&](Stream) { ++connections; });
    kept({}, {asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), late->port())});
    io.restart();
    io.run_for(200ms);
    EXPECT_EQ(connections, 0);
}

// An IPv6 loopback listener, and the default one (dual-stack) taking an IPv4 client.
TEST(ConnectTest, Ipv6LoopbackAndDefaultListenerConnect) {
    for (const bool v6 : {true, false}) {
        SCOPED_TRACE(v6 ? "::1" : "default listener, IPv4 client");
        asio::io_context io;
        Acceptor::Options options;
        if (v6)
            options.bindAddress = asio::ip::make_address("::1");
        auto [error, acceptor] = Acceptor::open(io.get_executor(), options);
        if (error && v6)
            continue;  // no IPv6 loopback here
        ASSERT_FALSE(error) << error.message();
        int connections = 0;
        acceptor->start([&](Stream) {
            ++connections;
            io.stop();
        });

        auto result = runFor(io, connect(HostPort{v6 ? "::1" : "127.0.0.1", acceptor->port()}, std::nullopt, 5s));
        ASSERT_TRUE(result);
        ASSERT_FALSE(result->error) << result->error.message();
        EXPECT_EQ(result->stream.tcpSocket().remote_endpoint().address().is_v6(), v6);
        if (connections == 0) {
            io.restart();
            io.run_for(5s);
        }
        EXPECT_EQ(connections, 1);
    }
}

TEST(NetRuntimeTest, TransferOnPoolStrandsAndMainQueueHop) {
    NetRuntime runtime(2);
    auto serverStrand = runtime.makeStrand();
    auto [error, acceptor] = Acceptor::open(serverStrand, {asio::ip::make_address("127.0.0.1"), 0, {}, 5s, nullptr});
    ASSERT_FALSE(error);
    acceptor->start([](Stream stream) {
        auto executor = stream.executor();
        asio::co_spawn(
            executor,
            [stream = std::move(stream)]() mutable -> asio::awaitable<void> {
                co_await stream.writeAll(asBytes("GO\n"), 5s);
                co_await stream.closeGracefully(1s);
            },
            asio::detached);
    });

    auto mainStrand = runtime.makeStrand();
    const auto mainQueue = MainQueue::onExecutor(mainStrand);
    std::promise<std::string> reply;
    auto client = [&, port = acceptor->port()]() -> asio::awaitable<void> {
        auto [connectError, stream] = co_await connect(HostPort{"127.0.0.1", port}, std::nullopt, 5s);
        auto [readError, bytes] = co_await stream.readExactly(3, 5s);
        std::string text = connectError ? connectError.message() : readError ? readError.message() : toString(bytes);
        mainQueue.post([&reply, text, onMain = mainStrand] {
            reply.set_value(onMain.running_in_this_thread() ? text : "wrong thread");
        });
    };
    asio::co_spawn(runtime.makeStrand(), client(), asio::detached);

    auto future = reply.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(future.get(), "GO\n");

    bool ranOnMain = false;
    mainQueue.sync([&] { ranOnMain = mainStrand.running_in_this_thread(); });
    EXPECT_TRUE(ranOnMain);
    asio::post(serverStrand, [acceptor = acceptor] { acceptor->cancel(); });
    runtime.stop();
    runtime.stop();
}
