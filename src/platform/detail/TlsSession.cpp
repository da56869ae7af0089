#include "platform/detail/TlsSession.h"

#include "platform/NetError.h"

#include <asio/error.hpp>
#include <asio/ssl/error.hpp>

#include <openssl/bio.h>
#include <openssl/err.h>

#include <sys/socket.h>

#include <cerrno>
#include <climits>
#include <cstdint>

namespace qb::platform::detail {
namespace {

TlsSocketState& stateOf(BIO* bio) {
    return *static_cast<TlsSocketState*>(BIO_get_data(bio));
}

bool isRetryable(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE when the peer has gone; these send with
// MSG_NOSIGNAL instead, as Asio does, and keep what they saw beside the session.
int receiveFromSocket(BIO* bio, char* into, int size) {
    auto& state = stateOf(bio);
    BIO_clear_retry_flags(bio);
    ssize_t got = 0;
    do {
        got = ::recv(state.descriptor, into, static_cast<std::size_t>(size), 0);
    } while (got < 0 && errno == EINTR);
    if (got == 0)
        state.ended = true;
    else if (got < 0 && isRetryable(errno))
        BIO_set_retry_read(bio);
    else if (got < 0)
        state.systemError = errno;
    return static_cast<int>(got);
}

int sendToSocket(BIO* bio, const char* from, int size) {
    auto& state = stateOf(bio);
    BIO_clear_retry_flags(bio);
    ssize_t sent = 0;
    do {
        sent = ::send(state.descriptor, from, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0 && isRetryable(errno))
        BIO_set_retry_write(bio);
    else if (sent < 0)
        state.systemError = errno;
    return static_cast<int>(sent);
}

long controlSocket(BIO* bio, int command, long /*number*/, void* /*pointer*/) {
    switch (command) {
        case BIO_CTRL_FLUSH:
            return 1;  // nothing is buffered here
        case BIO_CTRL_EOF:
            return stateOf(bio).ended ? 1 : 0;
        default:
            return 0;
    }
}

BIO_METHOD* makeSocketMethod() {
    BIO_METHOD* method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quobblefin socket");
    if (method == nullptr)
        return nullptr;
    if (BIO_meth_set_read(method, receiveFromSocket) != 1 || BIO_meth_set_write(method, sendToSocket) != 1 ||
        BIO_meth_set_ctrl(method, controlSocket) != 1) {
        BIO_meth_free(method);
        return nullptr;
    }
    return method;
}

// Kept for the life of the process: connections may still end on the runtime's threads while static objects are
// destroyed at exit.
const BIO_METHOD* socketMethod() {
    static BIO_METHOD* const method = makeSocketMethod();
    return method;
}

// The first queued error says what went wrong; the rest would only confuse the next caller.
std::error_code takeTlsError() {
    const unsigned long first = ERR_get_error();
    ERR_clear_error();
    if (first == 0)
        return NetError::tlsSetupFailed;
    // A peer that closes without its close_notify: the protocol above delimits its own messages.
    if (ERR_GET_LIB(first) == ERR_LIB_SSL && ERR_GET_REASON(first) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return asio::error::eof;
    return {static_cast<int>(first), asio::error::get_ssl_category()};
}

}  // namespace

TlsSession::TlsSession(SSL_CTX* context)
    : ssl_(context != nullptr ? SSL_new(context) : nullptr), socket_(std::make_unique<TlsSocketState>()) {
    if (!ssl_) {
        ERR_clear_error();
        return;
    }
    // Each write call hands over what the socket takes, record by record, rather than holding on to the rest.
    SSL_set_mode(ssl_.get(), SSL_MODE_ENABLE_PARTIAL_WRITE);
    // Whole buffers of records per receive instead of a header and a body per record.
    SSL_set_read_ahead(ssl_.get(), 1);
}

TlsSession::~TlsSession() = default;
TlsSession::TlsSession(TlsSession&&) noexcept = default;
TlsSession& TlsSession::operator=(TlsSession&&) noexcept = default;

SSL* TlsSession::native() const {
    return ssl_.get();
}

bool TlsSession::attach(int descriptor) {
    if (!ssl_ || SSL_get_rbio(ssl_.get()) != nullptr)
        return false;
    BIO* bio = BIO_new(socketMethod());
    if (bio == nullptr) {
        ERR_clear_error();
        return false;
    }
    socket_->descriptor = descriptor;
    BIO_set_data(bio, socket_.get());
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl_.get(), bio, bio);  // the session owns the BIO from here on
    return true;
}

void TlsSession::forgetDescriptor() {
    socket_->descriptor = -1;
}

Step TlsSession::handshake(bool asClient) {
    if (!ssl_ || SSL_get_rbio(ssl_.get()) == nullptr)
        return {Want::nothing, NetError::tlsSetupFailed, 0};
    if (!handshakeStarted_) {
        if (asClient)
            SSL_set_connect_state(ssl_.get());
        else
            SSL_set_accept_state(ssl_.get());
        handshakeStarted_ = true;
    }
    ERR_clear_error();
    socket_->systemError = 0;
    return outcomeOf(SSL_do_handshake(ssl_.get()), 0);
}

Step TlsSession::read(std::span<std::uint8_t> into) {
    if (!ssl_)
        return {Want::nothing, NetError::tlsSetupFailed, 0};
    ERR_clear_error();
    socket_->systemError = 0;
    std::size_t size = 0;
    const int result = SSL_read_ex(ssl_.get(), into.data(), into.size(), &size);
    return outcomeOf(result, size);
}

Step TlsSession::write(ByteView bytes) {
    if (!ssl_)
        return {Want::nothing, NetError::tlsSetupFailed, 0};
    ERR_clear_error();
    socket_->systemError = 0;
    std::size_t size = 0;
    const int result = SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &size);
    return outcomeOf(result, size);
}

Step TlsSession::shutdown() {
    if (!ssl_)
        return {Want::nothing, NetError::tlsSetupFailed, 0};
    if (failed_)
        return {Want::nothing, {}, 0};
    ERR_clear_error();
    socket_->systemError = 0;
    int result = SSL_shutdown(ssl_.get());
    // 0: our close_notify is out; the second call waits for the peer's.
    if (result == 0) {
        ERR_clear_error();
        result = SSL_shutdown(ssl_.get());
    }
    return outcomeOf(result, 0);
}

Step TlsSession::outcomeOf(int result, std::size_t size) {
    if (result > 0)
        return {Want::nothing, {}, size};
    switch (SSL_get_error(ssl_.get(), result)) {
        case SSL_ERROR_WANT_READ:
            return {Want::readable, {}, 0};
        case SSL_ERROR_WANT_WRITE:
            return {Want::writable, {}, 0};
        case SSL_ERROR_ZERO_RETURN:
            ERR_clear_error();
            return {Want::nothing, asio::error::eof, 0};
        case SSL_ERROR_SYSCALL: {
            failed_ = true;
            ERR_clear_error();
            const int systemError = socket_->systemError;
            if (systemError != 0)
                return {Want::nothing, std::error_code(systemError, asio::error::get_system_category()), 0};
            return {Want::nothing, asio::error::eof, 0};
        }
        case SSL_ERROR_SSL:
            failed_ = true;
            return {Want::nothing, takeTlsError(), 0};
        default:
            ERR_clear_error();
            return {Want::nothing, NetError::tlsSetupFailed, 0};
    }
}

}  // namespace qb::platform::detail
