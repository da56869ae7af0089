#pragma once

#include "platform/Deadline.h"
#include "platform/Stream.h"
#include "platform/TlsContext.h"
#include "platform/WaitingConnections.h"

#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>

namespace qb::platform {

// A TCP listener that hands over each accepted connection as a Stream, after the TLS handshake when it
// was made with a TLS context. Everything (accepting, handshakes, the callbacks) runs on the executor it
// was opened on, which should be the owner's strand.
class Acceptor : public std::enable_shared_from_this<Acceptor> {
public:
    using OnConnection = std::function<void(Stream)>;
    // Accepting stopped for a reason other than cancel(); the acceptor is closed afterwards.
    using OnError = std::function<void(std::error_code)>;

    struct Options {
        // None: every interface, IPv6 dual-stack (IPv4 clients too), or IPv4 alone where the system has no
        // IPv6. Tests give a loopback address.
        std::optional<asio::ip::address> bindAddress;
        std::uint16_t port = 0;  // 0: the system chooses
        TlsContext tls;          // null: plain TCP
        // Bound on each TLS handshake; a client that stalls it is dropped.
        Duration handshakeLimit = std::chrono::seconds(30);
        // Connections in their TLS handshake take a place here until it is done. Null: no cap.
        std::shared_ptr<WaitingConnections> waiting;
    };

    struct OpenResult {
        std::error_code error;
        std::shared_ptr<Acceptor> acceptor;  // null when error is set
    };

    // Binds and listens; does not accept yet.
    static OpenResult open(asio::any_io_executor executor, Options options);

    Acceptor(asio::any_io_executor executor, Options options, asio::ip::tcp::acceptor acceptor);
    Acceptor(const Acceptor&) = delete;
    Acceptor& operator=(const Acceptor&) = delete;

    // The bound port.
    std::uint16_t port() const { return port_; }
    bool isTls() const { return options_.tls != nullptr; }

    // Starts the accept loop. The loop holds the acceptor until it ends. onConnection is called once per
    // connection that completed its handshake; connections that fail it are closed and not reported.
    void start(OnConnection onConnection, OnError onError = {});
    // Closes the listening socket; the loop ends. Accepted connections are not affected. Call it on the
    // acceptor's executor (or post it there).
    void cancel();

private:
    static asio::awaitable<void> acceptLoop(std::shared_ptr<Acceptor> self, OnConnection onConnection, OnError onError);
    static asio::awaitable<void> handshake(Stream stream, Duration limit, std::shared_ptr<WaitingConnections> waiting,
                                           OnConnection onConnection);

    asio::any_io_executor executor_;
    Options options_;
    asio::ip::tcp::acceptor acceptor_;
    std::uint16_t port_ = 0;
};

}  // namespace qb::platform
