#pragma once

// A TransferServer on 127.0.0.1 with its reports collected, and a raw client that writes any bytes and
// reads whatever comes back, so tests can speak the protocol badly on purpose.

#include <gtest/gtest.h>
#include <asio/io_context.hpp>
#include <asio/socket_base.hpp>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "identity/HeaderSignature.h"
#include "identity/Identity.h"
#include "platform/Connect.h"
#include "platform/NetTestSupport.h"
#include "support/TestEnv.h"
#include "transfer/TransferServer.h"

namespace qb::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// What the server reported, gathered from its strand and waited for with time limits.
class ServerEvents {
public:
    struct Finish {
        std::string id;
        transfer::ReceiveResult result;
    };

    void attach(transfer::TransferServer& server) {
        server.onStarted = [this](const std::string& name, std::uint16_t port) {
            record([&] { started.emplace_back(name, port); });
        };
        server.onBegin = [this](const std::string& id, const transfer::FileHeader& header) {
            record([&] { begun.emplace_back(id, header); });
        };
        server.onProgress = [this](const std::string& id, double fraction) {
            record([&] { progress.emplace_back(id, fraction); });
        };
        server.onFinish = [this](const std::string& id, const transfer::ReceiveResult& result) {
            record([&] { finished.push_back({id, result}); });
        };
    }

    // Waits until `ready` holds (checked under the lock); false when it did not within `limit`.
    template <typename Predicate>
    bool waitUntil(Predicate ready, std::chrono::milliseconds limit = 10s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return ready(*this); });
    }

    // The n-th onFinish (from 1), once it came.
    std::optional<Finish> waitFinish(std::size_t n = 1) {
        if (!waitUntil([n](const ServerEvents& events) { return events.finished.size() >= n; })) {
            return std::nullopt;
        }
        const std::lock_guard lock(mutex_);
        return finished[n - 1];
    }

    template <typename Read>
    auto read(Read reader) {
        const std::lock_guard lock(mutex_);
        return reader(*this);
    }

    std::vector<std::pair<std::string, std::uint16_t>> started;
    std::vector<std::pair<std::string, transfer::FileHeader>> begun;
    std::vector<std::pair<std::string, double>> progress;
    std::vector<Finish> finished;

private:
    template <typename Change>
    void record(Change change) {
        {
            const std::lock_guard lock(mutex_);
            change();
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
};

// What a client saw: every byte the server wrote, and how the reading ended.
struct Exchange {
    std::string reply;
    std::error_code end;   // eof or a reset once the server has closed; timed_out when it never did
    std::error_code sent;  // the first failure while writing, if any

    // The server ended the connection (rather than our time limit).
    bool closedByServer() const { return end == asio::error::eof || end == asio::error::connection_reset; }
};

// Connects, writes `bytes`, half-closes unless told to keep sending open, and reads until the server closes.
inline asio::awaitable<Exchange> exchangeWith(std::uint16_t port, std::optional<platform::PinnedTls> tls,
                                              platform::Bytes bytes, bool halfClose, platform::Duration limit) {
    platform::HostPort to("127.0.0.1", port);
    auto connected = co_await platform::connect(to, std::move(tls), limit);
    Exchange outcome;
    if (connected.error) {
        outcome.end = connected.error;
        co_return outcome;
    }
    auto& stream = connected.stream;
    outcome.sent = co_await stream.writeAll(bytes, limit);
    if (halfClose && stream.isOpen()) {
        std::error_code ignored;
        stream.tcpSocket().shutdown(asio::socket_base::shutdown_send, ignored);
    }
    std::array<std::uint8_t, 256> chunk{};
    for (int reads = 0; reads < 1000; ++reads) {
        const auto [error, size] = co_await stream.readSome(chunk, limit);
        if (error) {
            outcome.end = error;
            break;
        }
        outcome.reply.append(reinterpret_cast<const char*>(chunk.data()), size);
    }
    co_return outcome;
}

// An identity of its own in a temporary key store.
struct TestDevice {
    explicit TestDevice(const fs::path& folder)
        : identity({false, folder / "keys", folder / "settings.json", &console}) {}
    std::ostringstream console;
    identity::Identity identity;
};

inline platform::Bytes concat(platform::Bytes first, const platform::Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

inline platform::Bytes repeated(char letter, std::size_t count) {
    return platform::Bytes(count, static_cast<std::uint8_t>(letter));
}

// "QBLF", the big-endian length of `json` unless another is given, then `json`.
inline platform::Bytes rawPrefix(std::string_view json, std::optional<std::uint32_t> length = std::nullopt) {
    const std::uint32_t announced = length.value_or(static_cast<std::uint32_t>(json.size()));
    platform::Bytes bytes{'Q', 'B', 'L', 'F'};
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(announced >> shift));
    }
    return concat(std::move(bytes), platform::toBytes(json));
}

inline std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeText(const fs::path& file, std::string_view text) {
    std::ofstream(file, std::ios::binary) << text;
}

