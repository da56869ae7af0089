#include "platform/KeyStore.h"

#include "platform/FileWrite.h"
#include "platform/UniqueFd.h"
#include "platform/UserFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <utility>

#include <nlohmann/json.hpp>

namespace qb::platform {

namespace {

class KeyStoreCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "quobblefin.keystore"; }
    std::string message(int value) const override {
        switch (static_cast<KeyStoreError>(value)) {
            case KeyStoreError::badCertificate:
                return "not a DER certificate";
            case KeyStoreError::badKey:
                return "the key cannot be encoded";
            case KeyStoreError::duplicateKey:
                return "the key is already stored";
            case KeyStoreError::damagedItem:
                return "a key-store item is damaged";
        }
        return "unknown key-store error";
    }
};

}  // namespace

const std::error_category& keyStoreCategory() {
    static const KeyStoreCategory category;
    return category;
}

std::error_code make_error_code(KeyStoreError error) {
    return {static_cast<int>(error), keyStoreCategory()};
}

namespace {

namespace fs = std::filesystem;

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
// Items are a few hundred bytes; anything much larger is not ours.
constexpr std::uintmax_t kMaxItemSize = 64 * 1024;
constexpr std::string_view kCertificatePrefix = "cert-";
constexpr std::string_view kCertificateSuffix = ".der";
constexpr std::string_view kKeyPrefix = "key-";
constexpr std::string_view kKeySuffix = ".json";
constexpr std::string_view kTempPrefix = ".tmp-";

std::error_code lastError() {
    return {errno, std::system_category()};
}

bool hasForm(const std::string& name, std::string_view prefix, std::string_view suffix) {
    return name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix);
}

// The folder and its parents; the key store folder itself is private to the user even when it existed before.
std::error_code ensureFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder.parent_path(), error);
    if (error) {
        return error;
    }
    if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) {
        return lastError();
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        return lastError();
    }
    if (!S_ISDIR(info.st_mode)) {
        return std::make_error_code(std::errc::not_a_directory);
    }
    if ((info.st_mode & 07777) != kFolderMode && ::chmod(folder.c_str(), kFolderMode) != 0) {
        return lastError();
    }
    return {};
}

// Writes `content` to a fresh 0600 file under a temporary name, flushes it to disk, then links it in under
// `name`. An existing `name` is never replaced: the result is then errc::file_exists.
std::error_code publish(const fs::path& folder, const std::string& name, ByteView content) {
    if (const auto error = ensureFolder(folder)) {
        return error;
    }
    const auto nonce = randomBytes(8);
    if (!nonce) {
        return std::make_error_code(std::errc::resource_unavailable_try_again);
    }
    const fs::path temporary = folder / (std::string(kTempPrefix) + hex(*nonce));
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
    if (!fd.valid()) {
        return lastError();
    }
    std::error_code error = writeAll(fd.get(), content);
    if (!error && ::fsync(fd.get()) != 0) {
        error = lastError();
    }
    if (const auto closeError = fd.close(); !error) {
        error = closeError;
    }
    if (!error && ::link(temporary.c_str(), (folder / name).c_str()) != 0) {
        error = lastError();
    }
    ::unlink(temporary.c_str());
    if (!error) {
        syncFolder(folder);
    }
    return error;
}

std::optional<std::string> readItem(const fs::path& file) {
    std::error_code error;
    const auto size = fs::file_size(file, error);
    if (error || size > kMaxItemSize) {
        return std::nullopt;
    }
    std::ifstream stream(file, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (stream.bad()) {
        return std::nullopt;
    }
    return content;
}

std::error_code removeItem(const fs::path& file) {
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
        return lastError();
    }
    return {};
}

// The file names in `folder` of the given form; an absent folder holds nothing.
std::optional<std::vector<fs::path>> itemFiles(const fs::path& folder, std::string_view prefix,
                                               std::string_view suffix) {
    std::vector<fs::path> files;
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) {
        return error == std::errc::no_such_file_or_directory ? std::optional(files) : std::nullopt;
    }
    for (auto entry = entries; entry != fs::directory_iterator(); entry.increment(error)) {
        if (error) {
            return std::nullopt;
        }
        if (hasForm(entry->path().filename().string(), prefix, suffix)) {
            files.push_back(entry->path());
        }
    }
    return files;
}

std::string certificateFileName(ByteView der) {
    return std::string(kCertificatePrefix) + hex(sha256(der)) + std::string(kCertificateSuffix);
}

std::string keyFileName(ByteView publicPoint) {
    return std::string(kKeyPrefix) + hex(sha256(publicPoint)) + std::string(kKeySuffix);
}

struct StoredKey {
    KeyStoreEntry entry;
    std::string pem;
};

std::optional<StoredKey> decodeKeyItem(const std::string& text) {
    const auto item = nlohmann::json::parse(text, nullptr, false);
    if (!item.is_object()) {
        return std::nullopt;
    }
    const auto label = item.find("label");
    const auto tag = item.find("tag");
    const auto pem = item.find("pem");
    if (label == item.end() || tag == item.end() || pem == item.end() || !label->is_string() || !tag->is_string() ||
        !pem->is_string()) {
        return std::nullopt;
    }
    auto tagBytes = base64Decode(tag->get_ref<const std::string&>());
    if (!tagBytes) {
        return std::nullopt;
    }
    return StoredKey{{label->get<std::string>(), std::move(*tagBytes)}, pem->get<std::string>()};
}

