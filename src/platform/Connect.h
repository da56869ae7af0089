#pragma once

#include "platform/Deadline.h"
#include "platform/Endpoint.h"
#include "platform/Stream.h"
#include "platform/TlsContext.h"

#include <asio/awaitable.hpp>

#include <functional>
#include <optional>
#include <system_error>
#include <utility>

namespace qb::platform {

// TLS with the listener's certificate pinned. An empty context means the process's shared client context.
// (A constructor, not an aggregate: see the note on HostPort.)
struct PinnedTls {
    explicit PinnedTls(PinCheck pinCheck, TlsContext tlsContext = {})
        : pin(std::move(pinCheck)), context(std::move(tlsContext)) {}

    PinCheck pin;
    TlsContext context;
};

struct ConnectResult {
    // asio::error::timed_out when `limit` ran out, NetError::peerKeyRejected when the pin check refused,
    // NetError::serviceUnresolvable for a service no resolver could find, else the network's own error.
    std::error_code error;
    // Open and ready for the header when error is empty; otherwise closed, but keyRejected() still tells
    // whether the pin check refused.
    Stream stream;
};

// Lets the caller end a connect() before its limit. connect() calls it once, before it starts, with an action
// that aborts the attempt (the result is then asio::error::operation_aborted). The action may run only on the
// coroutine's strand and only until connect() returns.
using ConnectAbort = std::function<void(std::function<void()> abort)>;

// Resolves `endpoint` (both address families; a ServiceEndpoint through the installed ServiceResolver),
// tries each address in turn, enables keep-alive and, with `tls`, makes the client handshake with the pin
// check. The whole of it, resolution included, is bounded by `limit`. Must be awaited on a strand (or a
// single-threaded context): the socket and its timer live on the coroutine's executor.
asio::awaitable<ConnectResult> connect(Endpoint endpoint, std::optional<PinnedTls> tls, Duration limit,
                                       ConnectAbort exposeAbort = {});

}  // namespace qb::platform
