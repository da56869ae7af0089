#include "transfer/TransferServer.h"

#include <asio/bind_executor.hpp>
#include <asio/co_spawn.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include <algorithm>
#include <exception>
#include <utility>

#include "identity/HeaderSignature.h"
#include "identity/Identity.h"
#include "platform/AsTuple.h"
#include "platform/Contained.h"
#include "platform/Crypto.h"
#include "transfer/FileNames.h"
#include "transfer/HeaderReader.h"

namespace qb::transfer {

namespace fs = std::filesystem;
using platform::Stream;

namespace {

using platform::kAsTuple;

// Every header text that becomes a path: the entries' paths and the name of a single file or folder.
bool allPathsSafe(const FileHeader& header) {
    if (!isSafeName(header.name)) {
        return false;
    }
    if (!header.files) {
        return true;
    }
    return std::all_of(header.files->begin(), header.files->end(),
                       [](const FileEntry& entry) { return safeRelativePath(entry.p).has_value(); });
}

bool answersHeader(const FileHeader& header) {
    return header.v >= Wire::generationWaits;
}

// The owner's answer to one header. Lives on the server's strand: the answer function hops there, the
// gate's timer fires there.
struct GateState {
    explicit GateState(asio::any_io_executor executor) : strand(std::move(executor)) {}

    void settle(bool accept) {
        if (answered) {
            return;
        }
        answered = true;
        accepted = accept;
        if (wake) {
            wake->cancel();
        }
    }

    // The sender gave up before any answer: the gate declines, and the owner learns that its request is void.
    void withdraw() {
        if (answered) {
            return;
        }
        withdrawn = true;
        settle(false);
        if (auto notify = std::exchange(onWithdrawn, nullptr)) {
            notify();
        }
    }

    void watch(std::function<void()> notify) {
        if (withdrawn) {
            notify();
        } else if (!answered) {
            onWithdrawn = std::move(notify);
        }
    }

    asio::any_io_executor strand;
    asio::steady_timer* wake = nullptr;  // the waiting gate's timer, while it waits
    bool answered = false;
    bool accepted = false;
    bool withdrawn = false;
    std::function<void()> onWithdrawn;
};

}  // namespace

// One accepted connection from its header to its last reply. Owned by its coroutine; holds the server
// weakly except while the owner is being asked.
class ServerConnection {
public:
    ServerConnection(std::weak_ptr<TransferServer> server, Stream stream, ServerTimings timings)
        : server_(std::move(server)), stream_(std::move(stream)), timings_(timings) {}

    // Takes a place among the connections waiting for their header; losing it closes this one.
    void wait(platform::WaitingConnections& waiting) {
        std::error_code unknown;
        const auto peer = stream_.tcpSocket().remote_endpoint(unknown);
        waiting_ = waiting.admit(peer.address(), [this] { stream_.close(); });
    }

    static asio::awaitable<void> run(std::unique_ptr<ServerConnection> self) {
        const auto header = co_await readHeader(self->stream_);
        self->waiting_.release();
        if (!header) {
            self->stream_.close();
            co_return;
        }
        const auto accepted = co_await self->checkAndAsk(*header);
        if (accepted) {
            co_await self->proceed(*header, *accepted);
        }
    }

private:
    // The sender check, then the gate. Nothing when the connection already ended.
    asio::awaitable<std::optional<bool>> checkAndAsk(const FileHeader& header) {
        auto server = server_.lock();
        if (!server) {
            stream_.close();
            co_return std::nullopt;
        }
        std::optional<std::string> senderKey;
        if (stream_.isTls()) {
            senderKey = identity::checkSenderSignature(header.cert, header.sig, server->ownFingerprint_);
            if (!senderKey) {
                server.reset();
                co_await reply(Wire::replyNo);
                co_return std::nullopt;
            }
        }
        co_return co_await gate(std::move(server), header, std::move(senderKey));
    }

    // Asks the owner; `server` stays alive until the answer or the time-out has come. Nothing when the sender
    // went away while the owner was being asked.
    asio::awaitable<std::optional<bool>> gate(std::shared_ptr<TransferServer> server, const FileHeader& header,
                                              std::optional<std::string> senderKey) {
        if (!server->decide) {
            co_return true;
        }
        const auto executor = co_await asio::this_coro::executor;
        auto state = std::make_shared<GateState>(executor);
        asio::steady_timer timer(executor, timings_.gate);
        state->wake = &timer;
        TransferServer::Answer answer(
            [state](bool accept) { asio::post(state->strand, [state, accept] { state->settle(accept); }); },
            [state](std::function<void()> notify) {
                asio::post(state->strand, [state, notify = std::move(notify)]() mutable { state->watch(notify); });
            });
        // A sender that gives up while its user waits resets the connection. Anything else that becomes
        // readable meanwhile (a body sent ahead, a half-close) leaves the request standing.
        const bool watching = answersHeader(header);
        if (watching) {
            watchForReset(state);
        }
        auto ask = [decide = server->decide, header, senderKey = std::move(senderKey), answer = std::move(answer)] {
            // A decision that throws declines; the gate's answer then comes at once instead of at the time-out.
            if (!platform::contained("decide", [&] { decide(header, senderKey, answer); })) {
                answer(false);
            }
        };
        if (const auto& post = server->options_.mainQueue.post) {
            post(std::move(ask));
        } else {
            ask();
        }
        co_await timer.async_wait(kAsTuple);
        state->wake = nullptr;
        if (watching) {
            std::error_code ignored;
            stream_.tcpSocket().cancel(ignored);
        }
        state->settle(false);  // no answer in time declines; an answer already given stays
        if (state->withdrawn) {
            stream_.close();
            co_return std::nullopt;
        }
        co_return state->accepted;
    }

