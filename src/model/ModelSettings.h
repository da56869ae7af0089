#pragma once

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "model/ReceiveMode.h"
#include "model/Settings.h"

namespace qb::platform {
class SettingsStore;
}

namespace qb::model {

// The settings as the model holds them, and their one way to the settings file. Every setter puts the value
// in memory first and then stores it; when storing fails the value still holds for this session and nothing
// is said (the file stays as it was), and the error is returned for whoever wants it.
class ModelSettings {
public:
    // Loads the settings from `file`, with their environment overrides and defaults.
    ModelSettings(const std::filesystem::path& file, const SettingsSources& sources);
    ~ModelSettings();
    ModelSettings(const ModelSettings&) = delete;
    ModelSettings& operator=(const ModelSettings&) = delete;

    const Settings& values() const { return values_; }

    std::error_code setDeviceName(std::string name);
    // Stores the path and its bookmark; the folder's access is open when a bookmark could be made.
    std::error_code setSaveDir(std::filesystem::path folder);
    std::error_code setPlaySound(bool on);
    std::error_code setLang(std::string code);
    std::error_code setReceiveMode(ReceiveMode mode);
    std::error_code setPanelFrame(std::string frame);

    // The trust collections are changed in place through edit() and then stored by their keys in one write,
    // so a change that touches several of them is one locked read-modify-write and one sync.
    Settings& edit() { return values_; }
    std::error_code store(std::initializer_list<std::string_view> keys);

private:
    std::unique_ptr<platform::SettingsStore> store_;
    Settings values_;
};

}  // namespace qb::model
