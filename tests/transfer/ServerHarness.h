#pragma once

// A TransferServer on 127.0.0.1 with its reports collected, and a raw client that writes any bytes (in parts,
// acting on the receive folder between them) and reads whatever comes back, so tests can speak the protocol
// badly on purpose.

#include <gtest/gtest.h>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <mutex>
#include <set>

#include "identity/HeaderSignature.h"
#include "platform/Connect.h"
#include "platform/NetTestSupport.h"
#include "support/TestEnv.h"
#include "transfer/TransferServer.h"

namespace qb::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using transfer::FileHeader;

// What the server reported on its strand; waits are bounded.
struct Reports {
    template <typename Change>
    void record(Change change) {
        {
            const std::lock_guard lock(mutex);
            change();
        }
        changed.notify_all();
    }
    template <typename Ready>
    bool waitFor(Ready ready) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, ready);
    }
    // The n-th result (from 1) once it came, else a failure.
    transfer::ReceiveResult finish(std::size_t n) {
        if (!waitFor([&] { return finished.size() >= n; })) {
            ADD_FAILURE() << "no onFinish";
            return transfer::TransferError(transfer::TransferErrc::badHeader);
        }
        const std::lock_guard lock(mutex);
        return finished[n - 1];
    }
    template <typename Read>
    auto read(Read reader) {
        const std::lock_guard lock(mutex);
        return reader();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<std::string, std::uint16_t>> started;
    std::vector<std::string> begun;  // transfer ids
    std::vector<double> progress;
    std::vector<transfer::ReceiveResult> finished;
};

struct Exchange {
    std::string reply;    // every byte the server wrote
    bool closed = false;  // the server ended the connection (not our time limit)
};

// What a peer sends: its bytes in parts, something done to the receive folder between them, and an end that
// is either the end of its stream or silence.
struct PeerScript {
    std::vector<platform::Bytes> parts;
    // Between the first part and the rest: waits (bounded) until `ready` holds, then runs `act`.
    std::function<bool()> ready = {};
    std::function<void()> act = {};
    bool silentAtEnd = false;  // keep the stream open and say nothing instead of ending it
};

// Connects, plays `script` and reads what comes back: until the server closes, or for a short while when
// the peer stays silent (the server must then neither reply nor close).
inline asio::awaitable<Exchange> play(std::uint16_t port, std::optional<platform::PinnedTls> tls, PeerScript script) {
    // Converted in a named local first: GCC 12 mishandles a converted temporary inside a co_await expression.
    platform::Endpoint to = platform::HostPort("127.0.0.1", port);
    auto connected = co_await platform::connect(std::move(to), std::move(tls), 10s);
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

// Connects, writes `bytes`, half-closes and reads until the server closes.
inline asio::awaitable<Exchange> exchangeWith(std::uint16_t port, std::optional<platform::PinnedTls> tls,
                                              platform::Bytes bytes) {
    return play(port, std::move(tls), PeerScript{.parts = {std::move(bytes)}});
}

// "QBLF", the big-endian length (of `json` unless given), then `json`.
inline platform::Bytes prefixed(std::string_view json, std::optional<std::uint32_t> length = std::nullopt) {
    const auto announced = length.value_or(static_cast<std::uint32_t>(json.size()));
    platform::Bytes bytes{'Q', 'B', 'L', 'F'};
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(announced >> shift));
    }
    bytes.insert(bytes.end(), json.begin(), json.end());
    return bytes;
}

// Every item below `folder`: folders end in "/", symbolic links in "@".
inline std::set<std::string> treeOf(const fs::path& folder) {
    std::set<std::string> items;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const auto mark = entry.is_symlink() ? "@" : entry.is_directory() ? "/" : "";
        items.insert(fs::relative(entry.path(), folder).string() + mark);
    }
    return items;
}

inline FileHeader header(std::string name, std::int64_t size, int generation = 3,
                         std::optional<std::vector<transfer::FileEntry>> files = std::nullopt, bool batch = false) {
    return {.v = generation, .name = std::move(name), .size = size, .from = "Tester", .files = files, .batch = batch};
}

// Runs `work` on the runtime's threads, which own the sockets it closes, and waits (bounded) until it ran.
inline bool runOn(platform::NetRuntime& runtime, std::function<void()> work) {
    auto ran = std::make_shared<std::promise<void>>();
    asio::post(runtime.context(), [ran, work = std::move(work)] {
        work();
        ran->set_value();
    });
    return ran->get_future().wait_for(10s) == std::future_status::ready;
}

