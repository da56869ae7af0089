// Many connections that never finish their header: the listener keeps only its cap of them, its memory
// stays flat, and a good transfer still gets through.

#include <gtest/gtest.h>
#include <poll.h>
#include <asio/write.hpp>

#include <iostream>

#include "platform/ProcessLimits.h"
#include "transfer/ServerHarness.h"

namespace qb::transfer {
namespace {

using namespace test;

constexpr int kConnections = 1000;

// AddressSanitizer keeps freed memory in quarantine, so the resident size says nothing there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryTellsTheTruth = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryTellsTheTruth = false;
#else
constexpr bool kMemoryTellsTheTruth = true;
#endif
#else
constexpr bool kMemoryTellsTheTruth = true;
#endif

// The resident memory of this process, in KiB.
long residentKiB() {
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

struct ResourceRow {
    const char* name;
    bool tls;
    platform::Bytes sent;  // then nothing more
};

// How many of `sockets` the server has closed, once that number stops growing (bounded wait).
int closedByServer(std::vector<asio::ip::tcp::socket>& sockets, int expectedAtLeast) {
    int closed = 0;
    for (int round = 0; round < 200; ++round) {
        std::vector<pollfd> polls;
        for (auto& socket : sockets) {
            polls.push_back({socket.native_handle(), POLLIN | POLLRDHUP, 0});
        }
        ::poll(polls.data(), polls.size(), 0);
        closed = static_cast<int>(std::count_if(polls.begin(), polls.end(), [](const pollfd& p) {
            return (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        }));
        if (closed >= expectedAtLeast) {
            break;
        }
        std::this_thread::sleep_for(50ms);
    }
    return closed;
}

// A TLS peer that sends nothing stays in the handshake, where the same cap holds it.
TEST(HostileResourceTest, ThousandsOfSilentConnectionsAreCappedAndCostNothingLasting) {
    platform::raiseOpenFileLimit();
    const std::vector<ResourceRow> rows{
        {"1,000 idle connections", false, {}},
        {"1,000 prefixes announcing 1 MiB", false, prefixed("", 1'048'575)},
        {"1,000 idle TLS connections", true, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ServerHarness harness(row.tls);
        harness.create().start();
        const std::optional<identity::Identity> sender =
            row.tls ? std::optional<identity::Identity>(std::in_place, keysIn(harness.temp / "sender")) : std::nullopt;
        harness.expectStillServes(sender ? &*sender : nullptr);
        const long before = residentKiB();
        std::vector<asio::ip::tcp::socket> sockets;
        for (int i = 0; i < kConnections; ++i) {
            asio::ip::tcp::socket socket(harness.io);
            socket.connect({asio::ip::make_address("127.0.0.1"), harness.server->port()});
            if (!row.sent.empty()) {
                asio::write(socket, asio::buffer(row.sent));
            }
            sockets.push_back(std::move(socket));
        }
        const int cap = static_cast<int>(harness.options.waitingCaps.perAddress);
        const int held = kConnections - closedByServer(sockets, kConnections - cap);
        const long during = residentKiB();
        harness.expectStillServes(sender ? &*sender : nullptr);
        std::cout << "[figures] " << row.name << ": " << held << " held by the server, resident " << before
                  << " KiB before, " << during << " KiB while held\n";
        EXPECT_LE(held, cap);
        if (kMemoryTellsTheTruth) {
            EXPECT_LT(during - before, 8 * 1024) << "memory grew with the silent connections";
        }
    }
}

}  // namespace
}  // namespace qb::transfer
