#include "platform/TlsContext.h"

#include "platform/NetError.h"
#include "platform/detail/PinState.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <mutex>

namespace qb::platform {
namespace {

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// The first queued error says what went wrong; the rest would only confuse the next caller.
std::error_code takeTlsError() {
    const unsigned long first = ERR_get_error();
    ERR_clear_error();
    if (first == 0)
        return NetError::tlsSetupFailed;
    return {static_cast<int>(first), asio::error::get_ssl_category()};
}

int pinStateIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

detail::PinState* pinStateOf(X509_STORE_CTX* store) {
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (ssl == nullptr)
        return nullptr;
    return static_cast<detail::PinState*>(SSL_get_ex_data(ssl, pinStateIndex()));
}

Bytes derOf(X509* certificate) {
    const int length = i2d_X509(certificate, nullptr);
    if (length <= 0)
        return {};
    Bytes der(static_cast<std::size_t>(length));
    auto* cursor = der.data();
    if (i2d_X509(certificate, &cursor) != length)
        return {};
    return der;
}

bool leafPassesPin(X509_STORE_CTX* store, const detail::PinState& state) {
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (leaf == nullptr || !state.pin)
        return false;
    const Bytes der = derOf(leaf);
    if (der.empty())
        return false;
    try {
        return state.pin(der);
    } catch (...) {
        return false;
    }
}

// Replaces the whole chain verification: the pin is the only trust there is between two devices, so
// authorities, names and dates play no part. Returning 0 fails the handshake with an alert.
int verifyByPin(X509_STORE_CTX* store, void* /*unused*/) {
    detail::PinState* state = pinStateOf(store);
    if (state != nullptr && leafPassesPin(store, *state)) {
        state->accepted = true;
        return 1;
    }
    if (state != nullptr)
        state->rejected = true;
    X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
    return 0;
}

TlsContextResult makeTls13Context(asio::ssl::context::method method) {
    try {
        auto context = std::make_shared<asio::ssl::context>(method);
        if (SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_3_VERSION) != 1)
            return {takeTlsError(), nullptr};
        return {{}, std::move(context)};
    } catch (const std::system_error& error) {
        ERR_clear_error();
        return {error.code(), nullptr};
    }
}

}  // namespace

TlsContextResult makeServerTlsContext(ByteView certificateDer, EVP_PKEY* privateKey) {
    if (certificateDer.empty() || privateKey == nullptr)
        return {NetError::tlsSetupFailed, nullptr};
    auto result = makeTls13Context(asio::ssl::context::tls_server);
    if (result.error)
        return result;
    SSL_CTX* native = result.context->native_handle();
    const unsigned char* cursor = certificateDer.data();
    X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(certificateDer.size())));
    if (!certificate || cursor != certificateDer.data() + certificateDer.size())
        return {certificate ? std::error_code(NetError::tlsSetupFailed) : takeTlsError(), nullptr};
    if (SSL_CTX_use_certificate(native, certificate.get()) != 1 || SSL_CTX_use_PrivateKey(native, privateKey) != 1 ||
        SSL_CTX_check_private_key(native) != 1)
        return {takeTlsError(), nullptr};
    SSL_CTX_set_verify(native, SSL_VERIFY_NONE, nullptr);
    return result;
}

TlsContextResult makeClientTlsContext() {
    auto result = makeTls13Context(asio::ssl::context::tls_client);
    if (result.error)
        return result;
    SSL_CTX* native = result.context->native_handle();
    SSL_CTX_set_verify(native, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(native, verifyByPin, nullptr);
    return result;
}

TlsContextResult sharedClientTlsContext() {
    static std::once_flag once;
    static TlsContextResult shared;
    std::call_once(once, [] { shared = makeClientTlsContext(); });
    return shared;
}

namespace detail {

bool attachPinState(SSL* ssl, PinState* state) {
    return pinStateIndex() >= 0 && SSL_set_ex_data(ssl, pinStateIndex(), state) == 1;
}

}  // namespace detail
}  // namespace qb::platform
