#include "transfer/FileSender.h"

#include <gtest/gtest.h>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "identity/HeaderSignature.h"
#include "identity/Identity.h"
#include "platform/Acceptor.h"
#include "platform/NetRuntime.h"
#include "platform/NetTestSupport.h"
#include "support/TestEnv.h"
#include "transfer/Wire.h"

namespace qb::transfer {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::writeFile;

// A receiver that follows a fixed script instead of deciding anything, so each test controls every reply byte
// and sees every byte the sender wrote.
struct ReceiverScript {
    // drain: read until the sender closes, counting any bytes it still sends; close: at once; hold: keep the
    // connection open and say nothing more.
    enum class End { drain, close, hold };
    bool readHeader = true;               // false: accept and go straight to `end`
    std::string answerToHeader = "GO\n";  // written after the header; empty: no answer
    bool readBody = true;                 // read the header's `size` bytes after the answer
    std::string answerToBody = "OK\n";    // empty: no answer
    End end = End::drain;
};

struct ReceivedTransfer {
    std::optional<FileHeader> header;
    platform::Bytes body;
    std::size_t strayBytes = 0;  // bytes the sender wrote beyond what the script read
};

class ScriptedReceiver {
public:
    explicit ScriptedReceiver(ReceiverScript script, platform::TlsContext tls = {}) : script_(std::move(script)) {
        platform::Acceptor::Options options;
        options.bindAddress = asio::ip::make_address("127.0.0.1");
        options.tls = std::move(tls);
        auto opened = platform::Acceptor::open(runtime_.executor(), options);
        if (opened.error)
            throw std::system_error(opened.error);
        acceptor_ = opened.acceptor;
        acceptor_->start([this](platform::Stream stream) {
            {
                const std::lock_guard lock(mutex_);
                ++connections_;
            }
            asio::co_spawn(runtime_.executor(), serve(std::move(stream)), asio::detached);
        });
    }

    ~ScriptedReceiver() {
        asio::post(runtime_.executor(), [acceptor = acceptor_] { acceptor->cancel(); });
        runtime_.stop();
    }

    std::uint16_t port() const { return acceptor_->port(); }

    // Connections that reached the script (for TLS: that completed the handshake).
    int connections() {
        const std::lock_guard lock(mutex_);
        return connections_;
    }

    // The first connection's record once its script has ended.
    std::optional<ReceivedTransfer> wait(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [this] { return received_.has_value(); });
        return received_;
    }

private:
    asio::awaitable<void> serve(platform::Stream stream) {
        ReceivedTransfer seen;
        if (script_.readHeader) {
            auto prefix = co_await stream.readExactly(Wire::kPrefixLength, 5s);
            const auto length = Wire::parsePrefix(prefix.bytes);
            if (length) {
                auto json = co_await stream.readExactly(*length, 5s);
                seen.header = Wire::decodeHeader(json.bytes);
            }
            if (!script_.answerToHeader.empty())
                co_await stream.writeAll(platform::asBytes(script_.answerToHeader), 5s);
            if (seen.header && script_.readBody && seen.header->size > 0) {
                auto body = co_await stream.readExactly(static_cast<std::size_t>(seen.header->size), 10s);
                seen.body = std::move(body.bytes);
            }
            if (!script_.answerToBody.empty())
                co_await stream.writeAll(platform::asBytes(script_.answerToBody), 5s);
        }
        std::array<std::uint8_t, 65536> buffer{};
        for (int reads = 0; reads < 100'000 && script_.end == ReceiverScript::End::drain; ++reads) {
            const auto read = co_await stream.readSome(buffer, 5s);
            if (read.error)
                break;
            seen.strayBytes += read.size;
        }
        if (script_.end == ReceiverScript::End::hold)
            held_.push_back(std::move(stream));
        else
            stream.close();
        const std::lock_guard lock(mutex_);
        if (!received_)
            received_ = std::move(seen);
        changed_.notify_all();
    }

