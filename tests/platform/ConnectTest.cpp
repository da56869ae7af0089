#include "NetTestSupport.h"

#include "platform/Connect.h"
#include "platform/Deadline.h"
#include "platform/MainQueue.h"
#include "platform/NetError.h"
#include "platform/NetRuntime.h"

#include <asio/post.hpp>

#include <array>
#include <future>
#include <thread>

using namespace qb::platform;
using namespace std::chrono_literals;
using qb::test::listenOnLoopback;
using qb::test::runFor;

namespace {

// Connects to `port` and waits for bytes that the listener never sends.
asio::awaitable<std::pair<std::error_code, bool>> readNothing(std::uint16_t port, Duration limit) {
    auto [error, stream] = co_await connect(HostPort{"127.0.0.1", port}, std::nullopt, 5s);
    if (error)
        co_return std::pair{error, false};
    std::array<std::uint8_t, 8> buffer{};
    const auto read = co_await stream.readSome(buffer, limit);
    co_return std::pair{read.error, stream.isOpen()};
}

struct ServiceResolverReset {
    ~ServiceResolverReset() { setServiceResolver({}); }
};

}  // namespace

TEST(DeadlineTest, ReadThatNeverCompletesEndsAsTimedOutAndClosesTheStream) {
    asio::io_context io;
    auto acceptor = listenOnLoopback(io);
    std::vector<Stream> silent;  // held open, never written to
    acceptor->start([&](Stream stream) { silent.push_back(std::move(stream)); });

    const auto result = runFor(io, readNothing(acceptor->port(), 50ms));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->first, asio::error::timed_out);
    EXPECT_FALSE(result->second);
}

TEST(DeadlineTest, DisarmedOrDestroyedDeadlineNeverFires) {
    asio::io_context io;
    int fired = 0;
    {
        Deadline destroyed(io.get_executor(), 0ms, [&] { ++fired; });
    }
    Deadline disarmed(io.get_executor(), 0ms, [&] { ++fired; });
    disarmed.disarm();
    Deadline unlimited(io.get_executor(), kNoTimeLimit, [&] { ++fired; });
    Deadline firing(io.get_executor(), 0ms, [&] { ++fired; });
    io.run_for(5s);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(firing.expired());
    EXPECT_FALSE(disarmed.expired());
    EXPECT_FALSE(unlimited.expired());
}

TEST(ConnectTest, ServiceEndpointUsesTheInstalledResolverAndFailsClearlyWithoutOne) {
    asio::io_context io;
    const ServiceResolverReset reset;
    const ServiceEndpoint service{"Desk", "_quobblefin._tcp", "local", 0};

    const auto withoutResolver = runFor(io, connect(service, std::nullopt, 1s));
    ASSERT_TRUE(withoutResolver);
    EXPECT_EQ(withoutResolver->error, NetError::serviceUnresolvable);

    auto acceptor = listenOnLoopback(io);
    acceptor->start([](Stream) {});
    std::thread answering;
    setServiceResolver([&](const ServiceEndpoint& asked, ServiceResolved done) {
        EXPECT_EQ(asked, service);
        // Discovery answers from its own thread.
        answering = std::thread([done, port = acceptor->port()] {
            done({}, {asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), port)});
        });
    });
    const auto resolved = runFor(io, connect(service, std::nullopt, 5s));
    answering.join();
    ASSERT_TRUE(resolved);
    EXPECT_FALSE(resolved->error) << resolved->error.message();
    EXPECT_TRUE(resolved->stream.isOpen());

    setServiceResolver([](const ServiceEndpoint&, ServiceResolved done) { done({}, {}); });
    const auto empty = runFor(io, connect(service, std::nullopt, 5s));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->error, NetError::serviceUnresolvable);
}