    // Waits, until the gate stops it, for the connection to be reset while the gate is unanswered. A wake-up
    // with nothing to read waits again; anything else ends the watch.
    void watchForReset(const std::shared_ptr<GateState>& state) {
        stream_.tcpSocket().async_wait(asio::socket_base::wait_read,
                                       asio::bind_executor(state->strand, [this, state](const std::error_code& error) {
                                           // Unanswered, the gate still waits and the connection lives.
                                           if (error || state->answered) {
                                               return;
                                           }
                                           switch (stream_.peek()) {
                                               case Stream::Readiness::quiet:
                                                   watchForReset(state);
                                                   return;
                                               case Stream::Readiness::reset:
                                                   state->withdraw();
                                                   return;
                                               case Stream::Readiness::readable:
                                                   return;
                                           }
                                       }));
    }

    asio::awaitable<void> proceed(const FileHeader& header, bool accepted) {
        if (accepted && header.pair) {
            co_await reply(Wire::replyGo);
            co_return;
        }
        if (!accepted || !allPathsSafe(header)) {
            // An older sender expects no answer to its header: closing is its refusal.
            if (answersHeader(header)) {
                co_await reply(Wire::replyNo);
            } else {
                stream_.close();
            }
            co_return;
        }
        // GCC 12 miscompiles a co_await inside && or ||, hence the plain statements.
        std::error_code goFailed;
        if (answersHeader(header)) {
            goFailed = co_await stream_.writeAll(platform::asBytes(Wire::replyGo));
        }
        if (goFailed) {
            stream_.close();
            co_return;
        }
        co_await receive(header);
    }

    asio::awaitable<void> receive(const FileHeader& header) {
        auto server = server_.lock();
        if (!server) {
            stream_.close();
            co_return;
        }
        // The reports are copied so that a body under way finishes, and reports its end, by itself.
        const std::string id = platform::randomUuid();
        const auto onBegin = server->onBegin;
        const auto onProgress = server->onProgress;
        const auto onFinish = server->onFinish;
        const auto saveDir = server->saveDir_;
        const auto cancellation = Cancellation::make();
        server->receiving_[id] = cancellation;
        server.reset();
        const ReceiveReports reports{[&](const FileHeader& started) {
                                         if (onBegin) {
                                             onBegin(id, started);
                                         }
                                     },
                                     [&](double fraction) {
                                         if (onProgress) {
                                             onProgress(id, fraction);
                                         }
                                     }};
        std::error_code noTemp;
        const fs::path base = saveDir ? saveDir() : fs::temp_directory_path(noTemp);
        const auto strand = co_await asio::this_coro::executor;
        auto closing = cancellation->bind(strand, [this] { stream_.close(); });
        auto outcome = co_await receiveBody(stream_, header, base, reports);
        closing = {};
        forgetReceiving(id);
        if (outcome.ending == BodyEnding::failed && cancellation->isCancelled()) {
            outcome.result = TransferError(TransferErrc::cancelled);
        }
        const auto finish = [&] {
            if (onFinish) {
                onFinish(id, outcome.result);
            }
        };
        if (outcome.ending == BodyEnding::failed) {
            stream_.close();
            finish();
            co_return;
        }
        co_await sendReply(outcome.ending == BodyEnding::ok ? Wire::replyOk : Wire::replyErr);
        finish();
        co_await closeAfterPause();
    }

    void forgetReceiving(const std::string& id) {
        if (auto server = server_.lock()) {
            server->receiving_.erase(id);
        }
    }

    // A reply that ends the exchange: the connection closes a moment after it was sent.
    asio::awaitable<void> reply(std::string_view text) {
        co_await sendReply(text);
        co_await closeAfterPause();
    }

    asio::awaitable<void> sendReply(std::string_view text) {
        // A failed send still ends in the close below; there is nobody to tell.
        const auto failed = co_await stream_.writeAll(platform::asBytes(text));
        if (!failed && stream_.isOpen()) {
            // Our side is finished: the peer reads the reply and then the end of the stream.
            std::error_code ignored;
            stream_.tcpSocket().shutdown(asio::socket_base::shutdown_send, ignored);
        }
    }

    asio::awaitable<void> closeAfterPause() {
        const auto executor = co_await asio::this_coro::executor;
        asio::steady_timer pause(executor, timings_.replyClose);
        co_await pause.async_wait(kAsTuple);
        stream_.close();
    }

