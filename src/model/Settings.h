#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/ReceiveMode.h"

namespace qb::platform {
class SettingsStore;
}

namespace qb::model {

// Keys of the per-user settings store. "identity.cert" belongs to the device identity, never to the model.
namespace settingsKey {
inline constexpr std::string_view deviceName = "deviceName";
inline constexpr std::string_view saveDirBookmark = "saveDirBookmark";
inline constexpr std::string_view saveDir = "saveDir";
inline constexpr std::string_view playSound = "playSound";
inline constexpr std::string_view lang = "lang";
inline constexpr std::string_view receiveMode = "receiveMode";
inline constexpr std::string_view trusted = "trusted";
inline constexpr std::string_view trustedNames = "trustedNames";
inline constexpr std::string_view knownKeys = "knownKeys";
inline constexpr std::string_view deviceNames = "deviceNames";
inline constexpr std::string_view myDevices = "myDevices";
inline constexpr std::string_view startAtLogin = "startAtLogin";
inline constexpr std::string_view panelFrame = "panelFrame";
// Key fingerprint -> "host:port" of each device added by address; absent in files from before that existed.
inline constexpr std::string_view deviceAddresses = "deviceAddresses";
}  // namespace settingsKey

using TextMap = std::map<std::string, std::string>;

// Everything the application remembers between launches, as loaded.
struct Settings {
    std::string deviceName;
    std::filesystem::path saveDir;
    // The folder whose access was opened while loading (the stored bookmark's folder).
    std::optional<std::filesystem::path> scopedDir;
    bool playSound = true;
    std::string lang;
    ReceiveMode receiveMode = ReceiveMode::everyone;
    std::vector<std::string> trusted;
    TextMap trustedNames;
    TextMap knownKeys;
    TextMap deviceNames;
    std::vector<std::string> myDevices;
    // Off until the user turns it on.
    bool startAtLogin = false;
    // The panel window's last frame as "x,y,width,height"; empty until the panel was first placed.
    std::string panelFrame;
    TextMap deviceAddresses;  // as stored; model/DeviceAddress.h reads the values
};

// What loading needs from the machine besides the store; tests point these at prepared files.
struct SettingsSources {
    std::filesystem::path machineInfoFile = "/etc/machine-info";
    // Parent of the default receive folder; empty means the user's download folder.
    std::filesystem::path downloadsFolder;
};

// Loads every setting in its fixed order: the environment overrides QUOBBLEFIN_NAME and QUOBBLEFIN_SAVEDIR
// (read once, never written), the stored values with their defaults, then the migration of "myDevices" from
// names to key fingerprints, which writes "myDevices" (and "deviceNames" when it changes anything).
Settings loadSettings(platform::SettingsStore& store, const SettingsSources& sources);

// PRETTY_HOSTNAME of a machine-info file when set and non-empty, else the host name.
std::string defaultDeviceName(const std::filesystem::path& machineInfoFile);

// The value of PRETTY_HOSTNAME in a machine-info file (shell-style KEY=VALUE lines), unquoted.
std::optional<std::string> prettyHostName(const std::filesystem::path& machineInfoFile);

// The folder "Quobblefin" inside `downloadsFolder`, or inside the user's download folder when that is empty.
std::filesystem::path defaultReceiveFolder(const std::filesystem::path& downloadsFolder);

}  // namespace qb::model
