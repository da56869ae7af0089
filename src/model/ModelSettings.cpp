#include "model/ModelSettings.h"

#include <QCoreApplication>

#include "model/FolderBookmark.h"
#include "model/PathText.h"
#include "platform/Autostart.h"
#include "platform/SettingsStore.h"

namespace qb::model {

namespace {

std::filesystem::path runningExecutable() {
    return toPath(QCoreApplication::applicationFilePath());
}

void addValue(platform::SettingsStore::Changes& changes, const Settings& values, std::string_view key) {
    if (key == settingsKey::deviceName) {
        changes.setString(key, values.deviceName);
    } else if (key == settingsKey::saveDir) {
        changes.setString(key, values.saveDir.native());
    } else if (key == settingsKey::playSound) {
        changes.setBoolean(key, values.playSound);
    } else if (key == settingsKey::lang) {
        changes.setString(key, values.lang);
    } else if (key == settingsKey::receiveMode) {
        changes.setString(key, toText(values.receiveMode));
    } else if (key == settingsKey::trusted) {
        changes.setStringList(key, values.trusted);
    } else if (key == settingsKey::trustedNames) {
        changes.setStringMap(key, values.trustedNames);
    } else if (key == settingsKey::knownKeys) {
        changes.setStringMap(key, values.knownKeys);
    } else if (key == settingsKey::deviceNames) {
        changes.setStringMap(key, values.deviceNames);
    } else if (key == settingsKey::myDevices) {
        changes.setStringList(key, values.myDevices);
    } else if (key == settingsKey::deviceAddresses) {
        changes.setStringMap(key, values.deviceAddresses);
    } else if (key == settingsKey::panelFrame) {
        changes.setString(key, values.panelFrame);
    } else if (key == settingsKey::startAtLogin) {
        changes.setBoolean(key, values.startAtLogin);
    }
}

}  // namespace

ModelSettings::ModelSettings(const std::filesystem::path& file, const SettingsSources& sources)
    : store_(std::make_unique<platform::SettingsStore>(file)), values_(loadSettings(*store_, sources)) {}

ModelSettings::~ModelSettings() = default;

std::error_code ModelSettings::store(std::initializer_list<std::string_view> keys) {
    platform::SettingsStore::Changes changes;
    for (const std::string_view key : keys) {
        addValue(changes, values_, key);
    }
    return store_->apply(changes);
}

std::error_code ModelSettings::setDeviceName(std::string name) {
    values_.deviceName = std::move(name);
    return store({settingsKey::deviceName});
}

std::error_code ModelSettings::setSaveDir(std::filesystem::path folder) {
    values_.saveDir = std::move(folder);
    // Closing access to the old folder needs nothing on Linux; only the record is dropped.
    values_.scopedDir.reset();
    platform::SettingsStore::Changes changes;
    addValue(changes, values_, settingsKey::saveDir);
    // A bookmark that cannot be made leaves the stored one in place.
    const auto bookmark = folderBookmark::create(values_.saveDir);
    if (bookmark) {
        changes.setData(settingsKey::saveDirBookmark, *bookmark);
        values_.scopedDir = values_.saveDir;
    }
    return store_->apply(changes);
}

std::error_code ModelSettings::setPlaySound(bool on) {
    values_.playSound = on;
    return store({settingsKey::playSound});
}

std::error_code ModelSettings::setPanelFrame(std::string frame) {
    values_.panelFrame = std::move(frame);
    return store({settingsKey::panelFrame});
}

std::error_code ModelSettings::setLang(std::string code) {
    values_.lang = std::move(code);
    return store({settingsKey::lang});
}

std::error_code ModelSettings::setReceiveMode(ReceiveMode mode) {
    values_.receiveMode = mode;
    return store({settingsKey::receiveMode});
}

std::error_code ModelSettings::setStartAtLogin(bool on) {
    const platform::AutostartEntry entry;
    if (!(on ? entry.install(runningExecutable()) : entry.remove())) {
        return std::make_error_code(std::errc::io_error);
    }
    values_.startAtLogin = on;
    return store({settingsKey::startAtLogin});
}

void ModelSettings::refreshAutostart() const {
    if (values_.startAtLogin) {
        platform::AutostartEntry().install(runningExecutable());
    }
}

}  // namespace qb::model
