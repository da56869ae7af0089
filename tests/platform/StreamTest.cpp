#include "NetTestSupport.h"

#include "platform/Connect.h"
#include "platform/NetError.h"

#include <asio/experimental/as_tuple.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include <array>
#include <functional>
#include <vector>

using namespace qb::platform;
using namespace std::chrono_literals;
using qb::test::listenOnLoopback;
using qb::test::runFor;
using qb::test::TestIdentity;

namespace {

constexpr auto kAsTuple = asio::experimental::as_tuple(asio::use_awaitable);

// Reads a 5-byte message, writes it back, then closes politely.
asio::awaitable<void> echoFive(Stream stream) {
    auto [error, bytes] = co_await stream.readExactly(5, 5s);
    if (!error)
        co_await stream.writeAll(bytes, 5s);
    co_await stream.closeGracefully(1s);
}

struct EchoOutcome {
    std::error_code error;
    Bytes reply;
    std::error_code afterReply;  // what the next read gives once the server has closed
    std::optional<std::uint16_t> tlsVersion;
};

asio::awaitable<EchoOutcome> echoThrough(Endpoint endpoint, std::optional<PinnedTls> tls) {
    auto [error, stream] = co_await connect(std::move(endpoint), std::move(tls), 5s);
    EchoOutcome outcome{error, {}, {}, stream.negotiatedTlsVersion()};
    if (error)
        co_return outcome;
    outcome.error = co_await stream.writeAll(asBytes("hello"), 5s);
    auto [readError, reply] = co_await stream.readExactly(5, 5s);
    outcome.error = outcome.error ? outcome.error : readError;
    outcome.reply = reply;
    std::array<std::uint8_t, 16> rest{};
    outcome.afterReply = (co_await stream.readSome(rest, 5s)).error;
    co_return outcome;
}

PinCheck pinTo(const Bytes& expectedDer, Bytes* seen = nullptr) {
    return [expectedDer, seen](ByteView leafDer) {
        if (seen != nullptr)
            seen->assign(leafDer.begin(), leafDer.end());
        return Bytes(leafDer.begin(), leafDer.end()) == expectedDer;
    };
}

}  // namespace

// Plain, then pinned TLS: the same echo, and only TLS shows the pin the leaf and negotiates 1.3 on both sides.
TEST(StreamTest, EchoEndsWithEofPlainOrPinnedTls13AndACancelledAcceptorRefuses) {
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "tls" : "plain");
        asio::io_context io;
        const auto identity = TestIdentity::make();
        auto acceptor = listenOnLoopback(io, tls ? identity.serverContext() : TlsContext{});
        ASSERT_NE(acceptor->port(), 0);
        std::optional<std::uint16_t> serverVersion;
        acceptor->start([&](Stream stream) {
            serverVersion = stream.negotiatedTlsVersion();
            asio::co_spawn(io, echoFive(std::move(stream)), asio::detached);
        });
        Bytes seenLeaf;
        const auto pin = tls ? std::optional(PinnedTls(pinTo(identity.certificateDer, &seenLeaf))) : std::nullopt;
        const auto outcome = runFor(io, echoThrough(HostPort{"127.0.0.1", acceptor->port()}, pin));
        ASSERT_TRUE(outcome);
        EXPECT_FALSE(outcome->error) << outcome->error.message();
        EXPECT_EQ(toString(outcome->reply), "hello");
        EXPECT_EQ(outcome->afterReply, asio::error::eof);
        const auto version = tls ? std::optional<std::uint16_t>(772) : std::nullopt;
        EXPECT_EQ(outcome->tlsVersion, version);
        EXPECT_EQ(serverVersion, version);
        EXPECT_EQ(seenLeaf, tls ? identity.certificateDer : Bytes{});

        acceptor->cancel();
        const auto refused = runFor(io, echoThrough(HostPort{"127.0.0.1", acceptor->port()}, pin));
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->error, asio::error::connection_refused);
    }
}

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

