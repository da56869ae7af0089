#include "platform/KeyStore.h"

namespace qb::platform {

namespace {

class KeyStoreCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "qb.keystore"; }
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

KeyStore::KeyStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::filesystem::path KeyStore::defaultFolder() {
    return {};
}

std::error_code KeyStore::addCertificate(ByteView) {
    return make_error_code(std::errc::not_supported);
}

std::error_code KeyStore::addPrivateKey(const PrivateKey&, std::string_view, ByteView) {
    return make_error_code(std::errc::not_supported);
}

std::optional<PrivateKey> KeyStore::findPrivateKeyFor(ByteView) const {
    return std::nullopt;
}

std::optional<std::vector<KeyStoreEntry>> KeyStore::listKeys() const {
    return std::nullopt;
}

std::error_code KeyStore::deleteKeysWithLabel(std::string_view) {
    return {};
}

std::error_code KeyStore::deleteCertificatesWhoseSubjectContains(std::string_view) {
    return {};
}

}  // namespace qb::platform