TEST(ConnectTest, ConnectLimitCoversAResolverThatNeverAnswers) {
    asio::io_context io;
    const ServiceResolverReset reset;
    ServiceResolved kept;
    setServiceResolver([&](const ServiceEndpoint&, ServiceResolved done) { kept = std::move(done); });

    const auto result =
        runFor(io, connect(ServiceEndpoint{"Desk", "_quobblefin._tcp", "local", 0}, std::nullopt, 50ms));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->error, asio::error::timed_out);
    // A late answer finds the connection attempt gone: even addresses of a live listener lead nowhere.
    Acceptor::Options options;
    options.bindAddress = asio::ip::make_address("127.0.0.1");
    auto [error, acceptor] = Acceptor::open(io.get_executor(), options);
    ASSERT_FALSE(error) << error.message();
    int connections = 0;
    acceptor->start([&](Stream) { ++connections; });
    kept({}, {asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), acceptor->port())});
    io.restart();
    io.run_for(200ms);
    EXPECT_EQ(connections, 0);
}

TEST(ConnectTest, Ipv6LoopbackConnects) {
    asio::io_context io;
    Acceptor::Options options;
    options.bindAddress = asio::ip::make_address("::1");
    auto [error, acceptor] = Acceptor::open(io.get_executor(), options);
    if (error)
        GTEST_SKIP() << "no IPv6 loopback here: " << error.message();
    acceptor->start([](Stream) {});

    auto result = runFor(io, connect(HostPort{"::1", acceptor->port()}, std::nullopt, 5s));
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->error) << result->error.message();
    EXPECT_TRUE(result->stream.tcpSocket().remote_endpoint().address().is_v6());
}

TEST(ConnectTest, DefaultListenerTakesIpv4ClientsToo) {
    asio::io_context io;
    auto [error, acceptor] = Acceptor::open(io.get_executor(), {});
    ASSERT_FALSE(error) << error.message();
    int connections = 0;
    acceptor->start([&](Stream) {
        ++connections;
        io.stop();
    });

    const auto result = runFor(io, connect(HostPort{"127.0.0.1", acceptor->port()}, std::nullopt, 5s));
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->error) << result->error.message();
    if (connections == 0) {
        io.restart();
        io.run_for(5s);
    }
    EXPECT_EQ(connections, 1);
}

TEST(NetRuntimeTest, TransferOnPoolStrandsAndMainQueueHop) {
    NetRuntime runtime(2);
    auto serverStrand = runtime.makeStrand();
    auto [error, acceptor] = Acceptor::open(serverStrand, {asio::ip::make_address("127.0.0.1"), 0, {}, 5s, nullptr});
    ASSERT_FALSE(error);
    acceptor->start([](Stream stream) {
        auto executor = stream.executor();
        asio::co_spawn(
            executor,
            [stream = std::move(stream)]() mutable -> asio::awaitable<void> {
                co_await stream.writeAll(asBytes("GO\n"), 5s);
                co_await stream.closeGracefully(1s);
            },
            asio::detached);
    });

    auto mainStrand = runtime.makeStrand();
    const auto mainQueue = MainQueue::onExecutor(mainStrand);
    std::promise<std::string> reply;
    auto client = [&, port = acceptor->port()]() -> asio::awaitable<void> {
        auto [connectError, stream] = co_await connect(HostPort{"127.0.0.1", port}, std::nullopt, 5s);
        auto [readError, bytes] = co_await stream.readExactly(3, 5s);
        std::string text = connectError ? connectError.message() : readError ? readError.message() : toString(bytes);
        mainQueue.post([&reply, text, onMain = mainStrand] {
            reply.set_value(onMain.running_in_this_thread() ? text : "wrong thread");
        });
    };
    asio::co_spawn(runtime.makeStrand(), client(), asio::detached);

    auto future = reply.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(future.get(), "GO\n");

    bool ranOnMain = false;
    mainQueue.sync([&] { ranOnMain = mainStrand.running_in_this_thread(); });
    EXPECT_TRUE(ranOnMain);
    asio::post(serverStrand, [acceptor = acceptor] { acceptor->cancel(); });
    runtime.stop();
    runtime.stop();
}