TEST(StreamTest, APinThatFailsThrowsOrIsMissingRefusesTheHandshakeBeforeAnyApplicationByte) {
    asio::io_context io;
    const auto listener = TestIdentity::make();
    const auto other = TestIdentity::make();
    const std::pair<const char*, PinCheck> pins[] = {
        {"mismatch", pinTo(other.certificateDer)},
        {"throws", [](ByteView) -> bool { throw std::runtime_error("x"); }},
        {"missing", PinCheck{}},
    };
    for (const auto& [name, pin] : pins) {
        SCOPED_TRACE(name);
        const auto result = runFor(io, handshakeAgainst(io, listener.serverContext(), PinnedTls(pin)));
        ASSERT_TRUE(result);
        EXPECT_EQ(result->clientError, NetError::peerKeyRejected);
        EXPECT_TRUE(result->clientKeyRejected);
        EXPECT_TRUE(result->serverHandshake) << "the server must not complete a refused handshake";
        EXPECT_EQ(result->serverBytes, 0U);
    }
}

TEST(StreamTest, OurClientRefusesATls12OnlyListener) {
    asio::io_context io;
    const auto listener = TestIdentity::make();
    auto tls12 = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
    SSL_CTX_use_certificate_ASN1(tls12->native_handle(), static_cast<int>(listener.certificateDer.size()),
                                 listener.certificateDer.data());
    SSL_CTX_use_PrivateKey(tls12->native_handle(), listener.key.native());
    SSL_CTX_set_max_proto_version(tls12->native_handle(), TLS1_2_VERSION);

    bool pinAsked = false;
    const auto result = runFor(io, handshakeAgainst(io, tls12, PinnedTls([&](ByteView) { return pinAsked = true; })));
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->clientError);
    EXPECT_NE(result->clientError, NetError::peerKeyRejected);
    EXPECT_FALSE(result->clientKeyRejected);
    EXPECT_FALSE(pinAsked);
    EXPECT_TRUE(result->serverHandshake);
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

// What a TLS connection's client side sees for each way its listener's side behaves. OpenSSL drives the socket
// itself here, so the bulk case crosses many records and partial writes, and the others check that every end is a
// value: a reset peer (with no SIGPIPE to kill the process), a silent peer under a time limit, a close from another
// handler while a read waits.
TEST(StreamTest, TlsBulkArrivesIntactAndEveryWayOfEndingIsAValue) {
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
    };
    const std::vector<Case> cases = {
        {"bulk", Listener::readsAllThenAnswers,
         [&](Stream& stream) -> asio::awaitable<void> {
             EXPECT_FALSE(co_await stream.writeAll(bulk, 10s));
             const auto answer = co_await stream.readExactly(2, 10s);
             EXPECT_EQ(toString(answer.bytes), "OK") << answer.error.message();
             std::array<std::uint8_t, 8> rest{};
             EXPECT_EQ((co_await stream.readSome(rest, 5s)).error, asio::error::eof);
         }},
        {"reset", Listener::resetsAtOnce,
         [&](Stream& stream) -> asio::awaitable<void> {
             const auto error = co_await stream.writeAll(large, 10s);
             EXPECT_TRUE(error == asio::error::connection_reset || error == asio::error::broken_pipe)
                 << error.message();
         }},
        {"time limit", Listener::staysSilent,
         [&](Stream& stream) -> asio::awaitable<void> {
             std::array<std::uint8_t, 8> into{};
             EXPECT_EQ((co_await stream.readSome(into, 200ms)).error, asio::error::timed_out);
             EXPECT_FALSE(stream.isOpen());
             EXPECT_EQ((co_await stream.readFull(into, 1s)).error, asio::error::not_connected);
             EXPECT_EQ(co_await stream.writeAll(asBytes("late"), 1s), asio::error::not_connected);
         }},
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
        auto acceptor = listenOnLoopback(io, identity.serverContext());
        std::vector<std::shared_ptr<Stream>> held;
        acceptor->start([&](Stream accepted) {
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
            auto [error, ours] = co_await connect(HostPort{"127.0.0.1", acceptor->port()},
                                                  PinnedTls(pinTo(identity.certificateDer)), 5s);
            EXPECT_FALSE(error) << error.message();
            if (!error)
                co_await scenario.client(ours);
            acceptor->cancel();
            for (const auto& theirs : held)
                theirs->close();
            co_return true;
        }());
        EXPECT_TRUE(finished);
    }
}
