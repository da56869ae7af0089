#include "platform/Connect.h"
#include "platform/AsTuple.h"

#include "platform/NetError.h"

#include <asio/connect.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include <string>
#include <utility>
#include <vector>

namespace qb::platform {
namespace {

using Addresses = std::vector<asio::ip::tcp::endpoint>;

struct Resolved {
    std::error_code error;
    Addresses addresses;
};

asio::awaitable<Resolved> resolveHost(asio::ip::tcp::resolver& resolver, const HostPort& target) {
    // No address_configured flag: a literal ::1 must resolve even where no interface has a global IPv6 address.
    auto [error, results] = co_await resolver.async_resolve(target.host, std::to_string(target.port),
                                                            asio::ip::tcp::resolver::numeric_service, kAsTuple);
    Resolved resolved{error, {}};
    for (const auto& entry : results)
        resolved.addresses.push_back(entry.endpoint());
    co_return resolved;
}

// The discovery layer answers from its own thread; the answer hops onto our executor and wakes the
// waiting coroutine by cancelling a timer that would otherwise never fire.
struct PendingService {
    explicit PendingService(const asio::any_io_executor& executor)
        : wake(executor, asio::steady_timer::time_point::max()) {}
    asio::steady_timer wake;
    std::optional<Resolved> outcome;
};

asio::awaitable<Resolved> resolveService(const std::shared_ptr<PendingService>& pending,
                                         const ServiceEndpoint& service) {
    const ServiceResolver resolver = serviceResolver();
    if (!resolver)
        co_return Resolved{NetError::serviceUnresolvable, {}};
    auto executor = co_await asio::this_coro::executor;
    resolver(service, [pending, executor](std::error_code error, Addresses addresses) {
        asio::post(executor, [pending, error, addresses = std::move(addresses)]() mutable {
            pending->outcome = Resolved{error, std::move(addresses)};
            pending->wake.cancel();
        });
    });
    co_await pending->wake.async_wait(kAsTuple);
    if (!pending->outcome)
        co_return Resolved{asio::error::timed_out, {}};
    if (!pending->outcome->error && pending->outcome->addresses.empty())
        pending->outcome->error = NetError::serviceUnresolvable;
    co_return std::move(*pending->outcome);
}

std::optional<std::error_code> tlsContextFor(std::optional<PinnedTls>& tls) {
    if (!tls || tls->context)
        return std::nullopt;
    auto shared = sharedClientTlsContext();
    if (shared.error)
        return shared.error;
    tls->context = std::move(shared.context);
    return std::nullopt;
}

}  // namespace

asio::awaitable<ConnectResult> connect(Endpoint endpoint, std::optional<PinnedTls> tls, Duration limit,
                                       ConnectAbort exposeAbort) {
    ConnectResult result;
    if (auto contextError = tlsContextFor(tls)) {
        result.error = *contextError;
        co_return result;
    }
    auto executor = co_await asio::this_coro::executor;
    asio::ip::tcp::socket socket(executor);
    result.stream = tls ? Stream(std::move(socket), tls->context) : Stream(std::move(socket));

    asio::ip::tcp::resolver resolver(executor);
    auto pendingService = std::make_shared<PendingService>(executor);
    // One limit for the whole way to a ready connection. Each step below starts only after checking that
    // neither the limit has run out nor the caller aborted, because either can only stop a step that is already
    // waiting.
    const auto stopWaiting = [&] {
        resolver.cancel();
        pendingService->wake.cancel();
        result.stream.close();
    };
    Deadline deadline(executor, limit, stopWaiting);
    bool aborted = false;
    if (exposeAbort) {
        exposeAbort([&] {
            aborted = true;
            stopWaiting();
        });
    }
    const auto stopped = [&] { return deadline.expired() || aborted; };

    Resolved resolved{asio::error::operation_aborted, {}};
    if (!aborted) {
        if (const auto* hostPort = std::get_if<HostPort>(&endpoint))
            resolved = co_await resolveHost(resolver, *hostPort);
        else
            resolved = co_await resolveService(pendingService, std::get<ServiceEndpoint>(endpoint));
    }

    std::error_code error = resolved.error;
    if (!error && !stopped()) {
        auto [connectError, connected] =
            co_await asio::async_connect(result.stream.tcpSocket(), resolved.addresses, kAsTuple);
        (void)connected;
        error = connectError;
    }
    if (!error && !stopped()) {
        enableKeepAlive(result.stream.tcpSocket());
        if (tls)
            error = co_await result.stream.handshakeAsClient(std::move(tls->pin), kNoTimeLimit);
    }
    deadline.disarm();
    if (aborted)
        error = asio::error::operation_aborted;
    else if (result.stream.keyRejected())
        error = NetError::peerKeyRejected;
    else if (deadline.expired())
        error = asio::error::timed_out;
    if (error)
        result.stream.close();
    result.error = error;
    co_return result;
}

}  // namespace qb::platform
