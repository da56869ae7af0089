#pragma once

#include "platform/Bytes.h"
#include "platform/detail/SocketStep.h"

#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <system_error>

namespace qb::platform::detail {

// The socket as the session's reads and writes see it.
struct TlsSocketState {
    int descriptor = -1;
    bool ended = false;   // the peer closed its side
    int systemError = 0;  // the last failure of a system call other than "try again"
};

// One TLS connection that OpenSSL runs directly on a non-blocking socket's descriptor, so that records are
// encrypted into and decrypted out of the kernel's buffers without passing through an intermediate buffer pair.
// Each call does as much as the socket allows at once and never blocks; when the socket must first become readable
// or writable it says so, and the caller waits for that and calls again with the same arguments.
class TlsSession {
public:
    // A session with the settings of `context`, not yet bound to a socket. Should OpenSSL be unable to make one,
    // every call fails with NetError::tlsSetupFailed.
    explicit TlsSession(SSL_CTX* context);
    ~TlsSession();
    TlsSession(TlsSession&&) noexcept;
    TlsSession& operator=(TlsSession&&) noexcept;

    // Null when the session could not be made.
    SSL* native() const;

    // Binds the session to the connected socket `descriptor`, which must be non-blocking, before its handshake.
    // False when OpenSSL cannot.
    bool attach(int descriptor);

    Step handshake(bool asClient);
    // Reads at most into.size() bytes; a finished call with no error read at least one.
    Step read(std::span<std::uint8_t> into);
    // Writes a part of `bytes` (at least one record's worth unless it is shorter); the caller loops for the rest.
    Step write(ByteView bytes);
    // Sends our close_notify, then takes the peer's; finished once both have passed. After a fatal error (a broken
    // connection, a protocol failure) there is nothing to end politely, and OpenSSL must not be asked to: finished at
    // once.
    Step shutdown();

    // The descriptor was closed: no later call may reach it, as its number can be given to another file.
    void forgetDescriptor();

private:
    struct SslFree {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
    };

    Step outcomeOf(int result, std::size_t size);

    std::unique_ptr<SSL, SslFree> ssl_;
    std::unique_ptr<TlsSocketState> socket_;  // on the heap, so the BIO's pointer to it survives moves
    bool handshakeStarted_ = false;
    bool failed_ = false;  // a call ended in a fatal error
};

}  // namespace qb::platform::detail
