// Cancelling from a job row, end to end over loopback: an outgoing pairing whose request card the other device
// then loses, and an incoming body that leaves nothing behind.

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "l10n/L.h"
#include "model/TwoDevices.h"
#include "platform/Connect.h"
#include "platform/NetTestSupport.h"
#include "transfer/Wire.h"

namespace qb::test {
namespace {

using namespace std::chrono_literals;

class CancelJobsTest : public ::testing::Test, protected TwoDevices {
protected:
    void SetUp() override { l10n::L::setLang("en"); }

    const model::TransferJob* job(model::AppModel& model) {
        return model.jobs().empty() ? nullptr : &model.jobs().front();
    }
    bool failedWith(model::AppModel& model, const std::string& text) {
        return waitUntil([&] { return job(model) && job(model)->state == model::TransferJob::State::failed(text); });
    }
};

TEST_F(CancelJobsTest, ACancelledPairingTakesDownTheRequestCardAndRecordsNothing) {
    const std::uint16_t port = listen();
    sender().pairDevice({"Receiver", "Receiver", platform::HostPort("127.0.0.1", port), 5, receiverKey()});
    ASSERT_TRUE(waitUntil([&] { return receiver().requests().size() == 1; }));

    sender().cancel(job(sender())->id);
    EXPECT_TRUE(failedWith(sender(), "Cancelled"));
    EXPECT_TRUE(waitUntil([&] { return receiver().requests().empty(); })) << "the card leaves with its sender";
    for (model::AppModel* model : {&sender(), &receiver()}) {
        EXPECT_TRUE(model->knownKeys().empty());
        EXPECT_TRUE(model->myDevices().empty());
    }
    EXPECT_TRUE(waitUntil([&] { return sender().jobs().empty(); })) << "leaves after the failed-job delay";
}

// Sends a header and the first bytes of a longer body, then waits for the receiver to end the connection.
asio::awaitable<std::string> stallMidBody(std::uint16_t port) {
    platform::HostPort to("127.0.0.1", port);
    auto connected = co_await platform::connect(to, std::nullopt, 10s);
    transfer::FileHeader header;
    header.v = 3;
    header.name = "held.bin";
    header.size = 1000;
    header.from = "Sender";
    auto bytes = transfer::Wire::encodePrefix(header);
    co_await connected.stream.writeAll(bytes, 10s);
    std::array<std::uint8_t, 3> go{};
    co_await connected.stream.readFull(go, 10s);
    co_await connected.stream.writeAll(platform::Bytes(10, 'x'), 10s);
    std::array<std::uint8_t, 16> rest{};
    const auto read = co_await connected.stream.readSome(rest, 20s);
    co_return std::string(go.begin(), go.end()) + (read.error == asio::error::timed_out ? "open" : "closed");
}

TEST_F(CancelJobsTest, ACancelledIncomingBodyLeavesNothingAndClosesTheConnection) {
    const ScopedEnv autoAccept("QUOBBLEFIN_AUTOACCEPT", "1");
    receiving.config.server.options.identity = nullptr;  // the client below speaks plain TCP
    const std::uint16_t port = listen();
    std::promise<std::string> seen;
    std::thread client([&] {
        asio::io_context io;
        seen.set_value(runFor(io, stallMidBody(port), 30s).value_or("timeout"));
    });
    ASSERT_TRUE(waitUntil([&] { return job(receiver()) != nullptr; }));
    receiver().cancel("not a job");
    receiver().cancel(job(receiver())->id);
    EXPECT_TRUE(failedWith(receiver(), "Cancelled"));
    client.join();
    EXPECT_EQ(seen.get_future().get(), "GO\nclosed");
    EXPECT_TRUE(std::filesystem::is_empty(receiver().saveDir()));
}

}  // namespace
}  // namespace qb::test