std::optional<std::string> encodeKeyItem(std::string_view label, ByteView tag, const std::string& pem) {
    try {
        const nlohmann::json item = {{"label", label}, {"tag", base64Encode(tag)}, {"pem", pem}};
        return item.dump(2) + "\n";
    } catch (const nlohmann::json::exception&) {
        // A label that is not valid UTF-8 cannot be kept as JSON text.
        return std::nullopt;
    }
}

std::optional<std::vector<std::pair<fs::path, StoredKey>>> storedKeys(const fs::path& folder) {
    const auto files = itemFiles(folder, kKeyPrefix, kKeySuffix);
    if (!files) {
        return std::nullopt;
    }
    std::vector<std::pair<fs::path, StoredKey>> keys;
    for (const fs::path& file : *files) {
        const auto text = readItem(file);
        auto key = text ? decodeKeyItem(*text) : std::nullopt;
        if (key) {
            keys.emplace_back(file, std::move(*key));
        }
    }
    return keys;
}

}  // namespace

KeyStore::KeyStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::filesystem::path KeyStore::defaultFolder() {
    return xdgFolder("XDG_DATA_HOME", ".local/share") / "quobblefin" / "keystore";
}

std::error_code KeyStore::addCertificate(ByteView der) {
    if (!parseCertificate(der)) {
        return make_error_code(KeyStoreError::badCertificate);
    }
    // The file name is the content's digest, so an existing file of that name holds these very bytes.
    const auto error = publish(folder_, certificateFileName(der), der);
    return error == std::errc::file_exists ? std::error_code() : error;
}

std::error_code KeyStore::addPrivateKey(const PrivateKey& key, std::string_view label, ByteView tag) {
    const auto point = key.publicPoint();
    const auto pem = key.toPem();
    if (!point || !pem) {
        return make_error_code(KeyStoreError::badKey);
    }
    const auto item = encodeKeyItem(label, tag, *pem);
    if (!item) {
        return make_error_code(KeyStoreError::badKey);
    }
    const auto error = publish(folder_, keyFileName(*point), asBytes(*item));
    return error == std::errc::file_exists ? make_error_code(KeyStoreError::duplicateKey) : error;
}

std::optional<PrivateKey> KeyStore::findPrivateKeyFor(ByteView certificateDer) const {
    const auto certificate = parseCertificate(certificateDer);
    const auto storedCertificate = readItem(folder_ / certificateFileName(certificateDer));
    if (!certificate || !storedCertificate || asBytes(*storedCertificate).size() != certificateDer.size() ||
        !std::equal(certificateDer.begin(), certificateDer.end(), asBytes(*storedCertificate).begin())) {
        return std::nullopt;
    }
    const auto publicKey = publicKeyOf(*certificate);
    const auto point = publicKey ? publicKey->publicPoint() : CryptoResult<Bytes>(CryptoError{});
    const auto keyText = point ? readItem(folder_ / keyFileName(*point)) : std::nullopt;
    const auto storedKey = keyText ? decodeKeyItem(*keyText) : std::nullopt;
    if (!storedKey) {
        return std::nullopt;
    }
    auto privateKey = PrivateKey::fromPem(storedKey->pem);
    if (!privateKey || !privateKey->matches(*publicKey)) {
        return std::nullopt;
    }
    return std::move(privateKey).value();
}

std::optional<std::vector<KeyStoreEntry>> KeyStore::listKeys() const {
    auto keys = storedKeys(folder_);
    if (!keys) {
        return std::nullopt;
    }
    std::vector<KeyStoreEntry> entries;
    entries.reserve(keys->size());
    for (auto& [file, key] : *keys) {
        entries.push_back(std::move(key.entry));
    }
    return entries;
}

std::error_code KeyStore::deleteKeysWithLabel(std::string_view label) {
    const auto keys = storedKeys(folder_);
    if (!keys) {
        return std::make_error_code(std::errc::io_error);
    }
    std::error_code firstError;
    for (const auto& [file, key] : *keys) {
        if (key.entry.label == label) {
            if (const auto error = removeItem(file); error && !firstError) {
                firstError = error;
            }
        }
    }
    return firstError;
}

std::error_code KeyStore::deleteCertificatesWhoseSubjectContains(std::string_view text) {
    const auto files = itemFiles(folder_, kCertificatePrefix, kCertificateSuffix);
    if (!files) {
        return std::make_error_code(std::errc::io_error);
    }
    std::error_code firstError;
    for (const fs::path& file : *files) {
        const auto der = readItem(file);
        const auto certificate = der ? parseCertificate(asBytes(*der)) : std::nullopt;
        if (certificate && certificate->subjectText().find(text) != std::string::npos) {
            if (const auto error = removeItem(file); error && !firstError) {
                firstError = error;
            }
        }
    }
    return firstError;
}

}  // namespace qb::platform
