#include "model/AppModel.h"

#include <QString>

#include "l10n/L.h"
#include "model/Discovery.h"
#include "model/InboxFolder.h"
#include "model/IncomingTransfers.h"
#include "model/Jobs.h"
#include "model/ModelServices.h"
#include "model/ModelSettings.h"
#include "model/Notices.h"
#include "model/Sending.h"
#include "model/TrustStore.h"
#include "platform/SettingsStore.h"

namespace qb::model {

namespace {

std::filesystem::path settingsFileOf(const ModelConfig& config) {
    return config.settingsFile.empty() ? platform::SettingsStore::defaultFile() : config.settingsFile;
}

}  // namespace

AppModel::AppModel(ModelConfig config, QObject* parent)
    : QObject(parent), settings_(std::make_unique<ModelSettings>(settingsFileOf(config), config.sources)) {
    const auto changed = [this] { announce(); };
    trust_ = std::make_unique<TrustStore>(
        *settings_, TrustStore::Hooks{std::move(config.ownKey), config.desktop.confirmKeyChange, changed});
    jobs_ = std::make_unique<Jobs>(config.timings, changed);
    notices_ = std::make_unique<Notices>(std::move(config.desktop), *settings_);
    inbox_ = std::make_unique<InboxFolder>(changed);
    incoming_ = std::make_unique<IncomingTransfers>(
        std::move(config.server), IncomingTransfers::Parts{*settings_, *trust_, *jobs_, *inbox_, *notices_}, changed);
    sending_ = std::make_unique<Sending>(std::move(config.sender), *settings_, *trust_, *jobs_);
    discovery_ = std::make_unique<Discovery>(*this, std::move(config.discovery));
    l10n::L::setLang(settings_->values().lang);
}

AppModel::~AppModel() = default;

void AppModel::announce() {
    Q_EMIT changed();
}

void AppModel::start() {
    std::error_code ignored;
    std::filesystem::create_directories(saveDir(), ignored);
    refreshInbox();
    if (receiveMode() != ReceiveMode::off) {
        startServer();
    }
    settings_->refreshAutostart();
    discovery_->start();
    // The desktop's notification service asks for no permission, so there is nothing to request here; a
    // process that may not post notifications simply has no notify hook.
}

// Settings and their effects ----------------------------------------------------------------------------------

const std::string& AppModel::deviceName() const {
    return settings_->values().deviceName;
}

void AppModel::setDeviceName(std::string name) {
    settings_->setDeviceName(std::move(name));
    announce();
}

void AppModel::applyDeviceName(std::string_view name) {
    std::string trimmed = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).trimmed().toStdString();
    if (trimmed.empty() || trimmed == deviceName()) {
        return;
    }
    setDeviceName(std::move(trimmed));
    if (receiveMode() != ReceiveMode::off) {
        startServer();
    }
}

const std::filesystem::path& AppModel::saveDir() const {
    return settings_->values().saveDir;
}

void AppModel::setSaveDir(std::filesystem::path folder) {
    settings_->setSaveDir(std::move(folder));
    refreshInbox();
}

const std::optional<std::filesystem::path>& AppModel::scopedDir() const {
    return settings_->values().scopedDir;
}

const std::string& AppModel::panelFrame() const {
    return settings_->values().panelFrame;
}

void AppModel::setPanelFrame(std::string frame) {
    settings_->setPanelFrame(std::move(frame));
}

bool AppModel::playSound() const {
    return settings_->values().playSound;
}

void AppModel::setPlaySound(bool on) {
    settings_->setPlaySound(on);
    announce();
}

const std::string& AppModel::lang() const {
    return settings_->values().lang;
}

void AppModel::setLang(std::string code) {
    l10n::L::setLang(code);
    settings_->setLang(std::move(code));
    notices_->langChanged();
    announce();
}

ReceiveMode AppModel::receiveMode() const {
    return settings_->values().receiveMode;
}

void AppModel::setReceiveMode(ReceiveMode mode) {
    settings_->setReceiveMode(mode);
    if (mode == ReceiveMode::off) {
        incoming_->stop();
    } else if (!incoming_->isRunning()) {
        incoming_->start();
    }
    announce();
}

bool AppModel::startAtLogin() const {
    return settings_->values().startAtLogin;
}

void AppModel::setStartAtLogin(bool on) {
    settings_->setStartAtLogin(on);
    announce();
}

const std::vector<std::string>& AppModel::trusted() const {
    return settings_->values().trusted;
}

void AppModel::setTrusted(std::vector<std::string> keys) {
    settings_->edit().trusted = std::move(keys);
    settings_->store({settingsKey::trusted});
    announce();
}

const TextMap& AppModel::trustedNames() const {
    return settings_->values().trustedNames;
}

void AppModel::setTrustedNames(TextMap names) {
    settings_->edit().trustedNames = std::move(names);
    settings_->store({settingsKey::trustedNames});
    announce();
}

const TextMap& AppModel::knownKeys() const {
    return settings_->values().knownKeys;
}

void AppModel::setKnownKeys(TextMap keys) {
    settings_->edit().knownKeys = std::move(keys);
    settings_->store({settingsKey::knownKeys});
    announce();
}

const TextMap& AppModel::deviceNames() const {
    return settings_->values().deviceNames;
}

