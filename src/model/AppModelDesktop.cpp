#include <QCoreApplication>

#include "model/AppModel.h"
#include "model/PathText.h"
#include "platform/Autostart.h"
#include "platform/SettingsStore.h"

namespace qb::model {

namespace {

std::filesystem::path runningExecutable() {
    return toPath(QCoreApplication::applicationFilePath());
}

}  // namespace

void AppModel::setStartAtLogin(bool on) {
    const platform::AutostartEntry entry;
    const bool written = on ? entry.install(runningExecutable()) : entry.remove();
    // An entry that could not be written leaves the toggle as it was, so it never shows what is not so.
    if (written) {
        settings_.startAtLogin = on;
        store_->setBoolean(settingsKey::startAtLogin, on);
    }
    Q_EMIT changed();
}

void AppModel::refreshAutostart() {
    if (settings_.startAtLogin) {
        platform::AutostartEntry().install(runningExecutable());
    }
}

void AppModel::stageShare(std::vector<std::filesystem::path> items) {
    sharedItems_ = std::move(items);
    Q_EMIT changed();
}

void AppModel::dropShare() {
    if (sharedItems_.empty()) {
        return;
    }
    sharedItems_.clear();
    Q_EMIT changed();
}

void AppModel::sendShare(const Peer& peer) {
    const std::vector<std::filesystem::path> items = std::exchange(sharedItems_, {});
    Q_EMIT changed();
    send(items, peer);
}

}  // namespace qb::model
