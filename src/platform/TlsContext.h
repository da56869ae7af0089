#pragma once

#include "platform/Bytes.h"

#include <openssl/evp.h>
#include <asio/ssl/context.hpp>

#include <functional>
#include <memory>
#include <system_error>

namespace qb::platform {

// TLS settings shared by many connections. The context is kept alive by every Stream made with it.
using TlsContext = std::shared_ptr<asio::ssl::context>;

struct TlsContextResult {
    std::error_code error;
    TlsContext context;  // null when error is set
};

// Decides whether the listener's certificate is the one we expect: receives the DER of the leaf
// certificate the listener presented and answers accept (true) or refuse. Nothing else is checked: no
// chain, no authority, no host name, no dates. The caller computes and compares the fingerprint.
using PinCheck = std::function<bool(ByteView leafDer)>;

// The listening side: presents `certificateDer` with `privateKey` (borrowed; the context takes its own
// reference), accepts TLS 1.3 only and requests no client certificate.
TlsContextResult makeServerTlsContext(ByteView certificateDer, EVP_PKEY* privateKey);

// The connecting side: TLS 1.3 only, presents no certificate, and hands the listener's leaf certificate
// to the PinCheck of each connection (Stream::handshakeAsClient), whose refusal fails the handshake.
TlsContextResult makeClientTlsContext();

// One client context for the whole process, made on first use.
TlsContextResult sharedClientTlsContext();

}  // namespace qb::platform
