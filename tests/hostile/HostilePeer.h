#pragma once

// A peer that speaks the protocol badly on purpose: its bytes in parts, something done to the receive
// folder between them, and an end that is either the end of its stream or silence.

#include <asio/steady_timer.hpp>

#include <fstream>
#include <functional>
#include <string>

#include "transfer/ServerHarness.h"

namespace qb::test {

struct HostileScript {
    std::vector<platform::Bytes> parts;
    // Between the first part and the rest: waits (bounded) until `ready` holds, then runs `act`.
    std::function<bool()> ready;
    std::function<void()> act;
    bool silentAtEnd = false;  // keep the stream open and say nothing instead of ending it
};

// Connects, plays `script` and reads what comes back: until the server closes, or for a short while when
// the peer stays silent (the server must then neither reply nor close).
inline asio::awaitable<Exchange> play(std::uint16_t port, std::optional<platform::PinnedTls> tls,
                                      HostileScript script) {
    auto connected = co_await platform::connect(platform::HostPort("127.0.0.1", port), std::move(tls), 10s);
    Exchange outcome;
    auto& stream = connected.stream;
    const auto executor = co_await asio::this_coro::executor;
    for (std::size_t i = 0; i < script.parts.size() && !connected.error; ++i) {
        if (i == 1 && script.act) {
            asio::steady_timer poll(executor);
            for (int tries = 0; tries < 500 && script.ready && !script.ready(); ++tries) {
                poll.expires_after(10ms);
                co_await poll.async_wait(asio::use_awaitable);
            }
            script.act();
        }
        co_await stream.writeAll(script.parts[i], 10s);
    }
    std::error_code ignored;
    if (stream.isOpen() && !script.silentAtEnd) {
        stream.tcpSocket().shutdown(asio::socket_base::shutdown_send, ignored);
    }
    const auto limit = script.silentAtEnd ? platform::Duration(300ms) : platform::Duration(10s);
    std::array<std::uint8_t, 256> chunk{};
    for (int reads = 0; reads < 100 && stream.isOpen(); ++reads) {
        const auto [error, size] = co_await stream.readSome(chunk, limit);
        outcome.closed = error == asio::error::eof || error == asio::error::connection_reset;
        if (error) {
            break;
        }
        outcome.reply.append(reinterpret_cast<const char*>(chunk.data()), size);
    }
    co_return outcome;
}

inline Exchange play(ServerHarness& harness, HostileScript script) {
    auto tls = harness.receiver ? std::optional(harness.pinned()) : std::nullopt;
    auto outcome = runFor(harness.io, play(harness.server->port(), std::move(tls), std::move(script)), 30s);
    EXPECT_TRUE(outcome) << "the exchange did not end in time";
    return outcome.value_or(Exchange{});
}

// The resident memory of this process, in KiB.
inline long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 10, '\n');
    }
    return 0;
}

}  // namespace qb::test
