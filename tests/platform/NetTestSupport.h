#pragma once

#include "platform/Acceptor.h"
#include "platform/Bytes.h"
#include "platform/TlsContext.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

namespace qb::test {

struct EvpKeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};

// A fresh P-256 key and a self-signed certificate for it, made with OpenSSL directly so these tests need
// nothing of the identity code.
struct TestIdentity {
    std::unique_ptr<EVP_PKEY, EvpKeyFree> key;
    platform::Bytes certificateDer;

    static TestIdentity make() {
        TestIdentity identity;
        identity.key.reset(EVP_EC_gen("P-256"));
        std::unique_ptr<X509, X509Free> certificate(X509_new());
        X509_set_version(certificate.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
        X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600);
        X509_set_pubkey(certificate.get(), identity.key.get());
        X509_NAME* name = X509_get_subject_name(certificate.get());
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("net test"), -1,
                                   -1, 0);
        X509_set_issuer_name(certificate.get(), name);
        X509_sign(certificate.get(), identity.key.get(), EVP_sha256());
        const int length = i2d_X509(certificate.get(), nullptr);
        identity.certificateDer.resize(static_cast<std::size_t>(length));
        auto* cursor = identity.certificateDer.data();
        i2d_X509(certificate.get(), &cursor);
        return identity;
    }

    platform::TlsContext serverContext() const {
        auto [error, context] = platform::makeServerTlsContext(certificateDer, key.get());
        EXPECT_FALSE(error) << error.message();
        return context;
    }
};

// Runs `work` on `io` (single-threaded, so it is its own strand) and returns its result, or nothing when
// it did not finish within `limit`.
template <typename T>
std::optional<T> runFor(asio::io_context& io, asio::awaitable<T> work,
                        std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::optional<T> result;
    asio::co_spawn(io, std::move(work), [&](std::exception_ptr failure, T value) {
        if (failure)
            std::rethrow_exception(failure);
        result = std::move(value);
        io.stop();
    });
    io.restart();
    io.run_for(limit);
    return result;
}

inline std::shared_ptr<platform::Acceptor> listenOnLoopback(asio::io_context& io, platform::TlsContext tls = {},
                                                            const char* address = "127.0.0.1") {
    platform::Acceptor::Options options;
    options.bindAddress = asio::ip::make_address(address);
    options.tls = std::move(tls);
    auto [error, acceptor] = platform::Acceptor::open(io.get_executor(), options);
    EXPECT_FALSE(error) << error.message();
    return acceptor;
}

}  // namespace qb::test
