// Reading a device's key at a typed address: ours with a key, ours without, and everything that is not ours.

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>

#include <future>

#include "ServerHarness.h"
#include "transfer/AddressProbe.h"

namespace qb::transfer {
namespace {

using namespace test;

ProbeResult probeOn(platform::NetRuntime& runtime, std::uint16_t port, ProbeTimings timings = {10s, 2s}) {
    std::promise<ProbeResult> done;
    probeAddress(platform::HostPort("127.0.0.1", port), [&](ProbeResult result) { done.set_value(std::move(result)); },
                 {&runtime, timings});
    auto result = done.get_future();
    return result.wait_for(30s) == std::future_status::ready ? result.get() : ProbeResult{asio::error::timed_out, {}};
}

// A listener of another kind: says `greeting` to whoever connects, then closes after a while.
asio::awaitable<void> greet(platform::Stream stream, std::string greeting) {
    co_await stream.writeAll(platform::asBytes(greeting), 5s);
    std::array<std::uint8_t, 512> ignored{};
    co_await stream.readSome(ignored, 3s);
    stream.close();
}

std::shared_ptr<platform::Acceptor> foreignListener(platform::NetRuntime& runtime, platform::TlsContext tls,
                                                    std::string greeting) {
    platform::Acceptor::Options options;
    options.bindAddress = asio::ip::make_address("127.0.0.1");
    options.tls = std::move(tls);
    auto strand = runtime.makeStrand();
    auto [error, acceptor] = platform::Acceptor::open(strand, options);
    EXPECT_FALSE(error) << error.message();
    acceptor->start([strand, greeting](platform::Stream stream) {
        asio::co_spawn(strand, greet(std::move(stream), greeting), asio::detached);
    });
    return acceptor;
}

TEST(AddressProbeTest, OurTlsListenerShowsItsKeyWithoutItsOwnerBeingAsked) {
    ServerHarness harness(true);
    bool asked = false;
    harness.create().decide = [&](const FileHeader&, const auto&, TransferServer::Answer answer) {
        asked = true;
        answer(false);
    };
    harness.server->start();
    const auto result = probeOn(harness.runtime, harness.server->port());
    EXPECT_FALSE(result.error) << result.error.message();
    EXPECT_EQ(result.fingerprint, harness.receiver->ownFingerprint());
    harness.io.run_for(100ms);
    EXPECT_FALSE(asked);
}

TEST(AddressProbeTest, EveryOtherListenerHasItsOwnReason) {
    ServerHarness ours(false);
    ours.options.mainQueue = platform::MainQueue::runInline();
    ours.create().decide = [](const FileHeader& header, const auto& key, TransferServer::Answer answer) {
        answer(!(header.pair && !key));  // as the model's gate: a keyless pairing is refused without asking
    };
    ours.server->start();
    platform::NetRuntime& runtime = ours.runtime;
    const TestIdentity foreignKey = TestIdentity::make();
    const auto web = foreignListener(runtime, foreignKey.serverContext(), "HTTP/1.1 400 Bad Request\r\n\r\n");
    const auto shell = foreignListener(runtime, {}, "SSH-2.0-other\r\n");
    const auto silentTls = foreignListener(runtime, foreignKey.serverContext(), "");
    std::uint16_t closedPort = 0;
    {
        asio::io_context io;
        asio::ip::tcp::acceptor probe(io, {asio::ip::make_address("127.0.0.1"), 0});
        closedPort = probe.local_endpoint().port();
    }
    asio::ip::tcp::acceptor mute(runtime.context(), {asio::ip::make_address("127.0.0.1"), 0});

    const std::pair<std::uint16_t, AddressErrc> cases[] = {
        {ours.server->port(), AddressErrc::plainListener},
        {web->port(), AddressErrc::notQuobblefin},
        {shell->port(), AddressErrc::notQuobblefin},
        {silentTls->port(), AddressErrc::notQuobblefin},
        {closedPort, AddressErrc::refused},
        {mute.local_endpoint().port(), AddressErrc::timedOut},
    };
    for (const auto& [port, expected] : cases) {
        const auto result = probeOn(runtime, port, {1s, 500ms});
        EXPECT_EQ(result.error, make_error_code(expected)) << port << " " << result.error.message();
        EXPECT_TRUE(result.fingerprint.empty());
    }
    for (const auto& acceptor : {web, shell, silentTls})
        acceptor->cancel();
    ASSERT_TRUE(runOn(runtime, [&] { mute.close(); }));
    EXPECT_TRUE(ours.reports.read([&] { return ours.reports.begun.empty(); }));
}

}  // namespace
}  // namespace qb::transfer