// A transfer's result, handed over from the thread it ends on; the wait for it is bounded.
class PendingResult {
public:
    std::function<void(transfer::TransferResult)> completion() const {
        return [promise = promise_](transfer::TransferResult result) { promise->set_value(std::move(result)); };
    }
    transfer::TransferResult wait(std::chrono::seconds limit = 30s) {
        return future_.wait_for(limit) == std::future_status::ready ? future_.get() : transfer::TransferErrc::timeout;
    }

private:
    std::shared_ptr<std::promise<transfer::TransferResult>> promise_ =
        std::make_shared<std::promise<transfer::TransferResult>>();
    std::future<transfer::TransferResult> future_ = promise_->get_future();
};

inline identity::Identity::Options keysIn(const fs::path& folder) {
    return {false, folder / "keys", folder / "settings.json", nullptr};
}

// One server (TLS with its own identity, or plain) and a receive folder. The test's io_context stands in for
// the main thread: `decide` runs there while an exchange runs.
class ServerHarness {
public:
    explicit ServerHarness(bool tls = false, transfer::ServerTimings timings = {5000ms, 20ms}) {
        fs::create_directories(inbox);
        if (tls) {
            receiver.emplace(keysIn(temp / "receiver"));
        }
        options.identity = receiver ? &*receiver : nullptr;
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

    // Creates the server and fills its report slots; the test may set `decide`, then calls server->start().
    transfer::TransferServer& create(std::string name = "Receiver") {
        auto created = transfer::TransferServer::create(
            std::move(name), [this] { return inbox; }, options);
        EXPECT_FALSE(created.error) << created.error.message();
        server = created.server;
        server->onStarted = [this](const std::string& registered, std::uint16_t port) {
            reports.record([&] { reports.started.emplace_back(registered, port); });
        };
        server->onBegin = [this](const std::string& id, const FileHeader&) {
            reports.record([&] { reports.begun.push_back(id); });
        };
        server->onProgress = [this](const std::string&, double fraction) {
            reports.record([&] { reports.progress.push_back(fraction); });
        };
        server->onFinish = [this](const std::string&, const transfer::ReceiveResult& result) {
            reports.record([&] { reports.finished.push_back(result); });
        };
        return *server;
    }

    // Where the real sender reaches this server, and the key it pins there (none for a plain server).
    platform::HostPort address() const { return {"127.0.0.1", server->port()}; }
    std::optional<std::string> key() const {
        return receiver ? std::optional(receiver->ownFingerprint()) : std::nullopt;
    }

    Exchange play(PeerScript script) {
        auto tls = receiver ? std::optional(pinned()) : std::nullopt;
        auto outcome = runFor(io, test::play(server->port(), std::move(tls), std::move(script)), 30s);
        EXPECT_TRUE(outcome) << "the exchange did not end in time";
        return outcome.value_or(Exchange{});
    }
    Exchange exchange(platform::Bytes bytes) { return play({.parts = {std::move(bytes)}}); }
    Exchange send(const FileHeader& sent, std::string_view body) {
        auto bytes = transfer::Wire::encodePrefix(sent);
        bytes.insert(bytes.end(), body.begin(), body.end());
        return exchange(std::move(bytes));
    }

    platform::PinnedTls pinned() const {
        return platform::PinnedTls([key = receiver->ownFingerprint()](
                                       platform::ByteView der) { return identity::Identity::fingerprint(der) == key; },
                                   {});
    }
    FileHeader signedBy(const identity::Identity& sender, FileHeader unsigned_, const std::string& forKey = "") const {
        const auto proof = identity::signForReceiver(sender, forKey.empty() ? receiver->ownFingerprint() : forKey);
        unsigned_.cert = proof->certB64;
        unsigned_.sig = proof->sigB64;
        return unsigned_;
    }

    // A valid one-file transfer still succeeds, and its file is the only change in the receive folder.
    void expectStillServes(const identity::Identity* signer = nullptr) {
        const auto before = treeOf(inbox);
        const auto count = reports.read([&] { return reports.finished.size(); });
        const auto file = header("still.txt", 5, receiver ? 5 : 3);
        EXPECT_EQ(send(signer ? signedBy(*signer, file) : file, "alive").reply, "GO\nOK\n");
        const auto result = reports.finish(count + 1);
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(readFile(result.items().at(0)), "alive");
        fs::remove(result.items().at(0));
        EXPECT_EQ(treeOf(inbox), before);
    }

    TempDir temp;
    fs::path inbox = temp / "inbox";
    std::optional<identity::Identity> receiver;
    platform::NetRuntime runtime{2};
    asio::io_context io;
    transfer::ServerOptions options;
    std::shared_ptr<transfer::TransferServer> server;
    Reports reports;
};

}  // namespace qb::test