    ReceiverScript script_;
    platform::NetRuntime runtime_{1};  // one thread: the acceptor and every script run in order
    std::shared_ptr<platform::Acceptor> acceptor_;
    std::vector<platform::Stream> held_;  // touched only on the runtime's thread
    std::mutex mutex_;
    std::condition_variable changed_;
    int connections_ = 0;
    std::optional<ReceivedTransfer> received_;
};

// What the sender reported; shared with its callbacks, which run on the sender's threads.
struct Reports {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<TransferResult> completions;
    std::vector<double> progress;
    std::thread::id completionThread;

    std::optional<TransferResult> wait(std::chrono::milliseconds limit = 10s) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, limit, [this] { return !completions.empty(); });
        return completions.empty() ? std::nullopt : std::optional(completions.front());
    }
};

class FileSenderTest : public ::testing::Test {
protected:
    std::shared_ptr<Reports> send(std::vector<fs::path> items, std::uint16_t port, bool waitForGo = true,
                                  std::optional<std::string> peerKey = std::nullopt, bool pair = false) {
        auto reports = std::make_shared<Reports>();
        SenderEnvironment environment{&runtime, peerKey ? &senderIdentity() : nullptr, &console, timings};
        auto progress = [reports, hook = onProgress](double fraction) mutable {
            if (hook)
                hook(fraction);
            const std::lock_guard lock(reports->mutex);
            reports->progress.push_back(fraction);
        };
        auto completion = [reports](TransferResult result) {
            const std::lock_guard lock(reports->mutex);
            reports->completions.push_back(std::move(result));
            reports->completionThread = std::this_thread::get_id();
            reports->changed.notify_all();
        };
        platform::HostPort to{"127.0.0.1", port};
        if (pair)
            FileSender::pair(to, "Desk", peerKey.value_or(""), completion, environment);
        else
            FileSender::send(std::move(items), to, "Desk", waitForGo, peerKey, false, progress, completion,
                             environment);
        return reports;
    }

    identity::Identity& senderIdentity() {
        if (!identity)
            identity = std::make_unique<identity::Identity>(
                identity::Identity::Options{false, temp / "sender-keys", temp / "sender.json", &identityConsole});
        return *identity;
    }

    test::TempDir temp;
    std::ostringstream console;
    std::ostringstream identityConsole;
    std::unique_ptr<identity::Identity> identity;
    SenderTimings timings;
    std::function<void(double)> onProgress;  // runs on the sender's strand before each progress report
    test::TestIdentity receiverKey = test::TestIdentity::make();
    std::string receiverFingerprint = identity::Identity::fingerprint(receiverKey.certificateDer);
    platform::NetRuntime runtime{2};  // last: stopped before anything its handlers use goes away
};