    std::weak_ptr<TransferServer> server_;
    Stream stream_;
    const ServerTimings timings_;
    platform::WaitingConnections::Ticket waiting_;  // until the header is in
};

TransferServer::CreateResult TransferServer::create(std::string serviceName, SaveDir saveDir, Options options) {
    auto& runtime = options.runtime ? *options.runtime : platform::NetRuntime::shared();
    const identity::Identity* identity = options.identity ? *options.identity : &identity::Identity::shared();
    platform::TlsContext tls;
    std::string ownFingerprint;
    if (identity && identity->hasIdentity()) {
        // A key the TLS library refuses leaves the device a plain listener, as having no identity does.
        auto made = platform::makeServerTlsContext(identity->certDer(), identity->privateKey()->native());
        if (!made.error) {
            tls = std::move(made.context);
            ownFingerprint = identity->ownFingerprint();
        }
    }
    auto strand = runtime.makeStrand();
    platform::Acceptor::Options listening;
    listening.bindAddress = options.bindAddress;
    listening.tls = std::move(tls);
    auto waiting = platform::WaitingConnections::make(options.waitingCaps);
    listening.waiting = waiting;
    auto opened = platform::Acceptor::open(strand, std::move(listening));
    if (opened.error) {
        return {opened.error, nullptr};
    }
    auto server = std::make_shared<TransferServer>(PrivateTag{}, std::move(serviceName), std::move(saveDir),
                                                   std::move(options), std::move(ownFingerprint),
                                                   std::move(opened.acceptor), std::move(waiting), std::move(strand));
    return {{}, std::move(server)};
}

TransferServer::TransferServer(PrivateTag, std::string serviceName, SaveDir saveDir, Options options,
                               std::string ownFingerprint, std::shared_ptr<platform::Acceptor> acceptor,
                               std::shared_ptr<platform::WaitingConnections> waiting, platform::Strand strand)
    : serviceName_(std::move(serviceName)),
      advertisedName_(Wire::asciiName(serviceName_)),
      saveDir_(std::move(saveDir)),
      options_(std::move(options)),
      ownFingerprint_(std::move(ownFingerprint)),
      acceptor_(std::move(acceptor)),
      waiting_(std::move(waiting)),
      strand_(std::move(strand)) {}

TransferServer::~TransferServer() {
    asio::post(strand_, [acceptor = acceptor_, advertiser = options_.advertiser] {
        acceptor->cancel();
        if (advertiser) {
            advertiser->withdraw();
        }
    });
}

void TransferServer::start() {
    asio::post(strand_, [self = shared_from_this()] { self->startOnStrand(); });
}

void TransferServer::cancel() {
    asio::post(strand_, [self = shared_from_this()] {
        self->cancelled_ = true;
        self->acceptor_->cancel();
        if (self->options_.advertiser) {
            self->options_.advertiser->withdraw();
        }
    });
}

void TransferServer::cancelTransfer(const std::string& transferId) {
    asio::post(strand_, [weak = weak_from_this(), transferId] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        if (const auto entry = self->receiving_.find(transferId); entry != self->receiving_.end()) {
            entry->second->cancel();
        }
    });
}

platform::ServiceAdvertiser::TxtRecord TransferServer::txtRecord() const {
    const int generation = isTls() ? Wire::generationTls : Wire::generationWaits;
    platform::ServiceAdvertiser::TxtRecord txt{{"v", std::to_string(generation)}, {"n", serviceName_}};
    if (isTls()) {
        txt["k"] = ownFingerprint_;
    }
    return txt;
}

void TransferServer::startOnStrand() {
    if (started_ || cancelled_) {
        return;
    }
    started_ = true;
    const std::weak_ptr<TransferServer> weak = weak_from_this();
    acceptor_->start([weak](Stream stream) {
        if (auto self = weak.lock()) {
            self->accept(std::move(stream));
        }
    });
    if (!options_.advertiser) {
        reportStarted(advertisedName_);
        return;
    }
    // Registration results arrive on the responder's thread and hop to the strand.
    const auto onStrand = [weak, strand = strand_](std::optional<std::string> registeredName) {
        asio::post(strand, [weak, registeredName = std::move(registeredName)] {
            if (auto self = weak.lock()) {
                self->reportStarted(registeredName.value_or(self->advertisedName_));
            }
        });
    };
    options_.advertiser->advertise({advertisedName_, std::string(kServiceType), port(), txtRecord()},
                                   {[onStrand](std::string registeredName) { onStrand(std::move(registeredName)); },
                                    [onStrand](std::error_code) { onStrand(std::nullopt); }});
}

void TransferServer::reportStarted(const std::string& registeredName) {
    if (!cancelled_ && onStarted) {
        platform::contained("onStarted", [&] { onStarted(registeredName, port()); });
    }
}

void TransferServer::accept(Stream stream) {
    auto connection = std::make_unique<ServerConnection>(weak_from_this(), std::move(stream), options_.timings);
    connection->wait(*waiting_);
    // An exception out of a connection (a slot that throws, say) ends that connection only.
    asio::co_spawn(strand_, ServerConnection::run(std::move(connection)), platform::reportEscapes("connection"));
}

}  // namespace qb::transfer
