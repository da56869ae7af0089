#include "transfer/FileSender.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "identity/HeaderSignature.h"
#include "identity/Identity.h"
#include "platform/NetTestSupport.h"
#include "support/TestEnv.h"
#include "transfer/ScriptedReceiver.h"

namespace qb::transfer {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ReceiverScript;
using test::ScriptedReceiver;
using test::writeFile;

std::string text(const platform::Bytes& bytes) {
    return platform::toString(bytes);
}

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
    platform::NetRuntime runtime{2};         // last: stopped before anything its handlers use goes away
};

TEST_F(FileSenderTest, OneFileGoesOutAsHeaderThenItsBytesAndAnEmptyOneWithoutBody) {
    writeFile(temp / "a.txt", "hello");
    ScriptedReceiver receiver({});
    auto reports = send({temp / "a.txt"}, receiver.port());
    ASSERT_TRUE(reports->wait());
    const auto seen = receiver.wait();
    ASSERT_TRUE(seen && seen->header);
    EXPECT_TRUE(reports->completions.front().ok());
    EXPECT_EQ(*seen->header, (FileHeader{.v = 3, .name = "a.txt", .size = 5, .from = "Desk"}));
    EXPECT_EQ(text(seen->body), "hello");
    EXPECT_EQ(seen->strayBytes, 0U);
    EXPECT_EQ(reports->progress, std::vector<double>{1.0});
    EXPECT_EQ(reports->completions.size(), 1U);

    writeFile(temp / "empty", "");
    ScriptedReceiver second({});
    auto empty = send({temp / "empty"}, second.port());
    ASSERT_TRUE(empty->wait());
    EXPECT_TRUE(empty->completions.front().ok());
    EXPECT_TRUE(empty->progress.empty());
    ASSERT_TRUE(second.wait());
    EXPECT_EQ(second.wait()->header->size, 0);
    EXPECT_EQ(second.wait()->strayBytes, 0U);
}

TEST_F(FileSenderTest, FolderBodyFollowsItsEntriesAndGenerationTwoDoesNotWait) {
    writeFile(temp / "F" / "x", "xxx");
    writeFile(temp / "F" / "s" / "y", "yy");
    writeFile(temp / "F" / ".hidden", "h");
    writeFile(temp / "F" / "e", "");
    ScriptedReceiver receiver({.answerToHeader = ""});
    auto reports = send({temp / "F"}, receiver.port(), false);
    ASSERT_TRUE(reports->wait());
    EXPECT_TRUE(reports->completions.front().ok());
    const auto seen = receiver.wait();
    ASSERT_TRUE(seen && seen->header);
    EXPECT_EQ(seen->header->v, 2);
    EXPECT_EQ(seen->header->size, 6);
    EXPECT_EQ(text(seen->body), "hyyxxx");
    EXPECT_EQ(reports->progress, std::vector<double>{1.0}) << "the three files fit in one piece";
}

