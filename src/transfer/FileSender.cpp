#include "transfer/FileSender.h"

#include <asio/co_spawn.hpp>
#include <asio/this_coro.hpp>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string_view>
#include <utility>

#include "identity/HeaderSignature.h"
#include "identity/Identity.h"
#include "l10n/L.h"
#include "platform/Connect.h"
#include "platform/Contained.h"
#include "platform/NetError.h"
#include "platform/NetRuntime.h"
#include "transfer/BodyReader.h"
#include "transfer/SendPlan.h"

namespace qb::transfer {

namespace {

using l10n::L;
using platform::Bytes;
using platform::Stream;

// The receiver's replies are a few bytes each; the sender looks at no more than this many per read.
constexpr std::size_t kReplyReadSize = 16;
// Reply text that has grown this long without a verdict comes from something that does not speak the protocol.
constexpr std::size_t kMaxReplyText = 4096;
// After a failed body write, how long to look for a refusal the receiver may already have sent. It is already
// in the socket's buffer when it exists, so the wait is short.
constexpr platform::Duration kRefusalLookLimit = std::chrono::milliseconds(200);

// Everything one transfer needs once planning is done; owned by its coroutine.
struct Transfer {
    SendPlan plan;
    platform::Endpoint to;
    bool waitForGo = true;
    std::optional<std::string> peerKey;
    FileSender::Progress progress;
    const identity::Identity* identity = nullptr;
    std::ostream* console = nullptr;
    SenderTimings timings;
    std::shared_ptr<Cancellation> cancellation;
};

bool verboseTls() {
    const char* verbose = std::getenv("QUOBBLEFIN_VERBOSE");
    return verbose != nullptr && std::string_view(verbose) == "1";
}

bool isRefusal(std::string_view replies) {
    return replies.find("ERR") != std::string_view::npos || replies.find("NO") != std::string_view::npos;
}

TransferError readSourceFailure() {
    return TransferError::io(L::t("err.readSource"));
}

TransferError refusedByReceiver() {
    return TransferError::remote(L::t("err.writeFail"));
}

TransferError connectFailure(const platform::ConnectResult& connected) {
    if (connected.stream.keyRejected() || connected.error == platform::NetError::peerKeyRejected)
        return TransferErrc::badPeerKey;
    if (connected.error == asio::error::timed_out)
        return TransferErrc::timeout;
    return TransferError::system(connected.error);
}

std::optional<platform::PinnedTls> pinFor(const std::optional<std::string>& peerKey) {
    std::optional<platform::PinnedTls> tls;
    if (peerKey) {
        platform::PinCheck pin = [expected = *peerKey](platform::ByteView leafDer) {
            return identity::Identity::fingerprint(leafDer) == expected;
        };
        tls.emplace(std::move(pin));
    }
    return tls;
}

// The header prefix, signed for the pinned receiver. Without a private key the header cannot prove who sends
// it, and a TLS receiver would refuse it anyway, so the transfer fails before it connects.
std::optional<Bytes> headerPrefix(Transfer& transfer) {
    FileHeader& header = transfer.plan.header;
    if (transfer.peerKey) {
        if (transfer.identity == nullptr || !transfer.identity->hasIdentity())
            return std::nullopt;
        if (auto proof = identity::signForReceiver(*transfer.identity, *transfer.peerKey)) {
            header.cert = std::move(proof->certB64);
            header.sig = std::move(proof->sigB64);
        }
    }
    return Wire::encodePrefix(header);
}

void announceTls(const Transfer& transfer, const Stream& stream) {
    const auto version = stream.negotiatedTlsVersion();
    if (!version || !verboseTls())
        return;
    const std::string line = "tls negotiated " + std::to_string(*version) + "\n";
    transfer.console->write(line.data(), static_cast<std::streamsize>(line.size()));
    transfer.console->flush();
}

struct GoAhead {
    std::optional<TransferError> refusal;  // none: the body may follow
    std::string rest;                      // reply bytes that came behind "GO\n": the start of the acknowledgement
};

// Reads the receiver's answer to the header. A reply cut after its first byte is read on, so a "G" and an
// "O\n" that arrive apart still make a go-ahead.
asio::awaitable<GoAhead> awaitGoAhead(Stream& stream, platform::Duration limit) {
    std::string text;
    std::error_code readError;
    platform::Deadline deadline(stream.executor(), limit, [&stream] { stream.close(); });
    std::array<std::uint8_t, kReplyReadSize> buffer{};
    while (text.size() < 2 && std::string_view("GO").starts_with(text)) {
        const auto read = co_await stream.readSome(buffer);
        if (read.error) {
            readError = read.error;
            break;
        }
        text.append(reinterpret_cast<const char*>(buffer.data()), read.size);
    }
    GoAhead answer;
    if (text.starts_with("GO"))
        answer.rest = text.substr(text.starts_with("GO\n") ? 3 : 2);
    else if (readError && readError != asio::error::eof && !deadline.expired())
        answer.refusal = TransferError::system(readError);
    else  // a refusal, a close, or no answer in time
        answer.refusal = TransferErrc::declined;
    co_return answer;
}

// Reads replies until one decides the outcome. `replies` may already hold what came behind the go-ahead.
asio::awaitable<TransferResult> awaitAcknowledgement(Stream& stream, std::string replies) {
    std::array<std::uint8_t, kReplyReadSize> buffer{};
    while (replies.size() <= kMaxReplyText) {
        if (replies.find("OK") != std::string::npos)
            co_return TransferResult::success();
        if (isRefusal(replies))
            co_return refusedByReceiver();
        const auto read = co_await stream.readSome(buffer);
        if (read.error == asio::error::eof)
            co_return TransferErrc::connectionClosed;
        if (read.error)
            co_return TransferError::system(read.error);
        replies.append(reinterpret_cast<const char*>(buffer.data()), read.size);
    }
    co_return TransferErrc::connectionClosed;
}

// A receiver that refuses the body replies and closes while pieces are still on their way; the write then fails
// with a reset. What it said is still in the socket's buffer and is the better explanation.
asio::awaitable<TransferError> explainWriteFailure(Stream& stream, std::error_code writeError) {
    std::array<std::uint8_t, kReplyReadSize> buffer{};
    const auto read = co_await stream.readSome(buffer, kRefusalLookLimit);
    if (!read.error && isRefusal(std::string_view(reinterpret_cast<const char*>(buffer.data()), read.size)))
        co_return refusedByReceiver();
    co_return TransferError::system(writeError);
}

// Writes the body one piece at a time: the next piece is read only once the previous one has been written.
asio::awaitable<std::optional<TransferError>> sendBody(Transfer& transfer, Stream& stream) {
    const std::int64_t total = transfer.plan.header.size;
    BodyReader reader(std::move(transfer.plan.files), Wire::kMaxBodyPiece);
    Bytes piece;
    std::int64_t sent = 0;
    for (;;) {
        const auto status = reader.next(piece);
        if (status == BodyReader::Status::done)
            co_return std::nullopt;
        if (status == BodyReader::Status::failed)
            co_return readSourceFailure();
        if (const auto error = co_await stream.writeAll(piece))
            co_return co_await explainWriteFailure(stream, error);
        sent += static_cast<std::int64_t>(piece.size());
        if (transfer.progress)
            transfer.progress(static_cast<double>(sent) / static_cast<double>(std::max<std::int64_t>(total, 1)));
    }
}

asio::awaitable<TransferResult> exchange(Transfer& transfer) {
    const auto prefix = headerPrefix(transfer);
    if (!prefix)
        co_return TransferErrc::badPeerKey;
    const auto strand = co_await asio::this_coro::executor;
    auto tls = pinFor(transfer.peerKey);
    Cancellation::Binding connecting;
    const platform::ConnectAbort exposeAbort = [&](std::function<void()> abort) {
        connecting = bindCancellation(transfer.cancellation, strand, std::move(abort));
    };
    auto connected = co_await platform::connect(transfer.to, std::move(tls), transfer.timings.connect, exposeAbort);
    connecting = {};
    if (connected.error)
        co_return connectFailure(connected);
    Stream& stream = connected.stream;
    // From here on a cancel closes the connection, which ends whatever the transfer waits for. While the receiver's
    // user may be being asked (from the header on), the close is a reset: the receiver tells it from a sender that
    // merely finished sending and takes its question back.
    bool awaitingAnswer = transfer.waitForGo;
    const auto whileOpen = bindCancellation(transfer.cancellation, strand, [&stream, &awaitingAnswer] {
        if (awaitingAnswer)
            stream.abort();
        else
            stream.close();
    });
    announceTls(transfer, stream);
    if (const auto error = co_await stream.writeAll(*prefix))
        co_return TransferError::system(error);

    std::string replies;
    if (transfer.waitForGo) {
        auto goAhead = co_await awaitGoAhead(stream, transfer.timings.goAhead);
        awaitingAnswer = false;
        if (goAhead.refusal)
            co_return *goAhead.refusal;
        if (transfer.plan.header.pair)
            co_return TransferResult::success();
        // The receiver may refuse its layout right behind the go-ahead; then no body byte goes out.
        if (isRefusal(goAhead.rest))
            co_return refusedByReceiver();
        replies = std::move(goAhead.rest);
    }
    if (auto failure = co_await sendBody(transfer, stream))
        co_return *failure;
    co_return co_await awaitAcknowledgement(stream, std::move(replies));
}

// A failure that a cancel caused is reported as the cancel, whatever the closed connection said.
asio::awaitable<TransferResult> runTransfer(Transfer transfer) {
    auto result = co_await exchange(transfer);
    if (!result.ok() && isCancelled(transfer.cancellation))
        result = TransferErrc::cancelled;
    co_return result;
}

void start(Transfer transfer, FileSender::Completion completion, platform::NetRuntime& runtime) {
    auto strand = runtime.makeStrand();  // "quobblefin.send": this transfer's serial queue
    asio::co_spawn(strand, runTransfer(std::move(transfer)),
                   [completion = std::move(completion)](std::exception_ptr failure, TransferResult result) {
                       // Nothing on the way throws by design; should something still do, the transfer ends
                       // like a connection that went away.
                       if (failure) {
                           platform::reportEscaped("transfer", failure);
                           result = TransferErrc::connectionClosed;
                       }
                       if (completion)
                           platform::contained("transfer completion", [&] { completion(std::move(result)); });
                   });
}

const identity::Identity* signingIdentity(const std::optional<std::string>& peerKey,
                                          const SenderEnvironment& environment) {
    if (!peerKey)
        return nullptr;
    return environment.identity != nullptr ? environment.identity : &identity::Identity::shared();
}

}  // namespace

void FileSender::send(std::vector<std::filesystem::path> fileURLs, platform::Endpoint to, std::string from,
                      bool waitForGo, std::optional<std::string> peerKey, bool pair, Progress progress,
                      Completion completion) {
    send(std::move(fileURLs), std::move(to), std::move(from), waitForGo, std::move(peerKey), pair, std::move(progress),
         std::move(completion), SenderEnvironment{});
}

void FileSender::send(std::vector<std::filesystem::path> fileURLs, platform::Endpoint to, std::string from,
                      bool waitForGo, std::optional<std::string> peerKey, bool pair, Progress progress,
                      Completion completion, const SenderEnvironment& environment) {
    std::optional<SendPlan> plan =
        pair ? planPairing(from) : planSend(fileURLs, from, senderGeneration(peerKey.has_value(), waitForGo));
    if (!plan) {
        if (completion)
            completion(readSourceFailure());
        return;
    }
    Transfer transfer;
    transfer.plan = std::move(*plan);
    transfer.to = std::move(to);
    transfer.waitForGo = waitForGo || pair;
    transfer.identity = signingIdentity(peerKey, environment);
    transfer.peerKey = std::move(peerKey);
    transfer.progress = std::move(progress);
    transfer.console = environment.console != nullptr ? environment.console : &std::cout;
    transfer.timings = environment.timings;
    transfer.cancellation = environment.cancellation;
    auto& runtime = environment.runtime != nullptr ? *environment.runtime : platform::NetRuntime::shared();
    start(std::move(transfer), std::move(completion), runtime);
}

void FileSender::pair(platform::Endpoint to, std::string from, std::string peerKey, Completion completion) {
    pair(std::move(to), std::move(from), std::move(peerKey), std::move(completion), SenderEnvironment{});
}

void FileSender::pair(platform::Endpoint to, std::string from, std::string peerKey, Completion completion,
                      const SenderEnvironment& environment) {
    send({}, std::move(to), std::move(from), true, std::move(peerKey), true, {}, std::move(completion), environment);
}

}  // namespace qb::transfer
