#include "platform/Acceptor.h"
#include "platform/AsTuple.h"

#include <asio/co_spawn.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include <cerrno>
#include <exception>

#include "platform/Contained.h"

namespace qb::platform {
namespace {

// When the process runs out of descriptors or memory, accepting again at once would spin; waiting a
// little lets finished connections give theirs back.
constexpr auto kPauseWhenExhausted = std::chrono::milliseconds(500);

std::error_code listenOn(asio::ip::tcp::acceptor& acceptor, const asio::ip::tcp::endpoint& endpoint, bool dualStack) {
    std::error_code error;
    acceptor.open(endpoint.protocol(), error);
    if (!error && dualStack)
        acceptor.set_option(asio::ip::v6_only(false), error);
    if (!error)
        acceptor.bind(endpoint, error);
    if (!error)
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        std::error_code ignored;
        acceptor.close(ignored);
    }
    return error;
}

bool isResourceExhaustion(const std::error_code& error) {
    if (error.category() != std::system_category() && error.category() != asio::error::get_system_category())
        return false;
    const int value = error.value();
    return value == EMFILE || value == ENFILE || value == ENOBUFS || value == ENOMEM;
}

// Errors that concern only the one connection that was being accepted.
bool isPerConnection(const std::error_code& error) {
    return error == asio::error::connection_aborted || error == asio::error::connection_reset ||
           error == std::errc::protocol_error;
}

}  // namespace

Acceptor::OpenResult Acceptor::open(asio::any_io_executor executor, Options options) {
    asio::ip::tcp::acceptor acceptor(executor);
    std::error_code error;
    if (options.bindAddress) {
        error = listenOn(acceptor, {*options.bindAddress, options.port}, false);
    } else {
        error = listenOn(acceptor, {asio::ip::tcp::v6(), options.port}, true);
        if (error)
            error = listenOn(acceptor, {asio::ip::tcp::v4(), options.port}, false);
    }
    if (error)
        return {error, nullptr};
    auto opened = std::make_shared<Acceptor>(std::move(executor), std::move(options), std::move(acceptor));
    return {{}, std::move(opened)};
}

Acceptor::Acceptor(asio::any_io_executor executor, Options options, asio::ip::tcp::acceptor acceptor)
    : executor_(std::move(executor)), options_(std::move(options)), acceptor_(std::move(acceptor)) {
    std::error_code error;
    const auto local = acceptor_.local_endpoint(error);
    port_ = error ? 0 : local.port();
}

void Acceptor::start(OnConnection onConnection, OnError onError) {
    asio::co_spawn(executor_, acceptLoop(shared_from_this(), std::move(onConnection), std::move(onError)),
                   reportEscapes("accept loop"));
}

void Acceptor::cancel() {
    std::error_code ignored;
    acceptor_.close(ignored);
}

asio::awaitable<void> Acceptor::acceptLoop(std::shared_ptr<Acceptor> self, OnConnection onConnection, OnError onError) {
    // Each turn waits for a connection or for cancel(); the loop ends with the listening socket.
    while (self->acceptor_.is_open()) {
        auto [error, socket] = co_await self->acceptor_.async_accept(kAsTuple);
        if (error == asio::error::operation_aborted || !self->acceptor_.is_open())
            co_return;
        if (isResourceExhaustion(error)) {
            asio::steady_timer pause(self->executor_, kPauseWhenExhausted);
            co_await pause.async_wait(kAsTuple);
            continue;
        }
        if (isPerConnection(error))
            continue;
        if (error) {
            self->cancel();
            if (onError)
                contained("accept error handler", [&] { onError(error); });
            co_return;
        }
        enableKeepAlive(socket);
        if (!self->options_.tls) {
            // A connection handler that throws loses its own connection, never the listener.
            contained("connection handler", [&] { onConnection(Stream(std::move(socket))); });
            continue;
        }
        asio::co_spawn(self->executor_,
                       handshake(Stream(std::move(socket), self->options_.tls), self->options_.handshakeLimit,
                                 self->options_.waiting, onConnection),
                       reportEscapes("TLS handshake"));
    }
}

asio::awaitable<void> Acceptor::handshake(Stream stream, Duration limit, std::shared_ptr<WaitingConnections> waiting,
                                          OnConnection onConnection) {
    WaitingConnections::Ticket place;
    if (waiting) {
        std::error_code unknown;
        const auto peer = stream.tcpSocket().remote_endpoint(unknown);
        place = waiting->admit(peer.address(), [&stream] { stream.close(); });
    }
    if (const auto error = co_await stream.handshakeAsServer(limit))
        co_return;
    // The place is given up before the owner takes the connection, so that it may take one of its own.
    place.release();
    onConnection(std::move(stream));
}

}  // namespace qb::platform
