#include "model/IncomingTransfers.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include <QPointer>

#include "l10n/L.h"
#include "model/InboxFolder.h"
#include "model/IncomingDecision.h"
#include "model/Jobs.h"
#include "model/MainThread.h"
#include "model/ModelSettings.h"
#include "model/Notices.h"
#include "model/TrustStore.h"
#include "platform/Crypto.h"
#include "platform/Printable.h"

namespace qb::model {

namespace {

// Read at every decision, so that switching it on or off takes effect without a restart.
bool autoAcceptIsOn() {
    const char* value = std::getenv("QUOBBLEFIN_AUTOACCEPT");
    return value != nullptr && std::string_view(value) == "1";
}

int announcedFileCount(const transfer::FileHeader& header) {
    if (!header.files) {
        return 1;
    }
    return static_cast<int>(
        std::count_if(header.files->begin(), header.files->end(), [](const transfer::FileEntry& e) { return !e.d; }));
}

void printListening(const std::string& name, std::uint16_t port) {
    // Scripts wait for this line, so it must not sit in a buffer.
    std::cout << "[quobblefin] listening as \"" << platform::printable(name) << "\" port " << port << std::endl;
}

}  // namespace

IncomingTransfers::IncomingTransfers(ServerSetup setup, Parts parts, std::function<void()> changed)
    : setup_(std::move(setup)), parts_(parts), changed_(std::move(changed)) {}

IncomingTransfers::~IncomingTransfers() {
    if (server_) {
        server_->cancel();
    }
}

void IncomingTransfers::start() {
    if (server_) {
        server_->cancel();
    }
    registeredName_.clear();
    ++serverGeneration_;
    transfer::TransferServer::Options options = setup_.options;
    options.mainQueue = qtMainQueue();
    if (setup_.makeAdvertiser) {
        options.advertiser = setup_.makeAdvertiser();
    }
    // Asks the main thread for the receive folder; the server calls this on its own strand for every transfer.
    auto saveDir = [guard = QPointer<QObject>(&lifetime_), &settings = parts_.settings] {
        std::filesystem::path folder = std::filesystem::temp_directory_path();
        qtMainQueue().sync([&] {
            if (guard) {
                folder = settings.values().saveDir;
            }
        });
        return folder;
    };
    auto created =
        transfer::TransferServer::create(parts_.settings.values().deviceName, std::move(saveDir), std::move(options));
    if (!created.server) {
        std::cout << "[quobblefin] listener error: " << created.error.message() << std::endl;
        changed();
        return;
    }
    fillServerSlots(*created.server);
    created.server->start();
    server_ = std::move(created.server);
    changed();
}

void IncomingTransfers::fillServerSlots(transfer::TransferServer& server) {
    const QPointer<QObject> guard(&lifetime_);
    const unsigned generation = serverGeneration_;
    server.onStarted = [this, guard, generation](const std::string& name, std::uint16_t port) {
        postToMainThread([this, guard, generation, name, port] {
            if (!guard) {
                printListening(name, port);
                return;
            }
            // A replaced server's late report must not overwrite the current listener's name.
            if (generation != serverGeneration_) {
                return;
            }
            registeredName_ = name;
            port_ = port;
            printListening(name, port);
            changed();
        });
    };
    // The server runs the gate on the main thread already.
    server.decide = [this, guard](const transfer::FileHeader& header, const std::optional<std::string>& senderKey,
                                  transfer::TransferServer::Answer answer) {
        if (!guard) {
            answer(false);
            return;
        }
        decide(header, senderKey, std::move(answer));
    };
    server.onBegin = [this, guard, weakServer = server.weak_from_this()](const std::string& id,
                                                                         const transfer::FileHeader& header) {
        postGuarded(guard, [this, id, header, weakServer](QObject&) {
            begin(id, header);
            parts_.jobs.cancels().watchIncoming(id, weakServer);
        });
    };
    server.onProgress = parts_.jobs.progressReporter();
    server.onFinish = [this, guard](const std::string& id, const transfer::ReceiveResult& result) {
        postGuarded(guard, [this, id, result](QObject&) { finish(id, result); });
    };
}

void IncomingTransfers::stop() {
    if (server_) {
        server_->cancel();
        server_.reset();
    }
    ++serverGeneration_;
    registeredName_.clear();
    port_ = 0;
}

void IncomingTransfers::decide(const transfer::FileHeader& header, const std::optional<std::string>& senderKey,
                               transfer::TransferServer::Answer answer) {
    DecisionInputs in;
    in.autoAccept = autoAcceptIsOn();
    in.mode = parts_.settings.values().receiveMode;
    in.pair = header.pair;
    in.hasSenderKey = senderKey.has_value();
    in.knownSender = parts_.trust.isKnownSender(header.from, senderKey);
    in.senderKeyRecorded = senderKey && parts_.trust.isKeyRecorded(*senderKey);
    in.waitingRequests = requests_.size();
    switch (verdictFor(in)) {
        case Verdict::accept:
            answer(true);
            return;
        case Verdict::decline:
            answer(false);
            return;
        case Verdict::ask:
            queueRequest(header, senderKey, std::move(answer));
            return;
    }
}

void IncomingTransfers::queueRequest(const transfer::FileHeader& header, const std::optional<std::string>& senderKey,
                                     transfer::TransferServer::Answer answer) {
    IncomingRequest request;
    request.id = platform::randomUuid();
    answer.onWithdrawn([this, guard = QPointer<QObject>(&lifetime_), id = request.id] {
        postGuarded(guard, [this, id](QObject&) { withdraw(id); });
    });
    request.from = header.from;
    request.key = senderKey;
    request.name = header.name;
    request.count = announcedFileCount(header);
    request.size = header.size;
    request.date = std::chrono::system_clock::now();
    request.pair = header.pair;
    request.answer = std::move(answer);
    const std::string requestId = request.id;
    requests_.push_back(std::move(request));
    changed();
    parts_.notices.playSound(eventSound::request);
    const auto ticket = parts_.notices.notify(l10n::L::format(l10n::L::t("req.title"), {header.from}), header.name,
                                              Notices::requestActions(answerFromNotification(requestId)));
    if (auto* queued = findRequest(requestId)) {
        queued->notification = ticket;
    }
    parts_.notices.requestQueued();
}

std::function<void(bool)> IncomingTransfers::answerFromNotification(const std::string& requestId) {
    // An answer from the card first, or this part gone, leaves nothing for the button to do.
    return [self = this, alive = QPointer<QObject>(&lifetime_), requestId](bool accept) {
        if (!alive) {
            return;
        }
        if (const auto* request = self->findRequest(requestId)) {
            self->respond(*request, accept, false);
        }
    };
}

void IncomingTransfers::respond(const IncomingRequest& waiting, bool accept, bool remember) {
    // A copy: `waiting` may be the very entry that leaves the list here.
    const IncomingRequest request = waiting;
    std::erase_if(requests_, [&](const IncomingRequest& entry) { return entry.id == request.id; });
    parts_.notices.withdraw(request.notification);
    if (accept && request.key) {
        parts_.trust.recordAcceptedSender(request);
        if (remember) {
            parts_.trust.rememberSender(*request.key, request.from);
        }
    }
    changed();
    if (request.answer) {
        request.answer(accept);
    }
}

void IncomingTransfers::withdraw(const std::string& requestId) {
    if (const auto* request = findRequest(requestId)) {
        parts_.notices.withdraw(request->notification);
        std::erase_if(requests_, [&](const IncomingRequest& entry) { return entry.id == requestId; });
        changed();
    }
}

IncomingRequest* IncomingTransfers::findRequest(const std::string& requestId) {
    const auto entry = std::find_if(requests_.begin(), requests_.end(),
                                    [&](const IncomingRequest& request) { return request.id == requestId; });
    return entry == requests_.end() ? nullptr : &*entry;
}

void IncomingTransfers::begin(const std::string& transferId, const transfer::FileHeader& header) {
    incomingFrom_[transferId] = header.from;
    TransferJob job;
    job.id = transferId;
    job.name = header.name;
    job.peer = header.from;
    job.direction = TransferJob::Direction::incoming;
    parts_.jobs.append(std::move(job));
}

void IncomingTransfers::finish(const std::string& transferId, const transfer::ReceiveResult& result) {
    std::string from = "?";
    if (const auto entry = incomingFrom_.find(transferId); entry != incomingFrom_.end()) {
        from = entry->second;
        incomingFrom_.erase(entry);
    }
    if (!result.ok()) {
        parts_.jobs.setState(transferId, TransferJob::State::failed(result.error().description()));
        return;
    }
    parts_.jobs.setState(transferId, TransferJob::State::done());
    const auto& items = result.items();
    const std::vector<InboxItem> arrivals = parts_.inbox.addArrivals(items, from);
    parts_.notices.playSound(eventSound::received);
    const std::string body = items.size() == 1
                                 ? items.front().filename().string()
                                 : l10n::L::format(l10n::L::t("batch.name"), {std::to_string(items.size())});
    parts_.notices.notify(l10n::L::format(l10n::L::t("notif.received"), {from}), body,
                          arrivals.empty() ? std::vector<platform::NotificationAction>{}
                                           : parts_.notices.arrivalActions(arrivals.front().url));
    if (!arrivals.empty()) {
        parts_.notices.received(arrivals.front());
    }
}

}  // namespace qb::model
