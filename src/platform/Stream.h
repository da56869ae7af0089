#pragma once

#include "platform/Bytes.h"
#include "platform/Deadline.h"
#include "platform/TlsContext.h"
#include "platform/detail/TlsSession.h"

#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <system_error>
#include <variant>

namespace qb::platform {

namespace detail {
struct PinState;
}

struct ReadResult {
    std::error_code error;
    std::size_t size = 0;
};

struct BytesResult {
    std::error_code error;
    Bytes bytes;
};

// One connection, plain TCP or TLS over TCP, so that the sending and the listening side each have one
// code path for both. A default-constructed Stream holds no connection; its operations fail with
// asio::error::not_connected.
//
// All operations must be used from the strand the socket was made on (the coroutine's executor). Expected
// failures come back as values. Every operation takes a time limit; when it runs out the connection is
// closed and the result is asio::error::timed_out. The end of the stream is asio::error::eof for both
// kinds (a TLS peer that closes without its close_notify also gives eof: the protocol above delimits its
// own messages).
class Stream {
public:
    using TcpSocket = asio::ip::tcp::socket;

    Stream();
    // Plain TCP over a connected (or not yet connected) socket.
    explicit Stream(TcpSocket socket);
    // TLS over the socket; the handshake is still to be made.
    Stream(TcpSocket socket, TlsContext context);
    Stream(Stream&&) noexcept;
    Stream& operator=(Stream&&) noexcept;
    ~Stream();

    bool isOpen() const;
    bool isTls() const;
    asio::any_io_executor executor();
    TcpSocket& tcpSocket();

    // The connecting side's handshake: the listener's certificate must pass `pin`. A refusal fails the
    // handshake itself (nothing of ours is sent afterwards), sets keyRejected() and gives
    // NetError::peerKeyRejected. No-op success on a plain Stream.
    asio::awaitable<std::error_code> handshakeAsClient(PinCheck pin, Duration limit);
    // The listening side's handshake. No-op success on a plain Stream.
    asio::awaitable<std::error_code> handshakeAsServer(Duration limit);

    // True once the pin check refused the listener's certificate; never goes back to false.
    bool keyRejected() const;
    // The negotiated protocol version as its 16-bit code (0x0304 = 772 for TLS 1.3) after a successful
    // handshake; none on a plain Stream.
    std::optional<std::uint16_t> negotiatedTlsVersion() const;

    // Reads at least one and at most into.size() bytes.
    asio::awaitable<ReadResult> readSome(std::span<std::uint8_t> into, Duration limit = kNoTimeLimit);
    // Fills `into` completely in one operation, however the network splits the bytes; fewer only with an
    // error (size says how many arrived). Cheaper than a readSome loop: one wake-up per buffer, not per record.
    asio::awaitable<ReadResult> readFull(std::span<std::uint8_t> into, Duration limit = kNoTimeLimit);
    // Reads exactly `count` bytes; anything less is an error. The caller bounds `count`.
    asio::awaitable<BytesResult> readExactly(std::size_t count, Duration limit = kNoTimeLimit);
    asio::awaitable<std::error_code> writeAll(ByteView bytes, Duration limit = kNoTimeLimit);

    // Ends the connection politely: TLS close_notify (waiting at most `limit` for the peer's), then the
    // TCP shutdown and close. Pending reads of the peer see the end of the stream.
    asio::awaitable<void> closeGracefully(Duration limit);
    // Ends the connection at once: pending operations complete with operation_aborted. Idempotent.
    void close();
    // Ends the connection at once with a reset rather than an orderly end, so the peer can tell a connection
    // given up from one that finished sending. Idempotent.
    void abort();
    // What a readable-looking connection holds, read without consuming and without waiting. `quiet` is a
    // wake-up with nothing behind it, which the reactor may deliver.
    enum class Readiness { quiet, reset, readable };
    Readiness peek();

private:
    // TLS run by OpenSSL on the socket itself rather than through Asio's buffered engine: each byte is copied once
    // between our buffers and the kernel's, not once more through a buffer pair.
    struct TlsSocket {
        TcpSocket socket;
        detail::TlsSession session;
    };
    using Transport = std::variant<std::monostate, TcpSocket, TlsSocket>;

    // Runs action(transport) on the TCP or the TLS socket within `limit`.
    template <typename Action>
    asio::awaitable<std::error_code> run(Duration limit, Action action);
    // Calls `step` until it finishes, waiting between calls for the socket to become as ready as the step asks. A
    // finished step's size is the whole operation's.
    template <typename StepCall>
    asio::awaitable<std::error_code> drive(StepCall step);
    bool heldTooLong() const;
    asio::awaitable<std::error_code> handshake(bool asClient, Duration limit);
    template <typename Socket>
    asio::awaitable<std::error_code> readInto(Socket& socket, std::span<std::uint8_t> into, bool whole,
                                              std::size_t& size);
    template <typename Socket>
    asio::awaitable<std::error_code> writeFrom(Socket& socket, ByteView bytes);
    void forgetDescriptor();

    Transport transport_;
    TlsContext tlsContext_;
    std::unique_ptr<detail::PinState> pinState_;  // TLS only; its address is bound to the connection
    // When this connection's operations last let its strand run other work.
    std::chrono::steady_clock::time_point strandHeldSince_ = std::chrono::steady_clock::now();
};

// Asks the operating system to notice a peer that vanished without closing within about a minute
// instead of the default two hours. Errors are ignored: the option only shortens a wait.
void enableKeepAlive(asio::ip::tcp::socket& socket);

}  // namespace qb::platform