TEST_F(FileSenderTest, EachAnswerOrItsAbsenceDecidesTheOutcome) {
    writeFile(temp / "a.txt", "hello");
    writeFile(temp / "big", std::string(3 << 20, 'b'));
    timings.goAhead = 200ms;
    using End = ReceiverScript::End;
    struct Row {
        const char* name;
        ReceiverScript script;
        const char* item;
        TransferErrc expected;
        std::string description = "";
    };
    const Row rows[] = {
        {"refused", {.answerToHeader = "NO\n", .readBody = false, .answerToBody = ""}, "a.txt", TransferErrc::declined},
        {"silent", {.answerToHeader = "", .readBody = false, .answerToBody = ""}, "a.txt", TransferErrc::declined},
        {"closed instead of acknowledging",
         {.answerToBody = "", .end = End::close},
         "a.txt",
         TransferErrc::connectionClosed},
        {"refused after the body",
         {.answerToBody = "ERR\n"},
         "a.txt",
         TransferErrc::remote,
         "Destination refused: Write failed"},
        // A refusal right behind the go-ahead stops the sender before its first body byte.
        {"refused with the go-ahead",
         {.answerToHeader = "GO\nERR\n", .readBody = false, .answerToBody = ""},
         "big",
         TransferErrc::remote},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedReceiver receiver(row.script);
        auto reports = send({temp / row.item}, receiver.port());
        ASSERT_TRUE(reports->wait());
        const auto error = reports->completions.front().error();
        EXPECT_TRUE(error.is(row.expected)) << error.description();
        if (!row.description.empty()) {
            EXPECT_EQ(error.description(), row.description);
        }
        if (!row.script.readBody) {
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

// --- TLS: pinning, signed headers, pairing -------------------------------------------------------------------

class PinnedSenderTest : public FileSenderTest {
protected:
    test::TestIdentity receiverKey = test::TestIdentity::make();
    std::string receiverFingerprint = identity::Identity::fingerprint(receiverKey.certificateDer);
};

TEST_F(PinnedSenderTest, PinnedTransferSignsItsHeaderForTheReceiver) {
    writeFile(temp / "a.txt", "hello");
    ScriptedReceiver receiver({}, receiverKey.serverContext());
    test::ScopedEnv verbose("QUOBBLEFIN_VERBOSE", "1");
    auto reports = send({temp / "a.txt"}, receiver.port(), true, receiverFingerprint);
    ASSERT_TRUE(reports->wait());
    EXPECT_TRUE(reports->completions.front().ok());
    EXPECT_EQ(console.str(), "tls negotiated 772\n");
    const auto seen = receiver.wait();
    ASSERT_TRUE(seen && seen->header);
    EXPECT_EQ(seen->header->v, 5);
    EXPECT_EQ(text(seen->body), "hello");
    EXPECT_EQ(identity::checkSenderSignature(seen->header->cert, seen->header->sig, receiverFingerprint),
              senderIdentity().ownFingerprint());
}

TEST_F(PinnedSenderTest, AWrongPinOrNoOwnKeyFailsBeforeAnyApplicationByte) {
    writeFile(temp / "a.txt", "hello");
    writeFile(temp / "not-a-folder", "");
    for (const bool ownKey : {true, false}) {
        SCOPED_TRACE(ownKey ? "wrong pin" : "no own key");
        if (!ownKey) {
            identity = std::make_unique<identity::Identity>(identity::Identity::Options{
                false, temp / "not-a-folder" / "keys", temp / "not-a-folder" / "settings.json", &identityConsole});
            ASSERT_FALSE(identity->hasIdentity());
        }
        ScriptedReceiver receiver({}, receiverKey.serverContext());
        auto reports =
            send({temp / "a.txt"}, receiver.port(), true, ownKey ? std::string(64, '0') : receiverFingerprint);
        ASSERT_TRUE(reports->wait());
        EXPECT_TRUE(reports->completions.front().error().is(TransferErrc::badPeerKey));
        EXPECT_EQ(receiver.connections(), 0) << "no handshake completed, so no header was read";
    }
}

TEST_F(PinnedSenderTest, ListenerThatNeverFinishesTheHandshakeTimesOut) {
    timings.connect = 200ms;
    ScriptedReceiver mute({.readHeader = false, .end = ReceiverScript::End::hold});  // plain: never answers TLS
    writeFile(temp / "a.txt", "hello");
    auto reports = send({temp / "a.txt"}, mute.port(), true, receiverFingerprint);
    ASSERT_TRUE(reports->wait());
    EXPECT_TRUE(reports->completions.front().error().is(TransferErrc::timeout));
}

TEST_F(PinnedSenderTest, PairingSucceedsOnGoAheadAndIsDeclinedOtherwise) {
    test::ScopedEnv verbose("QUOBBLEFIN_VERBOSE", "true");  // only exactly "1" prints the TLS line
    ScriptedReceiver accepting({.readBody = false, .answerToBody = ""}, receiverKey.serverContext());
    auto accepted = send({}, accepting.port(), true, receiverFingerprint, true);
    ASSERT_TRUE(accepted->wait());
    EXPECT_TRUE(accepted->completions.front().ok());
    const auto seen = accepting.wait();
    ASSERT_TRUE(seen && seen->header);
    EXPECT_EQ(seen->header->name, "pair");
    EXPECT_TRUE(seen->header->pair);
    EXPECT_EQ(seen->header->size, 0);
    EXPECT_FALSE(seen->header->files);
    // Signed with the environment's identity: the receiver learns this device's own key, not another one.
    EXPECT_EQ(identity::checkSenderSignature(seen->header->cert, seen->header->sig, receiverFingerprint),
              senderIdentity().ownFingerprint());
    EXPECT_EQ(seen->strayBytes, 0U);

    ScriptedReceiver refusing({.answerToHeader = "NO\n", .readBody = false, .answerToBody = ""},
                              receiverKey.serverContext());
    auto declined = send({}, refusing.port(), true, receiverFingerprint, true);
    ASSERT_TRUE(declined->wait());
    EXPECT_TRUE(declined->completions.front().error().is(TransferErrc::declined));
    EXPECT_EQ(console.str(), "");
}

}  // namespace
}  // namespace qb::transfer
