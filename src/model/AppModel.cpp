#include "model/AppModel.h"

#include <QDir>
#include <QStandardPaths>
#include <QString>
#include <QTimer>

#include "identity/Identity.h"
#include "l10n/L.h"
#include "model/Inbox.h"
#include "model/PathText.h"
#include "platform/SettingsStore.h"

namespace qb::model {

namespace {

std::filesystem::path settingsFileOf(const ModelConfig& config) {
    return config.settingsFile.empty() ? platform::SettingsStore::defaultFile() : config.settingsFile;
}

}  // namespace

AppModel::AppModel(ModelConfig config, QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      store_(std::make_unique<platform::SettingsStore>(settingsFileOf(config_))),
      settings_(loadSettings(*store_, config_.sources)) {
    l10n::L::setLang(settings_.lang);
}

AppModel::~AppModel() = default;

void AppModel::start() {
    std::error_code ignored;
    std::filesystem::create_directories(settings_.saveDir, ignored);
    refreshInbox();
    if (settings_.receiveMode != ReceiveMode::off) {
        startServer();
    }
    // The peer browser and the presence monitor report through setPeers() and setUnreachable(); the browser
    // hides this device by registeredName() and ownKey().
    // The desktop's notification service asks for no permission, so there is nothing to request here; a
    // process that may not post notifications simply has no notify hook.
}

// Settings -------------------------------------------------------------------------------------------------

void AppModel::setDeviceName(std::string name) {
    settings_.deviceName = std::move(name);
    store_->setString(settingsKey::deviceName, settings_.deviceName);
    Q_EMIT changed();
}

void AppModel::applyDeviceName(std::string_view name) {
    std::string trimmed = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).trimmed().toStdString();
    if (trimmed.empty() || trimmed == settings_.deviceName) {
        return;
    }
    setDeviceName(std::move(trimmed));
    if (settings_.receiveMode != ReceiveMode::off) {
        startServer();
    }
}

void AppModel::setSaveDir(std::filesystem::path folder) {
    settings_.saveDir = std::move(folder);
    // Closing access to the old folder needs nothing on Linux; only the record is dropped.
    settings_.scopedDir.reset();
    store_->setString(settingsKey::saveDir, settings_.saveDir.native());
    if (const auto bookmark = folderBookmark::create(settings_.saveDir)) {
        store_->setData(settingsKey::saveDirBookmark, *bookmark);
        settings_.scopedDir = settings_.saveDir;
    }
    refreshInbox();
    Q_EMIT changed();
}

void AppModel::setPlaySound(bool on) {
    settings_.playSound = on;
    store_->setBoolean(settingsKey::playSound, on);
    Q_EMIT changed();
}

void AppModel::setLang(std::string code) {
    settings_.lang = std::move(code);
    l10n::L::setLang(settings_.lang);
    store_->setString(settingsKey::lang, settings_.lang);
    if (onLangChanged_) {
        onLangChanged_();
    }
    Q_EMIT changed();
}

void AppModel::setReceiveMode(ReceiveMode mode) {
    settings_.receiveMode = mode;
    store_->setString(settingsKey::receiveMode, toText(mode));
    if (mode == ReceiveMode::off) {
        stopServer();
    } else if (!hasServer()) {
        startServer();
    }
    Q_EMIT changed();
}

void AppModel::setTrusted(std::vector<std::string> keys) {
    settings_.trusted = std::move(keys);
    storeTrusted();
}

void AppModel::setTrustedNames(TextMap names) {
    settings_.trustedNames = std::move(names);
    storeTrustedNames();
}

void AppModel::setKnownKeys(TextMap keys) {
    settings_.knownKeys = std::move(keys);
    storeKnownKeys();
}

void AppModel::setDeviceNames(TextMap names) {
    settings_.deviceNames = std::move(names);
    storeDeviceNames();
}

void AppModel::setMyDevices(std::vector<std::string> ids) {
    settings_.myDevices = std::move(ids);
    storeMyDevices();
}

void AppModel::storeTrusted() {
    store_->setStringList(settingsKey::trusted, settings_.trusted);
    Q_EMIT changed();
}

void AppModel::storeTrustedNames() {
    store_->setStringMap(settingsKey::trustedNames, settings_.trustedNames);
    Q_EMIT changed();
}

void AppModel::storeKnownKeys() {
    store_->setStringMap(settingsKey::knownKeys, settings_.knownKeys);
    Q_EMIT changed();
}

void AppModel::storeDeviceNames() {
    store_->setStringMap(settingsKey::deviceNames, settings_.deviceNames);
    Q_EMIT changed();
}

void AppModel::storeMyDevices() {
    store_->setStringList(settingsKey::myDevices, settings_.myDevices);
    Q_EMIT changed();
}

// Discovery --------------------------------------------------------------------------------------------------

void AppModel::setPeers(std::vector<Peer> peers) {
    peers_ = std::move(peers);
    Q_EMIT changed();
}

void AppModel::setUnreachable(std::set<std::string> serviceNames) {
    unreachable_ = std::move(serviceNames);
    Q_EMIT changed();
}

DeviceLists AppModel::deviceLists() const {
    return DeviceLists({settings_.myDevices, settings_.deviceNames, settings_.knownKeys, peers_, settings_.deviceName,
                        ownKey(), unreachable_});
}

const std::string& AppModel::ownKey() const {
    if (!ownKey_) {
        ownKey_ = config_.ownKey ? config_.ownKey() : identity::Identity::shared().ownFingerprint();
    }
    return *ownKey_;
}

// Jobs -------------------------------------------------------------------------------------------------------

void AppModel::appendJob(TransferJob job) {
    jobs_.push_back(std::move(job));
    Q_EMIT changed();
}

void AppModel::setProgress(const std::string& jobId, double fraction) {
    const auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const TransferJob& j) { return j.id == jobId; });
    if (job == jobs_.end()) {
        return;
    }
    job->progress = fraction;
    Q_EMIT changed();
}

