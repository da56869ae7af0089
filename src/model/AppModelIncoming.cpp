#include <algorithm>
#include <cstdlib>
#include <iostream>

#include <QPointer>
#include <QUuid>

#include "l10n/L.h"
#include "model/AppModel.h"
#include "model/Inbox.h"
#include "model/IncomingDecision.h"
#include "model/MainThread.h"

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
    std::cout << "[quobblefin] listening as \"" << name << "\" port " << port << std::endl;
}

// Asks the main thread for the receive folder; the server calls this on its own strand for every transfer.
std::filesystem::path fetchSaveDir(const QPointer<AppModel>& model) {
    std::filesystem::path folder = std::filesystem::temp_directory_path();
    qtMainQueue().sync([&] {
        if (model) {
            folder = model->saveDir();
        }
    });
    return folder;
}

}  // namespace

void AppModel::startServer() {
    if (server_) {
        server_->cancel();
    }
    registeredName_.clear();
    ++serverGeneration_;
    transfer::TransferServer::Options options = config_.server.options;
    options.mainQueue = qtMainQueue();
    if (config_.server.makeAdvertiser) {
        options.advertiser = config_.server.makeAdvertiser();
    }
    QPointer<AppModel> self(this);
    auto created = transfer::TransferServer::create(
        settings_.deviceName, [self] { return fetchSaveDir(self); }, std::move(options));
    if (!created.server) {
        std::cout << "[quobblefin] listener error: " << created.error.message() << std::endl;
        Q_EMIT changed();
        return;
    }
    fillServerSlots(*created.server);
    created.server->start();
    server_ = std::move(created.server);
    Q_EMIT changed();
}

void AppModel::fillServerSlots(transfer::TransferServer& server) {
    QPointer<AppModel> self(this);
    const unsigned generation = serverGeneration_;
    server.onStarted = [self, generation](const std::string& name, std::uint16_t port) {
        postToMainThread([self, generation, name, port] {
            if (!self) {
                printListening(name, port);
                return;
            }
            // A replaced server's late report must not overwrite the current listener's name.
            if (generation != self->serverGeneration_) {
                return;
            }
            self->registeredName_ = name;
            self->port_ = port;
            printListening(name, port);
            Q_EMIT self->changed();
        });
    };
    // The server runs the gate on the main thread already.
    server.decide = [self](const transfer::FileHeader& header, const std::optional<std::string>& senderKey,
                           transfer::TransferServer::Answer answer) {
        if (!self) {
            answer(false);
            return;
        }
        self->decideIncoming(header, senderKey, std::move(answer));
    };
    server.onBegin = [self, weakServer = server.weak_from_this()](const std::string& id,
                                                                  const transfer::FileHeader& header) {
        postGuarded(self, [id, header, weakServer](AppModel& model) {
            model.beginIncoming(id, header);
            model.cancels_.watchIncoming(id, weakServer);
        });
    };
    server.onProgress = [self](const std::string& id, double fraction) {
        postGuarded(self, [id, fraction](AppModel& model) { model.setProgress(id, fraction); });
    };
    server.onFinish = [self](const std::string& id, const transfer::ReceiveResult& result) {
        postGuarded(self, [id, result](AppModel& model) { model.finishIncoming(id, result); });
    };
}

void AppModel::stopServer() {
    if (server_) {
        server_->cancel();
        server_.reset();
    }
    ++serverGeneration_;
    registeredName_.clear();
    port_ = 0;
}

bool AppModel::hasServer() const {
    return server_ != nullptr;
}

void AppModel::decideIncoming(const transfer::FileHeader& header, const std::optional<std::string>& senderKey,
                              transfer::TransferServer::Answer answer) {
    DecisionInputs in;
    in.autoAccept = autoAcceptIsOn();
    in.mode = settings_.receiveMode;
    in.pair = header.pair;
    in.hasSenderKey = senderKey.has_value();
    in.knownSender = isKnownSender(header.from, senderKey);
    in.senderKeyRecorded = senderKey && std::any_of(settings_.knownKeys.begin(), settings_.knownKeys.end(),
                                                    [&](const auto& entry) { return entry.second == *senderKey; });
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

void AppModel::queueRequest(const transfer::FileHeader& header, const std::optional<std::string>& senderKey,
                            transfer::TransferServer::Answer answer) {
    IncomingRequest request;
    request.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    answer.onWithdrawn([self = QPointer<AppModel>(this), id = request.id] {
        postGuarded(self, [id](AppModel& model) { model.withdrawRequest(id); });
    });
    request.from = header.from;
    request.key = senderKey;
    request.name = header.name;
    request.count = announcedFileCount(header);
    request.size = header.size;
    request.date = std::chrono::system_clock::now();
    request.pair = header.pair;
    request.answer = std::move(answer);
    requests_.push_back(std::move(request));
    Q_EMIT changed();
    playEventSound(eventSound::request);
    notify(l10n::L::format(l10n::L::t("req.title"), {header.from}), header.name);
    if (onRequest_) {
        onRequest_();
    }
}

void AppModel::respond(const IncomingRequest& waiting, bool accept, bool remember) {
    // A copy: `waiting` may be the very entry that leaves the list here.
    const IncomingRequest request = waiting;
    std::erase_if(requests_, [&](const IncomingRequest& entry) { return entry.id == request.id; });
    if (accept && request.key) {
        recordAcceptedSender(request);
        if (remember) {
            rememberSender(*request.key, request.from);
        }
    }
    Q_EMIT changed();
    if (request.answer) {
        request.answer(accept);
    }
}

void AppModel::withdrawRequest(const std::string& requestId) {
    if (std::erase_if(requests_, [&](const IncomingRequest& entry) { return entry.id == requestId; }) > 0) {
        Q_EMIT changed();
    }
}

void AppModel::rememberSender(const std::string& key, const std::string& name) {
    if (std::find(settings_.trusted.begin(), settings_.trusted.end(), key) == settings_.trusted.end()) {
        settings_.trusted.push_back(key);
        storeTrusted();
    }
    settings_.trustedNames[key] = name;
    storeTrustedNames();
}

void AppModel::beginIncoming(const std::string& transferId, const transfer::FileHeader& header) {
    incomingFrom_[transferId] = header.from;
    TransferJob job;
    job.id = transferId;
    job.name = header.name;
    job.peer = header.from;
    job.direction = TransferJob::Direction::incoming;
    appendJob(std::move(job));
}

void AppModel::finishIncoming(const std::string& transferId, const transfer::ReceiveResult& result) {
    std::string from = "?";
    if (const auto entry = incomingFrom_.find(transferId); entry != incomingFrom_.end()) {
        from = entry->second;
        incomingFrom_.erase(entry);
    }
    if (!result.ok()) {
        setState(transferId, TransferJob::State::failed(result.error().description()));
        return;
    }
    setState(transferId, TransferJob::State::done());
    const auto& items = result.items();
    const auto now = std::chrono::system_clock::now();
    std::vector<InboxItem> arrivals;
    arrivals.reserve(items.size());
    for (const auto& item : items) {
        arrivals.push_back(arrivedItem(item, from, now));
    }
    addArrivals(inbox_, arrivals);
    Q_EMIT changed();
    playEventSound(eventSound::received);
    const std::string body = items.size() == 1
                                 ? items.front().filename().string()
                                 : l10n::L::format(l10n::L::t("batch.name"), {std::to_string(items.size())});
    notify(l10n::L::format(l10n::L::t("notif.received"), {from}), body);
    if (!arrivals.empty() && onReceived_) {
        onReceived_(arrivals.front());
    }
}

}  // namespace qb::model
