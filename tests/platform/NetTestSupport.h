#pragma once

#include "platform/Acceptor.h"
#include "platform/Bytes.h"
#include "platform/TestCertificate.h"
#include "platform/TlsContext.h"

#include <gtest/gtest.h>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

namespace qb::test {

// A fresh P-256 key and a self-signed certificate for it, made with OpenSSL directly so these tests need
// nothing of the identity code.
struct TestIdentity {
    platform::PrivateKey key;
    platform::Bytes certificateDer;

    static TestIdentity make() {
        platform::PrivateKey key = newKey();
        platform::Bytes der = selfSignedCertificate(key, "net test");
        return {std::move(key), std::move(der)};
    }

    platform::TlsContext serverContext() const {
        auto [error, context] = platform::makeServerTlsContext(certificateDer, key.native());
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
