#include "platform/SettingsStore.h"

#include "platform/Crypto.h"
#include "platform/FileWrite.h"
#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>

#include <nlohmann/json.hpp>

namespace qb::platform {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kDataTag = "$data";

// ---- Reading

// The stored object; an unreadable or damaged file reads as empty.
json readObject(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        return json::object();
    }
    const std::string text{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    json object = json::parse(text, nullptr, /*allow_exceptions=*/false);
    return object.is_object() ? object : json::object();
}

std::optional<json> readValue(const fs::path& file, std::string_view key) {
    json object = readObject(file);
    const auto found = object.find(key);
    if (found == object.end()) {
        return std::nullopt;
    }
    return std::move(*found);
}

// ---- Writing

bool makeFolder(const fs::path& folder) {
    std::error_code error;
    if (fs::is_directory(folder, error)) {
        return true;
    }
    if (folder.has_parent_path() && folder.parent_path() != folder && !makeFolder(folder.parent_path())) {
        return false;
    }
    // Settings may hold key fingerprints and paths: only the user may list them.
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

fs::path folderOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// Holds an exclusive flock on "<file>.lock" for its lifetime. Every open is its own open file description,
// so the lock also orders threads of one process.
class WriteLock {
public:
    explicit WriteLock(const fs::path& file)
        : fd_(::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        while (fd_ && ::flock(fd_.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                locked_ = false;
                return;
            }
        }
        locked_ = static_cast<bool>(fd_);
    }
    bool locked() const { return locked_; }

private:
    UniqueFd fd_;
    bool locked_ = false;
};

template <class Change>
bool update(const fs::path& file, Change change) {
    if (!makeFolder(folderOf(file))) {
        return false;
    }
    const WriteLock lock(file);
    if (!lock.locked()) {
        return false;
    }
    json object = readObject(file);
    change(object);
    std::string text;
    try {
        text = object.dump(2);
    } catch (const json::exception&) {
        return false;  // a text that is not UTF-8 cannot be stored
    }
    text.push_back('\n');
    return replaceFile(file, text);
}

bool setValue(const fs::path& file, std::string_view key, json value) {
    return update(file, [&](json& object) { object[std::string(key)] = std::move(value); });
}

fs::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return fs::temp_directory_path();
}

}  // namespace

SettingsStore::SettingsStore(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path userConfigHome() {
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (const char* value = std::getenv("XDG_CONFIG_HOME"); value != nullptr && fs::path(value).is_absolute()) {
        return value;
    }
    return homeFolder() / ".config";
}

std::filesystem::path SettingsStore::defaultFile() {
    return userConfigHome() / "quobblefin" / "settings.json";
}

const std::filesystem::path& SettingsStore::file() const {
    return file_;
}

std::optional<std::string> SettingsStore::string(std::string_view key) const {
    const auto value = readValue(file_, key);
    if (!value || !value->is_string()) {
        return std::nullopt;
    }
    return value->get<std::string>();
}

std::optional<bool> SettingsStore::boolean(std::string_view key) const {
    const auto value = readValue(file_, key);
    if (!value || !value->is_boolean()) {
        return std::nullopt;
    }
    return value->get<bool>();
}

std::optional<std::int64_t> SettingsStore::integer(std::string_view key) const {
    const auto value = readValue(file_, key);
    if (!value || !value->is_number_integer()) {
        return std::nullopt;
    }
    if (value->is_number_unsigned() &&
        value->get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::nullopt;
    }
    return value->get<std::int64_t>();
}

std::optional<std::vector<std::string>> SettingsStore::stringList(std::string_view key) const {
    const auto value = readValue(file_, key);
    if (!value || !value->is_array()) {
        return std::nullopt;
    }
    std::vector<std::string> list;
    for (const auto& element : *value) {
        if (!element.is_string()) {
            return std::nullopt;
        }
        list.push_back(element.get<std::string>());
    }
    return list;
}

std::optional<std::map<std::string, std::string>> SettingsStore::stringMap(std::string_view key) const {
    const auto value = readValue(file_, key);
    if (!value || !value->is_object()) {
        return std::nullopt;
    }
    std::map<std::string, std::string> map;
    for (const auto& [name, element] : value->items()) {
        if (!element.is_string()) {
            return std::nullopt;
        }
        map.emplace(name, element.get<std::string>());
    }
    return map;
}

std::optional<Bytes> SettingsStore::data(std::string_view key) const {
    const auto value = readValue(file_, key);
    if (!value || !value->is_object() || value->size() != 1) {
        return std::nullopt;
    }
    const auto found = value->find(kDataTag);
    if (found == value->end() || !found->is_string()) {
        return std::nullopt;
    }
    return base64Decode(found->get_ref<const std::string&>());
}

bool SettingsStore::contains(std::string_view key) const {
    return readObject(file_).contains(key);
}

bool SettingsStore::setString(std::string_view key, std::string_view value) {
    return setValue(file_, key, std::string(value));
}

bool SettingsStore::setBoolean(std::string_view key, bool value) {
    return setValue(file_, key, value);
}

bool SettingsStore::setInteger(std::string_view key, std::int64_t value) {
    return setValue(file_, key, value);
}

bool SettingsStore::setStringList(std::string_view key, const std::vector<std::string>& value) {
    return setValue(file_, key, value);
}

bool SettingsStore::setStringMap(std::string_view key, const std::map<std::string, std::string>& value) {
    return setValue(file_, key, value);
}

bool SettingsStore::setData(std::string_view key, ByteView value) {
    return setValue(file_, key, json{{kDataTag, base64Encode(value)}});
}

bool SettingsStore::remove(std::string_view key) {
    return update(file_, [&](json& object) { object.erase(std::string(key)); });
}

}  // namespace qb::platform