void AppModel::setState(const std::string& jobId, TransferJob::State state) {
    const auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const TransferJob& j) { return j.id == jobId; });
    if (job == jobs_.end()) {
        return;
    }
    const bool done = state.isDone();
    if (!state.isRunning()) {
        cancels_.forget(jobId);
    }
    job->state = std::move(state);
    if (done) {
        job->progress = 1.0;
    }
    removeJobLater(jobId, done ? config_.timings.doneLinger : config_.timings.failedLinger);
    Q_EMIT changed();
}

void AppModel::cancel(const std::string& jobId) {
    const auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const TransferJob& j) { return j.id == jobId; });
    if (job != jobs_.end() && job->state.isRunning()) {
        cancels_.cancel(jobId);
    }
}

void AppModel::removeJobLater(const std::string& jobId, std::chrono::milliseconds delay) {
    // The model is the timer's context: a model that is gone cancels the removal with it.
    QTimer::singleShot(delay, this, [this, jobId] {
        if (std::erase_if(jobs_, [&](const TransferJob& job) { return job.id == jobId; }) > 0) {
            Q_EMIT changed();
        }
    });
}

// Inbox ------------------------------------------------------------------------------------------------------

void AppModel::refreshInbox() {
    inbox_ = listInbox(settings_.saveDir, inbox_);
    Q_EMIT changed();
}

void AppModel::trash(const InboxItem& item) {
    // Qt 6.4 "trashes" into the working folder when the data folder that holds Trash does not exist yet.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    // A refused move is not reported: the item leaves the list and returns at the next rebuild if still there.
    QFile::moveToTrash(toQString(item.url));
    removeFromInbox(inbox_, item.url);
    Q_EMIT changed();
}

// Desktop services ----------------------------------------------------------------------------------------------

void AppModel::notify(const std::string& title, const std::string& body) {
    if (config_.desktop.notify) {
        config_.desktop.notify(title, body);
    }
}

void AppModel::playEventSound(std::string_view sound) {
    if (settings_.playSound && config_.desktop.playSound) {
        config_.desktop.playSound(sound);
    }
}

}  // namespace qb::model