void AppModel::setDeviceNames(TextMap names) {
    settings_->edit().deviceNames = std::move(names);
    settings_->store({settingsKey::deviceNames});
    announce();
}

const std::vector<std::string>& AppModel::myDevices() const {
    return settings_->values().myDevices;
}

void AppModel::setMyDevices(std::vector<std::string> ids) {
    settings_->edit().myDevices = std::move(ids);
    settings_->store({settingsKey::myDevices});
    announce();
}

// Incoming transfers -------------------------------------------------------------------------------------------

const std::string& AppModel::registeredName() const {
    return incoming_->registeredName();
}

std::uint16_t AppModel::port() const {
    return incoming_->port();
}

const std::vector<IncomingRequest>& AppModel::requests() const {
    return incoming_->requests();
}

void AppModel::startServer() {
    incoming_->start();
}

void AppModel::decideIncoming(const transfer::FileHeader& header, const std::optional<std::string>& senderKey,
                              std::function<void(bool)> answer) {
    incoming_->decide(header, senderKey, std::move(answer));
}

void AppModel::finishIncoming(const std::string& transferId, const transfer::ReceiveResult& result) {
    incoming_->finish(transferId, result);
}

void AppModel::respond(const IncomingRequest& request, bool accept, bool remember) {
    incoming_->respond(request, accept, remember);
}

// Discovery and trust ------------------------------------------------------------------------------------------

const std::vector<Peer>& AppModel::peers() const {
    return trust_->peers();
}

void AppModel::setPeers(std::vector<Peer> peers) {
    trust_->setPeers(std::move(peers));
}

const std::set<std::string>& AppModel::unreachable() const {
    return trust_->unreachable();
}

void AppModel::setUnreachable(std::set<std::string> serviceNames) {
    trust_->setUnreachable(std::move(serviceNames));
}

DeviceLists AppModel::deviceLists() const {
    return trust_->deviceLists();
}

const std::string& AppModel::ownKey() const {
    return trust_->ownKey();
}

void AppModel::addDevice(const std::string& id, const std::optional<std::string>& label) {
    trust_->addDevice(id, label);
}

void AppModel::pairDevice(const Peer& peer) {
    sending_->pairDevice(peer);
}

bool AppModel::trustNewKey(const std::string& name, const std::string& oldKey, const std::string& newKey) {
    return trust_->trustNewKey(name, oldKey, newKey);
}

void AppModel::checkAddress(const std::string& host, std::uint16_t port,
                            std::function<void(const AddressCheck&)> done) {
    sending_->checkAddress(host, port, std::move(done));
}

std::string AppModel::pairAddress(const AddressCheck& checked, const std::optional<std::string>& label) {
    return sending_->pairAddress(checked, label);
}

std::map<std::string, platform::HostPort> AppModel::deviceAddresses() const {
    return trust_->deviceAddresses();
}

std::optional<Peer> AppModel::reachablePeer(const std::string& id) const {
    return trust_->reachablePeer(id);
}

void AppModel::removeDevice(const std::string& id) {
    trust_->removeDevice(id);
}

bool AppModel::isKnownSender(const std::string& name, const std::optional<std::string>& key) const {
    return trust_->isKnownSender(name, key);
}

KeyChangePrompt AppModel::keyChangePrompt(const std::string& name, const std::string& oldKey,
                                          const std::string& newKey) {
    return TrustStore::keyChangePrompt(name, oldKey, newKey);
}

// Sending, jobs, inbox, notices ----------------------------------------------------------------------------------

void AppModel::send(const std::vector<std::filesystem::path>& items, const Peer& peer) {
    sending_->send(items, peer);
}

const std::vector<std::filesystem::path>& AppModel::sharedItems() const {
    return sending_->sharedItems();
}

void AppModel::stageShare(std::vector<std::filesystem::path> items) {
    sending_->stageShare(std::move(items));
    announce();
}

void AppModel::dropShare() {
    if (sending_->dropShare()) {
        announce();
    }
}

void AppModel::sendShare(const Peer& peer) {
    sending_->sendShare(peer);
    announce();
}

const std::vector<TransferJob>& AppModel::jobs() const {
    return jobs_->list();
}

void AppModel::appendJob(TransferJob job) {
    jobs_->append(std::move(job));
}

void AppModel::setProgress(const std::string& jobId, double fraction) {
    jobs_->setProgress(jobId, fraction);
}

void AppModel::setState(const std::string& jobId, TransferJob::State state) {
    jobs_->setState(jobId, std::move(state));
}

void AppModel::cancel(const std::string& jobId) {
    jobs_->cancel(jobId);
}

const std::vector<InboxItem>& AppModel::inbox() const {
    return inbox_->items();
}

void AppModel::refreshInbox() {
    inbox_->refresh(saveDir());
}

void AppModel::trash(const InboxItem& item) {
    inbox_->trash(item);
}

void AppModel::notify(const std::string& title, const std::string& body,
                      std::vector<platform::NotificationAction> actions) {
    notices_->notify(title, body, std::move(actions));
}

void AppModel::setOnLangChanged(std::function<void()> callback) {
    notices_->setOnLangChanged(std::move(callback));
}

void AppModel::setOnReceived(std::function<void(const InboxItem&)> callback) {
    notices_->setOnReceived(std::move(callback));
}

void AppModel::setOnRequest(std::function<void()> callback) {
    notices_->setOnRequest(std::move(callback));
}

}  // namespace qb::model
