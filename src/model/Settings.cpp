#include "model/Settings.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include <QStandardPaths>
#include <QSysInfo>

#include "l10n/L.h"
#include "model/FolderBookmark.h"
#include "model/PathText.h"
#include "platform/SettingsStore.h"

namespace qb::model {

namespace {

// Present means present in the environment; an empty value counts.
std::optional<std::string> environmentValue(const char* name) {
    if (const char* value = std::getenv(name)) {
        return std::string(value);
    }
    return std::nullopt;
}

// Used only when the machine reports no host name at all.
constexpr std::string_view kFallbackDeviceName = "Linux";

// Strips one level of shell quoting: '...' verbatim, "..." and bare text with backslash escapes.
std::string unquoteShellValue(std::string_view raw) {
    if (raw.size() >= 2 && raw.front() == '\'' && raw.back() == '\'') {
        return std::string(raw.substr(1, raw.size() - 2));
    }
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
        raw = raw.substr(1, raw.size() - 2);
    }
    std::string value;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size()) {
            ++i;
        }
        value.push_back(raw[i]);
    }
    return value;
}

std::filesystem::path receiveFolder(platform::SettingsStore& store, const std::optional<std::string>& override,
                                    const SettingsSources& sources, std::optional<std::filesystem::path>& scoped) {
    if (override) {
        return std::filesystem::path(*override);
    }
    if (const auto bookmark = store.data(settingsKey::saveDirBookmark)) {
        // An unresolvable bookmark means the default folder; the stored path is not consulted then.
        const auto resolved = folderBookmark::resolve(*bookmark);
        if (!resolved) {
            return defaultReceiveFolder(sources.downloadsFolder);
        }
        scoped = *resolved;
        return *resolved;
    }
    if (const auto stored = store.string(settingsKey::saveDir)) {
        return std::filesystem::path(*stored);
    }
    return defaultReceiveFolder(sources.downloadsFolder);
}

// Lists that once held device names come to hold key fingerprints; the names stay as labels. Both keys are
// stored in one write.
void migrateMyDevices(platform::SettingsStore& store, Settings& settings) {
    std::vector<std::string> migrated;
    migrated.reserve(settings.myDevices.size());
    bool labelled = false;
    for (const std::string& entry : settings.myDevices) {
        const auto known = settings.knownKeys.find(entry);
        if (known != settings.knownKeys.end() && known->second != entry) {
            migrated.push_back(known->second);
            settings.deviceNames[known->second] = entry;
            labelled = true;
        } else {
            migrated.push_back(entry);
        }
    }
    settings.myDevices = std::move(migrated);
    platform::SettingsStore::Changes changes;
    if (labelled) {
        changes.setStringMap(settingsKey::deviceNames, settings.deviceNames);
    }
    changes.setStringList(settingsKey::myDevices, settings.myDevices);
    // A store that cannot be written keeps its old list; the migration runs again at the next start.
    store.apply(changes);
}

}  // namespace

Settings loadSettings(platform::SettingsStore& store, const SettingsSources& sources) {
    const std::optional<std::string> nameOverride = environmentValue("QUOBBLEFIN_NAME");
    const std::optional<std::string> saveDirOverride = environmentValue("QUOBBLEFIN_SAVEDIR");

    Settings settings;
    if (nameOverride) {
        settings.deviceName = *nameOverride;
    } else if (auto stored = store.string(settingsKey::deviceName)) {
        settings.deviceName = std::move(*stored);
    } else {
        settings.deviceName = defaultDeviceName(sources.machineInfoFile);
    }
    settings.saveDir = receiveFolder(store, saveDirOverride, sources, settings.scopedDir);
    settings.playSound = store.boolean(settingsKey::playSound).value_or(true);
    if (auto stored = store.string(settingsKey::lang)) {
        settings.lang = std::move(*stored);
    } else {
        settings.lang = l10n::L::systemDefault();
    }
    settings.receiveMode =
        receiveModeFromText(store.string(settingsKey::receiveMode).value_or("")).value_or(ReceiveMode::everyone);
    settings.trusted = store.stringList(settingsKey::trusted).value_or(std::vector<std::string>{});
    settings.trustedNames = store.stringMap(settingsKey::trustedNames).value_or(TextMap{});
    settings.knownKeys = store.stringMap(settingsKey::knownKeys).value_or(TextMap{});
    settings.deviceNames = store.stringMap(settingsKey::deviceNames).value_or(TextMap{});
    settings.panelFrame = store.string(settingsKey::panelFrame).value_or("");
    if (auto stored = store.stringList(settingsKey::myDevices)) {
        settings.myDevices = std::move(*stored);
    } else {
        // The keys of a std::map are already in ascending text order.
        for (const auto& [name, key] : settings.knownKeys) {
            settings.myDevices.push_back(name);
        }
    }
    migrateMyDevices(store, settings);
    settings.startAtLogin = store.boolean(settingsKey::startAtLogin).value_or(false);
    settings.deviceAddresses = store.stringMap(settingsKey::deviceAddresses).value_or(TextMap{});
    return settings;
}

std::optional<std::string> prettyHostName(const std::filesystem::path& machineInfoFile) {
    std::ifstream file(machineInfoFile);
    constexpr std::string_view prefix = "PRETTY_HOSTNAME=";
    std::optional<std::string> found;
    std::string line;
    // The file is a handful of lines; the bound only guards against a runaway special file.
    for (int lines = 0; lines < 1000 && std::getline(file, line); ++lines) {
        if (line.starts_with(prefix)) {
            found = unquoteShellValue(std::string_view(line).substr(prefix.size()));
        }
    }
    return found;
}

std::string defaultDeviceName(const std::filesystem::path& machineInfoFile) {
    if (auto pretty = prettyHostName(machineInfoFile); pretty && !pretty->empty()) {
        return std::move(*pretty);
    }
    std::string host = QSysInfo::machineHostName().toStdString();
    return host.empty() ? std::string(kFallbackDeviceName) : host;
}

std::filesystem::path defaultReceiveFolder(const std::filesystem::path& downloadsFolder) {
    std::filesystem::path downloads = downloadsFolder;
    if (downloads.empty()) {
        downloads = toPath(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
    }
    return downloads / "Quobblefin";
}

namespace folderBookmark {

std::optional<platform::Bytes> create(const std::filesystem::path& folder) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        return std::nullopt;
    }
    return platform::toBytes(folder.native());
}

std::optional<std::filesystem::path> resolve(platform::ByteView bookmark) {
    std::filesystem::path folder(platform::toString(bookmark));
    std::error_code error;
    if (folder.empty() || !std::filesystem::exists(folder, error)) {
        return std::nullopt;
    }
    return folder;
}

}  // namespace folderBookmark

}  // namespace qb::model