// Every item below `folder` as a relative path, folders with a trailing "/", links marked with "@".
inline std::set<std::string> treeOf(const fs::path& folder) {
    std::set<std::string> items;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::end(it); it.increment(error)) {
        const auto relative = fs::relative(it->path(), folder).string();
        if (it->is_symlink()) {
            items.insert(relative + "@");
        } else {
            items.insert(it->is_directory() ? relative + "/" : relative);
        }
    }
    return items;
}

inline transfer::FileHeader fileHeader(std::string name, std::int64_t size, int generation = 3) {
    transfer::FileHeader header;
    header.v = generation;
    header.name = std::move(name);
    header.size = size;
    header.from = "Tester";
    return header;
}

inline transfer::FileHeader treeHeader(std::string name, std::vector<transfer::FileEntry> files, bool batch,
                                       int generation = 3) {
    std::int64_t size = 0;
    for (const auto& entry : files) {
        size += entry.d ? 0 : entry.s;
    }
    auto header = fileHeader(std::move(name), size, generation);
    header.files = std::move(files);
    header.batch = batch;
    return header;
}

// One server, a receive folder, and the test's own event loop standing in for the main thread.
class ServerHarness {
public:
    enum class Security { plain, tls };

    explicit ServerHarness(Security security = Security::plain, transfer::ServerTimings timings = shortTimings()) {
        fs::create_directories(inbox);
        if (security == Security::tls) {
            receiver.emplace(temp / "receiver");
        }
        options.identity = receiver ? &receiver->identity : nullptr;
        options.runtime = &runtime;
        options.mainQueue = platform::MainQueue::onExecutor(io.get_executor());
        options.bindAddress = asio::ip::make_address("127.0.0.1");
        options.timings = timings;
    }

    ~ServerHarness() {
        if (server) {
            server->cancel();
            server.reset();
        }
        runtime.stop();
    }

    static transfer::ServerTimings shortTimings() { return {5000ms, 20ms}; }

    // Creates and starts the server; the slots of `events` are filled, `decide` is left to the test.
    transfer::TransferServer& start(std::string name = "Receiver") {
        auto created = transfer::TransferServer::create(
            std::move(name), [folder = inbox] { return folder; }, options);
        EXPECT_FALSE(created.error) << created.error.message();
        server = std::move(created.server);
        events.attach(*server);
        return *server;
    }

    void run() { server->start(); }

    // A client exchange, with the test's event loop running meanwhile (it runs `decide`).
    Exchange exchange(platform::Bytes bytes, std::optional<platform::PinnedTls> tls = std::nullopt,
                      bool halfClose = true) {
        auto outcome = runFor(io, exchangeWith(server->port(), std::move(tls), std::move(bytes), halfClose, 10s),
                              std::chrono::seconds(15));
        EXPECT_TRUE(outcome) << "the exchange did not end in time";
        return outcome.value_or(Exchange{});
    }

    Exchange send(const transfer::FileHeader& header, const platform::Bytes& body,
                  std::optional<platform::PinnedTls> tls = std::nullopt) {
        return exchange(concat(transfer::Wire::encodePrefix(header), body), std::move(tls));
    }

    // TLS to this harness's server, its certificate pinned.
    platform::PinnedTls pinned() const {
        const std::string expected = receiver->identity.ownFingerprint();
        return platform::PinnedTls(
            [expected](platform::ByteView der) { return identity::Identity::fingerprint(der) == expected; }, {});
    }

    // A header signed for this server by `sender`.
    transfer::FileHeader signedBy(const TestDevice& sender, transfer::FileHeader header) const {
        const auto proof = identity::signForReceiver(sender.identity, receiver->identity.ownFingerprint());
        EXPECT_TRUE(proof);
        header.cert = proof->certB64;
        header.sig = proof->sigB64;
        return header;
    }

    // A valid one-file transfer still succeeds, and its file is the only change in the receive folder.
    void expectStillServes(const TestDevice* signer = nullptr) {
        const auto before = treeOf(inbox);
        const std::size_t finishedBefore = events.read([](auto& e) { return e.finished.size(); });
        auto header = fileHeader("still.txt", 5, receiver ? 5 : 3);
        if (signer != nullptr) {
            header = signedBy(*signer, header);
        }
        const auto outcome =
            send(header, platform::toBytes("alive"), receiver ? std::optional(pinned()) : std::nullopt);
        EXPECT_EQ(outcome.reply, "GO\nOK\n");
        const auto finish = events.waitFinish(finishedBefore + 1);
        ASSERT_TRUE(finish);
        ASSERT_TRUE(finish->result.ok()) << finish->result.error().description();
        ASSERT_EQ(finish->result.items().size(), 1u);
        EXPECT_EQ(readText(finish->result.items().front()), "alive");
        fs::remove(finish->result.items().front());
        EXPECT_EQ(treeOf(inbox), before);
    }

    TempDir temp;
    fs::path inbox = temp / "inbox";
    std::optional<TestDevice> receiver;
    platform::NetRuntime runtime{2};
    asio::io_context io;
    transfer::ServerOptions options;
    std::shared_ptr<transfer::TransferServer> server;
    ServerEvents events;
};

}  // namespace qb::test