// Each kind of transfer that succeeds: what the receiver read (the signature aside) and one progress report per
// piece. Pinned rows run verbose, and only QUOBBLEFIN_VERBOSE=1 prints the TLS line.
TEST_F(FileSenderTest, EachTransferGoesOutAsItsHeaderThenItsBytesAndNothingMore) {
    writeFile(temp / "a.txt", "hello");
    writeFile(temp / "empty", "");
    writeFile(temp / "F" / "x", "xxx");
    writeFile(temp / "F" / "s" / "y", "yy");
    writeFile(temp / "F" / ".hidden", "h");
    writeFile(temp / "F" / "e", "");
    const std::vector<FileEntry> folder{{".hidden", 1}, {"e", 0}, {"s", 0, true}, {"s/y", 2}, {"x", 3}};
    struct Row {
        std::vector<fs::path> items;  // none: a pairing
        FileHeader expected;
        std::string body;
        ReceiverScript script = {};
        std::optional<std::string> verbose = std::nullopt;  // set: pinned
    };
    const Row rows[] = {
        {{temp / "a.txt"}, {.v = 3, .name = "a.txt", .size = 5, .from = "Desk"}, "hello"},
        {{temp / "empty"}, {.v = 3, .name = "empty", .size = 0, .from = "Desk"}, ""},
        // Generation 2 does not wait for a go-ahead; the three files fit in one piece.
        {{temp / "F"},
         {.v = 2, .name = "F", .size = 6, .from = "Desk", .files = folder},
         "hyyxxx",
         {.answerToHeader = ""}},
        {{temp / "a.txt"}, {.v = 5, .name = "a.txt", .size = 5, .from = "Desk"}, "hello", {}, "1"},
        {{},
         {.v = 5, .name = "pair", .size = 0, .from = "Desk", .pair = true},
         "",
         {.readBody = false, .answerToBody = ""},
         "true"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected.name + " v" + std::to_string(row.expected.v));
        console.str("");
        test::ScopedEnv verbose("QUOBBLEFIN_VERBOSE", row.verbose);
        ScriptedReceiver receiver(row.script, row.verbose ? receiverKey.serverContext() : platform::TlsContext{});
        auto reports = send(row.items, receiver.port(), row.expected.v != Wire::generationNoWait,
                            row.verbose ? std::optional(receiverFingerprint) : std::nullopt, row.items.empty());
        ASSERT_TRUE(reports->wait());
        EXPECT_TRUE(reports->completions.front().ok());
        auto seen = receiver.wait();
        ASSERT_TRUE(seen && seen->header);
        if (row.verbose) {
            // Signed with the environment's identity: the receiver learns this device's own key.
            EXPECT_EQ(identity::checkSenderSignature(seen->header->cert, seen->header->sig, receiverFingerprint),
                      senderIdentity().ownFingerprint());
        }
        seen->header->cert.reset();
        seen->header->sig.reset();
        EXPECT_EQ(*seen->header, row.expected);
        EXPECT_EQ(platform::toString(seen->body), row.body);
        EXPECT_EQ(seen->strayBytes, 0U);
        EXPECT_EQ(reports->progress, row.body.empty() ? std::vector<double>{} : std::vector{1.0});
        EXPECT_EQ(reports->completions.size(), 1U);
        EXPECT_EQ(console.str(), row.verbose == "1" ? "tls negotiated 772\n" : "");
    }
}

