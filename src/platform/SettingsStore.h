#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bytes.h"

namespace qb::platform {

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::filesystem::path userConfigHome();

// The per-user settings: one JSON object in one file, shared safely by every process of the user.
//
// Values keep their JSON type (string, boolean, integer, array of strings, object of strings); byte data is
// kept as the tagged object {"$data": "<standard Base64>"}. Reads go to the file every time, so a value
// written by another process is seen at once. Each write takes an exclusive flock on "<file>.lock", re-reads
// the file, changes its one key and replaces the file atomically (temporary file in the same folder, fsync,
// rename, fsync of the folder): concurrent writers of different keys never lose each other's keys and a crash
// never leaves half a file. Safe to use from several threads and several processes at once.
class SettingsStore {
public:
    explicit SettingsStore(std::filesystem::path file);

    // $XDG_CONFIG_HOME (default ~/.config) /quobblefin/settings.json
    static std::filesystem::path defaultFile();

    const std::filesystem::path& file() const;

    // Missing key, damaged file or wrong type -> std::nullopt.
    std::optional<std::string> string(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<std::int64_t> integer(std::string_view key) const;
    // Only an array made wholly of strings.
    std::optional<std::vector<std::string>> stringList(std::string_view key) const;
    // Only an object whose every value is a string.
    std::optional<std::map<std::string, std::string>> stringMap(std::string_view key) const;
    // Only a tagged Base64 object that decodes strictly.
    std::optional<Bytes> data(std::string_view key) const;
    bool contains(std::string_view key) const;

    // Each returns false when the file cannot be written (or a text is not valid UTF-8); the old file then
    // stays as it was. A damaged file is replaced by a fresh object holding the one key.
    bool setString(std::string_view key, std::string_view value);
    bool setBoolean(std::string_view key, bool value);
    bool setInteger(std::string_view key, std::int64_t value);
    bool setStringList(std::string_view key, const std::vector<std::string>& value);
    bool setStringMap(std::string_view key, const std::map<std::string, std::string>& value);
    bool setData(std::string_view key, ByteView value);
    bool remove(std::string_view key);

private:
    std::filesystem::path file_;
};

}  // namespace qb::platform
