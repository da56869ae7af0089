#include "model/Sending.h"

#include <utility>

#include <algorithm>

#include <QPointer>

#include "l10n/L.h"
#include "model/Jobs.h"
#include "model/MainThread.h"
#include "model/ModelSettings.h"
#include "model/PinChoice.h"
#include "model/TrustStore.h"
#include "platform/Crypto.h"
#include "transfer/FileSender.h"

namespace qb::model {

namespace {

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

// The configured sender, else the real one.
SenderHooks withRealSender(SenderHooks hooks) {
    if (!hooks.send) {
        hooks.send = [](SendRequest request, SenderHooks::Progress progress, SenderHooks::Completion completion) {
            transfer::SenderEnvironment environment;
            environment.cancellation = std::move(request.cancellation);
            transfer::FileSender::send(std::move(request.items), std::move(request.to), std::move(request.from),
                                       request.waitForGo, std::move(request.peerKey), false, std::move(progress),
                                       std::move(completion), environment);
        };
    }
    if (!hooks.pair) {
        hooks.pair = [](platform::Endpoint to, std::string from, std::string peerKey,
                        SenderHooks::Completion completion, std::shared_ptr<transfer::Cancellation> cancellation) {
            transfer::SenderEnvironment environment;
            environment.cancellation = std::move(cancellation);
            transfer::FileSender::pair(std::move(to), std::move(from), std::move(peerKey), std::move(completion),
                                       environment);
        };
    }
    return hooks;
}

}  // namespace

Sending::Sending(SenderHooks hooks, const ModelSettings& settings, TrustStore& trust, Jobs& jobs)
    : hooks_(withRealSender(std::move(hooks))), settings_(settings), trust_(trust), jobs_(jobs) {}

std::string Sending::appendJob(std::string name, const Peer& peer, bool pair) {
    TransferJob job;
    job.id = platform::randomUuid();
    job.name = std::move(name);
    job.peer = peer.name;
    job.direction = TransferJob::Direction::outgoing;
    job.pair = pair;
    std::string jobId = job.id;
    jobs_.append(std::move(job));
    return jobId;
}

void Sending::send(const std::vector<std::filesystem::path>& items, const Peer& peer) {
    if (items.empty()) {
        return;
    }
    const std::string jobId = appendJob(jobName(items), peer, false);

    const TextMap& knownKeys = settings_.values().knownKeys;
    const auto known = knownKeys.find(peer.name);
    const PinChoice choice =
        choosePin(peer, known == knownKeys.end() ? std::nullopt : std::optional<std::string>(known->second));
    const bool confirmed =
        choice.kind == PinChoice::Kind::confirm && trust_.trustNewKey(peer.name, known->second, choice.key);
    if (choice.kind == PinChoice::Kind::refuse || (choice.kind == PinChoice::Kind::confirm && !confirmed)) {
        jobs_.setState(jobId, TransferJob::State::failed(identityChangedText()));
        return;
    }
    std::optional<std::string> pinned;
    if (choice.kind != PinChoice::Kind::plain) {
        pinned = choice.key;
    }

    SendRequest request{items,          peer.endpoint, settings_.values().deviceName,
                        peer.proto > 2, pinned,        jobs_.cancels().watchOutgoing(jobId)};
    const QPointer<QObject> guard(&lifetime_);
    auto progress = [report = jobs_.progressReporter(), jobId](double fraction) { report(jobId, fraction); };
    auto completion = [this, guard, jobId, peerName = peer.name, pinned](transfer::TransferResult result) {
        postGuarded(guard, [this, jobId, peerName, pinned, result = std::move(result)](QObject&) {
            finishSend(jobId, peerName, pinned, result);
        });
    };
    hooks_.send(std::move(request), std::move(progress), std::move(completion));
}

void Sending::finishSend(const std::string& jobId, const std::string& peerName,
                         const std::optional<std::string>& pinned, const transfer::TransferResult& result) {
    if (!result.ok()) {
        jobs_.setState(jobId, TransferJob::State::failed(result.error().description()));
        return;
    }
    jobs_.setState(jobId, TransferJob::State::done());
    // A pinned key becomes the device's known key only once a transfer with it has gone through.
    if (pinned) {
        trust_.recordKnownKey(peerName, *pinned);
    }
}

void Sending::pairDevice(const Peer& peer) {
    const Settings& values = settings_.values();
    const std::string id = peer.key.value_or(peer.name);
    if (std::find(values.myDevices.begin(), values.myDevices.end(), id) != values.myDevices.end()) {
        return;
    }
    if (!peer.key) {
        if (peer.name != values.deviceName) {
            trust_.addDevice(peer.name, peer.name);
        }
        return;
    }
    if (*peer.key == trust_.ownKey()) {
        return;
    }
    if (peer.proto <= 4) {
        trust_.addDevice(peer.name, peer.name);
        return;
    }
    startPairing(peer, std::nullopt);
}

std::string Sending::startPairing(const Peer& peer, const std::optional<platform::HostPort>& address) {
    const Settings& values = settings_.values();
    const std::string jobId = appendJob(l10n::L::format(l10n::L::t("pair.waiting"), {peer.name}), peer, true);

    const auto known = values.knownKeys.find(peer.name);
    if (known != values.knownKeys.end() && known->second != *peer.key &&
        !trust_.trustNewKey(peer.name, known->second, *peer.key)) {
        jobs_.setState(jobId, TransferJob::State::failed(identityChangedText()));
        return jobId;
    }
    const QPointer<QObject> guard(&lifetime_);
    auto completion = [this, guard, jobId, peer, address](transfer::TransferResult result) {
        postGuarded(guard, [this, jobId, peer, address, result = std::move(result)](QObject&) {
            finishPairing(jobId, peer, address, result);
        });
    };
    hooks_.pair(peer.endpoint, values.deviceName, *peer.key, std::move(completion),
                jobs_.cancels().watchOutgoing(jobId));
    return jobId;
}

void Sending::finishPairing(const std::string& jobId, const Peer& peer,
                            const std::optional<platform::HostPort>& address, const transfer::TransferResult& result) {
    if (result.ok()) {
        trust_.pairWith(*peer.key, peer.name);
        if (address) {
            trust_.storeAddress(*peer.key, *address);
        }
        jobs_.setState(jobId, TransferJob::State::done());
    } else if (result.error().is(transfer::TransferErrc::declined)) {
        jobs_.setState(jobId, TransferJob::State::failed(l10n::L::format(l10n::L::t("pair.declined"), {peer.name})));
    } else {
        jobs_.setState(jobId, TransferJob::State::failed(result.error().description()));
    }
}

bool Sending::dropShare() {
    if (sharedItems_.empty()) {
        return false;
    }
    sharedItems_.clear();
    return true;
}

void Sending::sendShare(const Peer& peer) {
    send(std::exchange(sharedItems_, {}), peer);
}

}  // namespace qb::model
