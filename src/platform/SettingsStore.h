#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Bytes.h"

namespace qb::platform {

// The per-user settings: one JSON object in one file, shared safely by every process of the user.
//
// Values keep their JSON type (string, boolean, integer, array of strings, object of strings); byte data is
// kept as the tagged object {"$data": "<standard Base64>"}. Reads go to the file every time, so a value
// written by another process is seen at once. Each change takes an exclusive flock on "<file>.lock", re-reads
// the file, changes its keys and replaces the file atomically (temporary file in the same folder, fsync,
// rename, fsync of the folder): concurrent writers of different keys never lose each other's keys and a crash
// never leaves half a file. Only a missing file counts as empty; when the file exists but cannot be opened or
// read (no descriptors left, no permission, an I/O error) the change fails and the file is left alone, so a
// passing failure never erases the other keys. Safe to use from several threads and several processes at once.
class SettingsStore {
public:
    // Several keys changed together: one locked read-modify-write, one sync.
    class Changes {
    public:
        Changes& setString(std::string_view key, std::string_view value);
        Changes& setBoolean(std::string_view key, bool value);
        Changes& setInteger(std::string_view key, std::int64_t value);
        Changes& setStringList(std::string_view key, std::vector<std::string> value);
        Changes& setStringMap(std::string_view key, std::map<std::string, std::string> value);
        Changes& setData(std::string_view key, ByteView value);
        Changes& remove(std::string_view key);
        bool empty() const { return entries_.empty(); }

        // std::monostate removes the key.
        using Value = std::variant<std::monostate, std::string, bool, std::int64_t, std::vector<std::string>,
                                   std::map<std::string, std::string>, Bytes>;

    private:
        friend class SettingsStore;
        std::vector<std::pair<std::string, Value>> entries_;
    };

    explicit SettingsStore(std::filesystem::path file);

    // $XDG_CONFIG_HOME (default ~/.config) /quobblefin/settings.json
    static std::filesystem::path defaultFile();

    const std::filesystem::path& file() const;

    // Missing key, unreadable or damaged file, or wrong type -> std::nullopt.
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

    // Applies every change at once, or none: on an error the file stays as it was. A damaged file (not JSON,
    // not an object) is replaced by a fresh object holding the changed keys. A text that is not valid UTF-8
    // fails with std::errc::illegal_byte_sequence.
    std::error_code apply(const Changes& changes);

    // One key each, as apply() does it.
    std::error_code setString(std::string_view key, std::string_view value);
    std::error_code setBoolean(std::string_view key, bool value);
    std::error_code setInteger(std::string_view key, std::int64_t value);
    std::error_code setStringList(std::string_view key, const std::vector<std::string>& value);
    std::error_code setStringMap(std::string_view key, const std::map<std::string, std::string>& value);
    std::error_code setData(std::string_view key, ByteView value);
    std::error_code remove(std::string_view key);

private:
    std::filesystem::path file_;
};

}  // namespace qb::platform