TEST_F(FileSenderTest, EachAnswerOrItsAbsenceDecidesTheOutcome) {
    writeFile(temp / "a.txt", "hello");
    writeFile(temp / "big", std::string(3 << 20, 'b'));
    writeFile(temp / "not-a-folder", "");
    timings.goAhead = 200ms;
    using End = ReceiverScript::End;
    // How the sender pins: not at all, the receiver's key, a wrong key, without a key of its own, or the
    // receiver's key at a plain listener that never answers the handshake.
    enum class Pin { none, receivers, wrong, withoutOwnKey, atPlainListener };
    struct Row {
        const char* name;
        ReceiverScript script;
        TransferErrc expected;
        Pin pin = Pin::none;
        const char* item = "a.txt";  // none: a pairing
    };
    const ReceiverScript refusing{.answerToHeader = "NO\n", .readBody = false, .answerToBody = ""};
    const Row rows[] = {
        {"refused", refusing, TransferErrc::declined},
        {"silent", {.answerToHeader = "", .readBody = false, .answerToBody = ""}, TransferErrc::declined},
        {"closed instead of acknowledging", {.answerToBody = "", .end = End::close}, TransferErrc::connectionClosed},
        {"refused after the body", {.answerToBody = "ERR\n"}, TransferErrc::remote},
        // A refusal right behind the go-ahead stops the sender before its first body byte.
        {"refused with the go-ahead",
         {.answerToHeader = "GO\nERR\n", .readBody = false, .answerToBody = ""},
         TransferErrc::remote,
         Pin::none,
         "big"},
        {"pairing refused", refusing, TransferErrc::declined, Pin::receivers, nullptr},
        {"handshake never finished",
         {.readHeader = false, .end = End::hold},
         TransferErrc::timeout,
         Pin::atPlainListener},
        {"wrong pin", {}, TransferErrc::badPeerKey, Pin::wrong},
        {"no own key", {}, TransferErrc::badPeerKey, Pin::withoutOwnKey},  // last: it replaces the identity
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.pin == Pin::withoutOwnKey) {
            identity = std::make_unique<identity::Identity>(identity::Identity::Options{
                false, temp / "not-a-folder" / "keys", temp / "not-a-folder" / "settings.json", &identityConsole});
            ASSERT_FALSE(identity->hasIdentity());
        }
        timings.connect = row.pin == Pin::atPlainListener ? platform::Duration(200ms) : SenderTimings{}.connect;
        const bool tls = row.pin != Pin::none && row.pin != Pin::atPlainListener;
        ScriptedReceiver receiver(row.script, tls ? receiverKey.serverContext() : platform::TlsContext{});
        const auto key = row.pin == Pin::none    ? std::nullopt
                         : row.pin == Pin::wrong ? std::optional(std::string(64, '0'))
                                                 : std::optional(receiverFingerprint);
        auto reports = send(row.item ? std::vector{temp / row.item} : std::vector<fs::path>{}, receiver.port(), true,
                            key, !row.item);
        ASSERT_TRUE(reports->wait());
        const auto error = reports->completions.front().error();
        EXPECT_TRUE(error.is(row.expected)) << error.description();
        if (row.script.answerToBody == "ERR\n") {
            EXPECT_EQ(error.description(), "Destination refused: Write failed");
        }
        if (row.pin == Pin::wrong || row.pin == Pin::withoutOwnKey) {
            EXPECT_EQ(receiver.connections(), 0) << "no handshake completed, so no header was read";
        } else if (!row.script.readBody) {
            EXPECT_TRUE(reports->progress.empty());
            ASSERT_TRUE(receiver.wait()) << "the sender closed the connection";
            EXPECT_EQ(receiver.wait()->strayBytes, 0U) << "no body byte";
        }
    }
}

TEST_F(FileSenderTest, FileThatChangesWhileSendingFailsTheTransfer) {
    const std::string piece(Wire::kMaxBodyPiece, 'p');
    for (const bool grow : {false, true}) {
        const fs::path file = temp / (grow ? "grows" : "shrinks");
        writeFile(file, piece + piece + "tail");
        // Runs on the sender's strand right after the first piece went out, before the next one is read.
        onProgress = [file, grow, changed = false](double) mutable {
            if (std::exchange(changed, true))
                return;
            if (grow)
                std::ofstream(file, std::ios::app) << "more";
            else
                fs::resize_file(file, Wire::kMaxBodyPiece + 10);
        };
        ScriptedReceiver receiver({.answerToBody = "", .end = ReceiverScript::End::close});
        auto reports = send({file}, receiver.port());
        ASSERT_TRUE(reports->wait()) << file;
        EXPECT_EQ(reports->completions.front().error(), TransferError::io("Cannot read the source file")) << file;
    }
}

TEST_F(FileSenderTest, NothingToSendFailsOnTheCallersThreadWithoutConnecting) {
    ScriptedReceiver receiver({});
    for (const auto& items : {std::vector<fs::path>{}, std::vector<fs::path>{temp / "missing"}}) {
        auto reports = send(items, receiver.port());
        ASSERT_EQ(reports->completions.size(), 1U) << "reported before send returned";
        EXPECT_EQ(reports->completionThread, std::this_thread::get_id());
        EXPECT_EQ(reports->completions.front().error(), TransferError::io("Cannot read the source file"));
    }
    EXPECT_EQ(receiver.connections(), 0);
}

}  // namespace
}  // namespace qb::transfer
