#include "platform/Stream.h"
#include "platform/AsTuple.h"

#include "platform/NetError.h"
#include "platform/detail/PinState.h"

#include <asio/post.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <type_traits>

namespace qb::platform {
namespace {

// How much a graceful close reads and drops while it waits for the peer to close its side.
constexpr std::size_t kMaxDrainBytes = 1 << 20;

void setTcpOption(asio::ip::tcp::socket& socket, int option, int value) {
    ::setsockopt(socket.native_handle(), IPPROTO_TCP, option, &value, sizeof value);
}

}  // namespace

void enableKeepAlive(asio::ip::tcp::socket& socket) {
    std::error_code ignored;
    socket.set_option(asio::socket_base::keep_alive(true), ignored);
    if (!socket.is_open())
        return;
    // First probe after 30 s of silence, then every 10 s; three unanswered probes end the connection.
    setTcpOption(socket, TCP_KEEPIDLE, 30);
    setTcpOption(socket, TCP_KEEPINTVL, 10);
    setTcpOption(socket, TCP_KEEPCNT, 3);
}

Stream::Stream() = default;

Stream::Stream(TcpSocket socket) : transport_(std::in_place_type<TcpSocket>, std::move(socket)) {}

Stream::Stream(TcpSocket socket, TlsContext context)
    : transport_(std::in_place_type<TlsSocket>,
                 TlsSocket{std::move(socket), detail::TlsSession(context->native_handle())}),
      tlsContext_(std::move(context)),
      pinState_(std::make_unique<detail::PinState>()) {}

Stream::Stream(Stream&& other) noexcept
    : transport_(std::move(other.transport_)),
      tlsContext_(std::move(other.tlsContext_)),
      pinState_(std::move(other.pinState_)) {
    other.transport_.emplace<std::monostate>();
}

Stream& Stream::operator=(Stream&& other) noexcept {
    if (this != &other) {
        transport_ = std::move(other.transport_);
        tlsContext_ = std::move(other.tlsContext_);
        pinState_ = std::move(other.pinState_);
        other.transport_.emplace<std::monostate>();
    }
    return *this;
}

Stream::~Stream() = default;

bool Stream::isOpen() const {
    if (const auto* tls = std::get_if<TlsSocket>(&transport_))
        return tls->socket.is_open();
    if (const auto* tcp = std::get_if<TcpSocket>(&transport_))
        return tcp->is_open();
    return false;
}

bool Stream::isTls() const {
    return std::holds_alternative<TlsSocket>(transport_);
}

asio::any_io_executor Stream::executor() {
    return tcpSocket().get_executor();
}

Stream::TcpSocket& Stream::tcpSocket() {
    if (auto* tls = std::get_if<TlsSocket>(&transport_))
        return tls->socket;
    if (auto* tcp = std::get_if<TcpSocket>(&transport_))
        return *tcp;
    throw std::logic_error("Stream holds no socket");
}

bool Stream::keyRejected() const {
    return pinState_ && pinState_->rejected;
}

std::optional<std::uint16_t> Stream::negotiatedTlsVersion() const {
    const auto* tls = std::get_if<TlsSocket>(&transport_);
    if (tls == nullptr)
        return std::nullopt;
    SSL* ssl = tls->session.native();
    if (ssl == nullptr || SSL_is_init_finished(ssl) != 1)
        return std::nullopt;
    return static_cast<std::uint16_t>(SSL_version(ssl));
}

template <typename Action>
asio::awaitable<std::error_code> Stream::run(Duration limit, Action action) {
    if (!isOpen())
        co_return asio::error::not_connected;
    Deadline deadline(executor(), limit, [this] { close(); });
    std::error_code error;
    if (auto* tls = std::get_if<TlsSocket>(&transport_))
        error = co_await action(*tls);
    else
        error = co_await action(std::get<TcpSocket>(transport_));
    if (deadline.expired())
        co_return asio::error::timed_out;
    co_return error;
}

// Operations that the socket's buffers serve at once still let the strand run what was queued meanwhile (a cancel, a
// deadline, another connection) once they have held it for a couple of milliseconds, so that a fast peer cannot hold
// the strand. Each yield costs a round through the scheduler and usually a wake-up of the pool's other thread, which
// then carries the connection on: a yield per 1 MiB piece moved a full-speed transfer between the threads for every
// piece.
bool Stream::heldTooLong() const {
    constexpr auto kLongestHold = std::chrono::milliseconds(2);
    return std::chrono::steady_clock::now() - strandHeldSince_ >= kLongestHold;
}

// Each call is tried at once and waits only when the socket cannot serve it yet. Data already in the socket's
// buffers (the common case while a transfer runs at full speed) thus costs no round through the reactor and the
// scheduler, which with the pool's two threads would also mean waking the other thread for every piece.
template <typename StepCall>
asio::awaitable<std::error_code> Stream::drive(StepCall step) {
    TcpSocket& socket = tcpSocket();
    for (;;) {
        // Whatever closes the socket does so while this waits (the strand runs nothing else meanwhile), and the
        // wait then ends with operation_aborted: no call reaches a closed descriptor.
        if (!socket.is_open())
            co_return asio::error::operation_aborted;
        const detail::Step outcome = step();
        if (outcome.want == detail::Want::nothing) {
            if (heldTooLong()) {
                co_await asio::post(co_await asio::this_coro::executor, asio::use_awaitable);
                strandHeldSince_ = std::chrono::steady_clock::now();
            }
            co_return outcome.error;
        }
        const auto wait =
            outcome.want == detail::Want::readable ? asio::socket_base::wait_read : asio::socket_base::wait_write;
        auto [waitError] = co_await socket.async_wait(wait, kAsTuple);
        strandHeldSince_ = std::chrono::steady_clock::now();
        if (waitError)
            co_return waitError;
    }
}

asio::awaitable<std::error_code> Stream::handshake(bool asClient, Duration limit) {
    co_return co_await run(limit, [&](auto& transport) -> asio::awaitable<std::error_code> {
        if constexpr (std::is_same_v<std::decay_t<decltype(transport)>, TlsSocket>) {
            std::error_code error;
            transport.socket.non_blocking(true, error);
            if (error)
                co_return error;
            if (!transport.session.attach(transport.socket.native_handle()))
                co_return NetError::tlsSetupFailed;
            co_return co_await drive([&] { return transport.session.handshake(asClient); });
        } else {
            co_return std::error_code();
        }
    });
}

asio::awaitable<std::error_code> Stream::handshakeAsClient(PinCheck pin, Duration limit) {
    auto* tls = std::get_if<TlsSocket>(&transport_);
    if (tls == nullptr)
        co_return isOpen() ? std::error_code() : asio::error::not_connected;
    pinState_->pin = std::move(pin);
    if (tls->session.native() == nullptr || !detail::attachPinState(tls->session.native(), pinState_.get()))
        co_return NetError::tlsSetupFailed;
    const std::error_code error = co_await handshake(true, limit);
    // A handshake that ended without the check having accepted (a listener that sent no certificate)
    // counts as a refusal too: nothing may go out over an unverified channel.
    if (pinState_->rejected || (!error && !pinState_->accepted)) {
        pinState_->rejected = true;
        close();
        co_return NetError::peerKeyRejected;
    }
    if (error)
        close();
    co_return error;
}

asio::awaitable<std::error_code> Stream::handshakeAsServer(Duration limit) {
    if (!isTls())
        co_return isOpen() ? std::error_code() : asio::error::not_connected;
    const std::error_code error = co_await handshake(false, limit);
    if (error)
        close();
    co_return error;
}

template <typename Socket>
asio::awaitable<std::error_code> Stream::readInto(Socket& socket, std::span<std::uint8_t> into, bool whole,
                                                  std::size_t& size) {
    size = 0;
    if (into.empty())
        co_return std::error_code();
    const auto readOnce = [&](std::size_t done) {
        if constexpr (std::is_same_v<Socket, TlsSocket>)
            return socket.session.read(into.subspan(done));
        else
            return detail::receiveNow(socket.native_handle(), into.subspan(done));
    };
    co_return co_await drive([&] { return detail::repeatUntil(whole ? into.size() : 1, size, readOnce); });
}

template <typename Socket>
asio::awaitable<std::error_code> Stream::writeFrom(Socket& socket, ByteView bytes) {
    std::size_t written = 0;
    if (bytes.empty())
        co_return std::error_code();
    const auto writeOnce = [&](std::size_t done) {
        if constexpr (std::is_same_v<Socket, TlsSocket>)
            return socket.session.write(bytes.subspan(done));
        else
            return detail::sendNow(socket.native_handle(), bytes.subspan(done));
    };
    co_return co_await drive([&] { return detail::repeatUntil(bytes.size(), written, writeOnce); });
}

asio::awaitable<ReadResult> Stream::readSome(std::span<std::uint8_t> into, Duration limit) {
    std::size_t size = 0;
    const auto error = co_await run(limit, [&](auto& transport) { return readInto(transport, into, false, size); });
    co_return ReadResult{error, size};
}

asio::awaitable<ReadResult> Stream::readFull(std::span<std::uint8_t> into, Duration limit) {
    std::size_t size = 0;
    const auto error = co_await run(limit, [&](auto& transport) { return readInto(transport, into, true, size); });
    co_return ReadResult{error, size};
}

asio::awaitable<BytesResult> Stream::readExactly(std::size_t count, Duration limit) {
    BytesResult result;
    result.bytes.resize(count);
    std::size_t size = 0;
    result.error = co_await run(limit, [&](auto& transport) { return readInto(transport, result.bytes, true, size); });
    if (result.error)
        result.bytes.clear();
    co_return result;
}

asio::awaitable<std::error_code> Stream::writeAll(ByteView bytes, Duration limit) {
    co_return co_await run(limit, [&](auto& transport) { return writeFrom(transport, bytes); });
}

asio::awaitable<void> Stream::closeGracefully(Duration limit) {
    if (!isOpen())
        co_return;
    Deadline deadline(executor(), limit, [this] { close(); });
    if (auto* tls = std::get_if<TlsSocket>(&transport_)) {
        if (tls->session.native() != nullptr && SSL_is_init_finished(tls->session.native()) == 1)
            co_await drive([tls] { return tls->session.shutdown(); });
    } else {
        // Half-close, then read until the peer closes too: closing with its bytes still unread would
        // reset the connection and could destroy our last reply before the peer has read it.
        auto& socket = std::get<TcpSocket>(transport_);
        std::error_code ignored;
        socket.shutdown(asio::socket_base::shutdown_send, ignored);
        std::array<std::uint8_t, 4096> sink{};
        for (std::size_t drained = 0; drained < kMaxDrainBytes && socket.is_open();) {
            auto [readError, readSize] = co_await socket.async_read_some(asio::buffer(sink), kAsTuple);
            if (readError)
                break;
            drained += readSize;
        }
    }
    close();
}

void Stream::close() {
    if (!isOpen())
        return;
    forgetDescriptor();
    std::error_code ignored;
    tcpSocket().close(ignored);
}

void Stream::forgetDescriptor() {
    if (auto* tls = std::get_if<TlsSocket>(&transport_))
        tls->session.forgetDescriptor();
}

void Stream::abort() {
    if (!isOpen())
        return;
    std::error_code ignored;
    // A zero linger time makes the close a reset.
    tcpSocket().set_option(asio::socket_base::linger(true, 0), ignored);
    forgetDescriptor();
    tcpSocket().close(ignored);
}

Stream::Readiness Stream::peek() {
    if (!isOpen())
        return Readiness::readable;
    std::uint8_t byte = 0;
    const auto peeked = ::recv(tcpSocket().native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked >= 0)
        return Readiness::readable;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Readiness::quiet : Readiness::reset;
}

}  // namespace qb::platform
