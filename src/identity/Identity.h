#pragma once

// This device's long-lived P-256 key and self-signed certificate. The SHA-256 of the certificate DER, as 64
// lower-case hexadecimal characters, is the device's key fingerprint, by which every other component names a
// device key.

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Bytes.h"
#include "platform/Crypto.h"

namespace qb::identity {

class Identity {
public:
    struct Options {
        // A throw-away identity: test-suffixed label and tag, nothing written to the settings,
        // its key-store items removed at process exit.
        bool ephemeral = false;
        std::filesystem::path keyStoreFolder;
        std::filesystem::path settingsFile;
        // Where the "[quobblefin] identity: " lines go; standard output unless a test redirects them.
        std::ostream* console = nullptr;
    };

    // QUOBBLEFIN_EPHEMERAL_ID exactly "1" means ephemeral; the default key store folder and settings file.
    static Options optionsFromEnvironment();
    // The one process-wide identity, made on first use from optionsFromEnvironment().
    static Identity& shared();

    // Adopts the stored identity or makes a new one; on failure the object exists without identity.
    explicit Identity(Options options);
    Identity(const Identity&) = delete;
    Identity& operator=(const Identity&) = delete;
    ~Identity();

    bool hasIdentity() const { return privateKey_.has_value(); }
    // Empty when there is no identity.
    const platform::Bytes& certDer() const { return certDer_; }
    // nullptr when there is no identity.
    const platform::PrivateKey* privateKey() const { return privateKey_ ? &*privateKey_ : nullptr; }
    const std::string& label() const { return label_; }
    const platform::Bytes& tag() const { return tag_; }
    bool ephemeral() const { return options_.ephemeral; }
    // This device's key fingerprint; empty when there is no identity.
    std::string ownFingerprint() const;

    // ECDSA-SHA256 with this device's key; nullopt without identity or when signing fails.
    std::optional<platform::Bytes> sign(platform::ByteView message) const;

    // 64 lower-case hexadecimal characters of SHA-256(certDer). Pure.
    static std::string fingerprint(platform::ByteView certDer);
    // True when `signature` signs `message` with the key inside `certDer`. Pure.
    static bool verify(platform::ByteView certDer, platform::ByteView message, platform::ByteView signature);
    // Removes what test-mode identities left in the key store at `keyStoreFolder`.
    static void purgeTestItems(const std::filesystem::path& keyStoreFolder);

private:
    void adoptOrCreate();
    void create();
    bool adopt(const platform::Certificate& certificate);
    std::ostream& console() const;

    Options options_;
    std::string label_;
    platform::Bytes tag_;
    platform::Bytes certDer_;
    std::optional<platform::PrivateKey> privateKey_;
};

// The `--identity <path>` self-test: writes the certificate to `out` (a failed write is ignored), signs
// "quobblefin-v4:test", verifies it and prints "fingerprint <fp> der <n> bytes selfVerify true|false".
// Returns the exit status: 0 when the signature verified, else 1.
int runSelfTest(const Identity& identity, const std::filesystem::path& out, std::ostream& console);
int runSelfTest(const std::filesystem::path& out, std::ostream& console);

}  // namespace qb::identity
