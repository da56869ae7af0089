#include "platform/SettingsStore.h"

#include "platform/Crypto.h"
#include "platform/FileWrite.h"
#include "platform/UniqueFd.h"
#include "platform/UserFolders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>

#include <nlohmann/json.hpp>

namespace qb::platform {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kDataTag = "$data";
// A settings file is a few kilobytes; this bounds what a runaway file could make us hold.
constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

std::error_code lastError() {
    return {errno, std::system_category()};
}

// ---- Reading

std::error_code readText(const fs::path& file, std::string& text) {
    UniqueFd fd;
    do {
        fd = UniqueFd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    } while (!fd && errno == EINTR);
    if (!fd) {
        return lastError();
    }
    char buffer[8192];
    // Each pass reads at least one byte, ends at the end of the file or fails, so the loop ends.
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return lastError();
        }
        if (got == 0) {
            return {};
        }
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > kMaxFileSize) {
            return std::make_error_code(std::errc::file_too_large);
        }
    }
}

// The stored object. A missing file reads as empty, and so does a damaged one (not JSON, not an object):
// the next change repairs it. Any other failure to open or read is an error, never an empty object.
std::error_code readObject(const fs::path& file, json& object) {
    object = json::object();
    std::string text;
    if (const auto error = readText(file, text)) {
        return error == std::errc::no_such_file_or_directory ? std::error_code() : error;
    }
    json parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_object()) {
        object = std::move(parsed);
    }
    return {};
}

std::optional<json> readValue(const fs::path& file, std::string_view key) {
    json object;
    if (readObject(file, object)) {
        return std::nullopt;
    }
    const auto found = object.find(key);
    if (found == object.end()) {
        return std::nullopt;
    }
    return std::move(*found);
}

// ---- Writing

std::error_code makeFolder(const fs::path& folder) {
    std::error_code error;
    if (fs::is_directory(folder, error)) {
        return {};
    }
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        if (const auto parentError = makeFolder(folder.parent_path())) {
            return parentError;
        }
    }
    // Settings may hold key fingerprints and paths: only the user may list them.
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return lastError();
    }
    return {};
}

fs::path folderOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// Replaces `file` with `text` so that a reader or a crash sees either the old or the new file whole.
std::error_code replaceFile(const fs::path& file, std::string_view text) {
    std::string tempName = file.string() + ".XXXXXX";
    UniqueFd fd(::mkostemp(tempName.data(), O_CLOEXEC));  // created 0600
    if (!fd) {
        return lastError();
    }
    std::error_code error = writeAll(fd.get(), asBytes(text));
    if (!error && ::fsync(fd.get()) != 0) {
        error = lastError();
    }
    if (const auto closeError = fd.close(); !error) {
        error = closeError;
    }
    if (!error && ::rename(tempName.c_str(), file.c_str()) != 0) {
        error = lastError();
    }
    if (error) {
        ::unlink(tempName.c_str());
        return error;
    }
    return syncFolder(folderOf(file));
}

// Holds an exclusive flock on "<file>.lock" for its lifetime. Every open is its own open file description,
// so the lock also orders threads of one process.
class WriteLock {
public:
    explicit WriteLock(const fs::path& file)
        : fd_(::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (!fd_) {
            error_ = lastError();
            return;
        }
        while (::flock(fd_.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = lastError();
                return;
            }
        }
    }
    const std::error_code& error() const { return error_; }

private:
    UniqueFd fd_;
    std::error_code error_;
};

json toJson(const SettingsStore::Changes::Value& value) {
    return std::visit(
        [](const auto& held) -> json {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, Bytes>) {
                return json{{kDataTag, base64Encode(held)}};
            } else if constexpr (std::is_same_v<Held, std::monostate>) {
                return nullptr;
            } else {
                return held;
            }
        },
        value);
}

}  // namespace

// ---- Changes

SettingsStore::Changes& SettingsStore::Changes::setString(std::string_view key, std::string_view value) {
    entries_.emplace_back(key, std::string(value));
    return *this;
}

SettingsStore::Changes& SettingsStore::Changes::setBoolean(std::string_view key, bool value) {
    entries_.emplace_back(key, value);
    return *this;
}

SettingsStore::Changes& SettingsStore::Changes::setInteger(std::string_view key, std::int64_t value) {
    entries_.emplace_back(key, value);
    return *this;
}

SettingsStore::Changes& SettingsStore::Changes::setStringList(std::string_view key, std::vector<std::string> value) {
    entries_.emplace_back(key, std::move(value));
    return *this;
}

SettingsStore::Changes& SettingsStore::Changes::setStringMap(std::string_view key,
                                                             std::map<std::string, std::string> value) {
    entries_.emplace_back(key, std::move(value));
    return *this;
}

SettingsStore::Changes& SettingsStore::Changes::setData(std::string_view key, ByteView value) {
    entries_.emplace_back(key, Bytes(value.begin(), value.end()));
    return *this;
}

SettingsStore::Changes& SettingsStore::Changes::remove(std::string_view key) {
    entries_.emplace_back(key, std::monostate{});
    return *this;
}

// ---- Store

SettingsStore::SettingsStore(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path SettingsStore::defaultFile() {
    return xdgFolder("XDG_CONFIG_HOME", ".config") / "quobblefin" / "settings.json";
}

const std::filesystem::path& SettingsStore::file() const {
    return file_;
}

std::error_code SettingsStore::apply(const Changes& changes) {
    if (const auto error = makeFolder(folderOf(file_))) {
        return error;
    }
    const WriteLock lock(file_);
    if (lock.error()) {
        return lock.error();
    }
    json object;
    if (const auto error = readObject(file_, object)) {
        return error;
    }
    for (const auto& [key, value] : changes.entries_) {
        if (std::holds_alternative<std::monostate>(value)) {
            object.erase(key);
        } else {
            object[key] = toJson(value);
        }
    }
    std::string text;
    try {
        text = object.dump(2);
    } catch (const json::exception&) {
        return std::make_error_code(std::errc::illegal_byte_sequence);
    }
    text.push_back('\n');
    return replaceFile(file_, text);
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
    return readValue(file_, key).has_value();
}

std::error_code SettingsStore::setString(std::string_view key, std::string_view value) {
    return apply(Changes().setString(key, value));
}

std::error_code SettingsStore::setBoolean(std::string_view key, bool value) {
    return apply(Changes().setBoolean(key, value));
}

std::error_code SettingsStore::setInteger(std::string_view key, std::int64_t value) {
    return apply(Changes().setInteger(key, value));
}

std::error_code SettingsStore::setStringList(std::string_view key, const std::vector<std::string>& value) {
    return apply(Changes().setStringList(key, value));
}

std::error_code SettingsStore::setStringMap(std::string_view key, const std::map<std::string, std::string>& value) {
    return apply(Changes().setStringMap(key, value));
}

std::error_code SettingsStore::setData(std::string_view key, ByteView value) {
    return apply(Changes().setData(key, value));
}

std::error_code SettingsStore::remove(std::string_view key) {
    return apply(Changes().remove(key));
}

}  // namespace qb::platform
