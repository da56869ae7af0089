#include <QPointer>
#include <QUuid>

#include "l10n/L.h"
#include "model/AppModel.h"
#include "model/MainThread.h"
#include "model/PinChoice.h"
#include "transfer/FileSender.h"

namespace qb::model {

namespace {

std::string newId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
}

// The name an item is shown under: its last path component, also when the path ends in a separator.
std::string itemName(const std::filesystem::path& item) {
    const std::filesystem::path name = item.filename();
    return name.empty() ? item.parent_path().filename().string() : name.string();
}

std::string jobName(const std::vector<std::filesystem::path>& items) {
    if (items.size() == 1) {
        return itemName(items.front());
    }
    return l10n::L::format(l10n::L::t("batch.name"), {std::to_string(items.size())});
}

std::string identityChangedText() {
    return transfer::TransferError::of(transfer::TransferErrc::identityChanged).description();
}

}  // namespace

void AppModel::send(const std::vector<std::filesystem::path>& items, const Peer& peer) {
    if (items.empty()) {
        return;
    }
    TransferJob job;
    job.id = newId();
    job.name = jobName(items);
    job.peer = peer.name;
    job.direction = TransferJob::Direction::outgoing;
    const std::string jobId = job.id;
    appendJob(std::move(job));

    const auto known = settings_.knownKeys.find(peer.name);
    const PinChoice choice =
        choosePin(peer, known == settings_.knownKeys.end() ? std::nullopt : std::optional<std::string>(known->second));
    const bool confirmed = choice.kind == PinChoice::Kind::confirm && trustNewKey(peer.name, known->second, choice.key);
    if (choice.kind == PinChoice::Kind::refuse || (choice.kind == PinChoice::Kind::confirm && !confirmed)) {
        setState(jobId, TransferJob::State::failed(identityChangedText()));
        return;
    }
    std::optional<std::string> pinned;
    if (choice.kind != PinChoice::Kind::plain) {
        pinned = choice.key;
    }

    auto cancellation = cancels_.watchOutgoing(jobId);
    SendRequest request{items, peer.endpoint, settings_.deviceName, peer.proto > 2, pinned, std::move(cancellation)};
    QPointer<AppModel> self(this);
    auto progress = [self, jobId](double fraction) {
        postGuarded(self, [jobId, fraction](AppModel& model) { model.setProgress(jobId, fraction); });
    };
    auto completion = [self, jobId, peerName = peer.name, pinned](transfer::TransferResult result) {
        postGuarded(self, [jobId, peerName, pinned, result = std::move(result)](AppModel& model) {
            model.finishOutgoing(jobId, peerName, pinned, result);
        });
    };
    senderHooks().send(std::move(request), std::move(progress), std::move(completion));
}

void AppModel::finishOutgoing(const std::string& jobId, const std::string& peerName,
                              const std::optional<std::string>& pinned, const transfer::TransferResult& result) {
    if (!result.ok()) {
        setState(jobId, TransferJob::State::failed(result.error().description()));
        return;
    }
    setState(jobId, TransferJob::State::done());
    // A pinned key becomes the device's known key only once a transfer with it has gone through.
    if (pinned) {
        settings_.knownKeys[peerName] = *pinned;
        storeKnownKeys();
    }
}

void AppModel::pairDevice(const Peer& peer) {
    const std::string id = peer.key.value_or(peer.name);
    if (std::find(settings_.myDevices.begin(), settings_.myDevices.end(), id) != settings_.myDevices.end()) {
        return;
    }
    if (!peer.key) {
        if (peer.name != settings_.deviceName) {
            addDevice(peer.name, peer.name);
        }
        return;
    }
    if (*peer.key == ownKey()) {
        return;
    }
    if (peer.proto <= 4) {
        addDevice(peer.name, peer.name);
        return;
    }
    startPairing(peer, std::nullopt);
}

void AppModel::startPairing(const Peer& peer, const std::optional<platform::HostPort>& address) {
    TransferJob job;
    job.id = newId();
    job.name = l10n::L::format(l10n::L::t("pair.waiting"), {peer.name});
    job.peer = peer.name;
    job.pair = true;
    const std::string jobId = job.id;
    appendJob(std::move(job));

    const auto known = settings_.knownKeys.find(peer.name);
    if (known != settings_.knownKeys.end() && known->second != *peer.key &&
        !trustNewKey(peer.name, known->second, *peer.key)) {
        setState(jobId, TransferJob::State::failed(identityChangedText()));
        return;
    }
    QPointer<AppModel> self(this);
    auto completion = [self, jobId, peer, address](transfer::TransferResult result) {
        postGuarded(self, [jobId, peer, address, result = std::move(result)](AppModel& model) {
            model.finishPairing(jobId, peer, address, result);
        });
    };
    senderHooks().pair(peer.endpoint, settings_.deviceName, *peer.key, std::move(completion),
                       cancels_.watchOutgoing(jobId));
}

void AppModel::finishPairing(const std::string& jobId, const Peer& peer,
                             const std::optional<platform::HostPort>& address, const transfer::TransferResult& result) {
    if (result.ok()) {
        settings_.knownKeys[peer.name] = *peer.key;
        storeKnownKeys();
        addDevice(*peer.key, peer.name);
        if (address) {
            storeAddress(*peer.key, *address);
        }
        setState(jobId, TransferJob::State::done());
    } else if (result.error().is(transfer::TransferErrc::declined)) {
        setState(jobId, TransferJob::State::failed(l10n::L::format(l10n::L::t("pair.declined"), {peer.name})));
    } else {
        setState(jobId, TransferJob::State::failed(result.error().description()));
    }
}

}  // namespace qb::model

namespace qb::model {

const SenderHooks& AppModel::senderHooks() {
    if (!config_.sender.send) {
        config_.sender.send = [](SendRequest request, SenderHooks::Progress progress,
                                 SenderHooks::Completion completion) {
            transfer::SenderEnvironment environment;
            environment.cancellation = std::move(request.cancellation);
            transfer::FileSender::send(std::move(request.items), std::move(request.to), std::move(request.from),
                                       request.waitForGo, std::move(request.peerKey), false, std::move(progress),
                                       std::move(completion), environment);
        };
    }
    if (!config_.sender.pair) {
        config_.sender.pair = [](platform::Endpoint to, std::string from, std::string peerKey,
                                 SenderHooks::Completion completion,
                                 std::shared_ptr<transfer::Cancellation> cancellation) {
            transfer::SenderEnvironment environment;
            environment.cancellation = std::move(cancellation);
            transfer::FileSender::pair(std::move(to), std::move(from), std::move(peerKey), std::move(completion),
                                       environment);
        };
    }
    return config_.sender;
}

}  // namespace qb::model
