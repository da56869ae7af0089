#pragma once

// The device's persistent key store: one folder (mode 0700) holding private keys as PKCS#8 PEM with their
// label and application tag, and certificates as DER, every file mode 0600. Several processes may use the
// same folder at once: files are written whole under a temporary name and then moved into place, so a
// reader never sees half a file.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Crypto.h"

namespace qb::platform {

enum class KeyStoreError {
    badCertificate = 1,  // the bytes are not exactly one DER certificate
    badKey,              // a key could not be encoded
    duplicateKey,        // a key with the same public key is already stored
    damagedItem,         // an item file could not be decoded
};
const std::error_category& keyStoreCategory();
std::error_code make_error_code(KeyStoreError error);

struct KeyStoreEntry {
    std::string label;
    Bytes tag;
};

class KeyStore {
public:
    // Nothing is created until something is added.
    explicit KeyStore(std::filesystem::path folder);
    // $XDG_DATA_HOME/quobblefin/keystore, with $XDG_DATA_HOME defaulting to ~/.local/share.
    static std::filesystem::path defaultFolder();

    const std::filesystem::path& folder() const { return folder_; }

    // Storing a certificate that is already stored, byte for byte, is success.
    std::error_code addCertificate(ByteView der);
    std::error_code addPrivateKey(const PrivateKey& key, std::string_view label, ByteView tag);

    // The private key paired with a stored certificate: the certificate `der` must itself be in the store and
    // a stored key must have its public key. nullopt otherwise.
    std::optional<PrivateKey> findPrivateKeyFor(ByteView certificateDer) const;

    // Every stored key's label and tag; nullopt when the folder exists but cannot be read.
    // Damaged key files are left out.
    std::optional<std::vector<KeyStoreEntry>> listKeys() const;

    // Deleting what is not there is success.
    std::error_code deleteKeysWithLabel(std::string_view label);
    std::error_code deleteCertificatesWhoseSubjectContains(std::string_view text);

private:
    std::filesystem::path folder_;
};

}  // namespace qb::platform

template <>
struct std::is_error_code_enum<qb::platform::KeyStoreError> : std::true_type {};
