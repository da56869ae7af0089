#include "identity/Identity.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <vector>

#include "identity/Der.h"
#include "platform/KeyStore.h"
#include "platform/SettingsStore.h"

namespace qb::identity {

using platform::Bytes;
using platform::ByteView;

namespace {

constexpr std::string_view kLabel = "Quobblefin Identity";
constexpr std::string_view kTag = "com.kestrun.quobblefin.identity";
constexpr std::string_view kTestSuffixStart = ".test.";
constexpr std::string_view kCommonNamePrefix = "Quobblefin ";
constexpr std::string_view kTestCommonNamePrefix = "Quobblefin Test ";
constexpr std::string_view kTestSubjectMark = "Quobblefin Test";
constexpr std::string_view kTestLabelPrefix = "Quobblefin Identity.test.";
constexpr std::string_view kCertSetting = "identity.cert";
constexpr std::string_view kSelfTestMessage = "quobblefin-v4:test";
constexpr std::string_view kLinePrefix = "[quobblefin] identity: ";

// A version 4 UUID in its text form with upper-case hexadecimal digits.
std::string randomUuidText() {
    std::string text = platform::randomUuid();
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    return text;
}

// Key-store folders whose test items go when the process ends.
struct ExitPurges {
    std::mutex mutex;
    std::vector<std::filesystem::path> folders;
};

ExitPurges& exitPurges() {
    static ExitPurges purges;
    return purges;
}

void runExitPurges() {
    ExitPurges& purges = exitPurges();
    const std::lock_guard lock(purges.mutex);
    for (const auto& folder : purges.folders) {
        Identity::purgeTestItems(folder);
    }
}

void purgeAtExit(const std::filesystem::path& folder) {
    ExitPurges& purges = exitPurges();
    static std::once_flag registered;
    std::call_once(registered, [] {
        // Exit handlers run in reverse order of registration: OpenSSL registers its own clean-up when it
        // initialises, and it must still be alive while the purge parses certificates.
        OPENSSL_init_crypto(0, nullptr);
        std::atexit(runExitPurges);
    });
    const std::lock_guard lock(purges.mutex);
    if (std::find(purges.folders.begin(), purges.folders.end(), folder) == purges.folders.end()) {
        purges.folders.push_back(folder);
    }
}

}  // namespace

Identity::Options Identity::optionsFromEnvironment() {
    const char* ephemeral = std::getenv("QUOBBLEFIN_EPHEMERAL_ID");
    Options options;
    options.ephemeral = ephemeral != nullptr && std::string_view(ephemeral) == "1";
    options.keyStoreFolder = platform::KeyStore::defaultFolder();
    options.settingsFile = platform::SettingsStore::defaultFile();
    return options;
}

Identity& Identity::shared() {
    static Identity instance(optionsFromEnvironment());
    return instance;
}

Identity::Identity(Options options) : options_(std::move(options)) {
    adoptOrCreate();
}

Identity::~Identity() = default;

std::ostream& Identity::console() const {
    return options_.console != nullptr ? *options_.console : std::cout;
}

void Identity::adoptOrCreate() {
    std::string suffix;
    if (options_.ephemeral) {
        suffix = std::string(kTestSuffixStart) + randomUuidText();
    }
    label_ = std::string(kLabel) + suffix;
    tag_ = platform::toBytes(std::string(kTag) + suffix);

    purgeTestItems(options_.keyStoreFolder);
    if (options_.ephemeral) {
        purgeAtExit(options_.keyStoreFolder);
        create();
    } else {
        const auto stored = platform::SettingsStore(options_.settingsFile).string(kCertSetting);
        const auto der = stored ? platform::base64Decode(*stored) : std::nullopt;
        const auto certificate = der ? platform::parseCertificate(*der) : std::nullopt;
        if (!certificate || !adopt(*certificate)) {
            create();
        }
    }
    if (!hasIdentity()) {
        console() << kLinePrefix << "keychain unavailable \u2014 TLS disabled" << std::endl;
    }
}

void Identity::create() {
    platform::KeyStore store(options_.keyStoreFolder);
    auto key = platform::PrivateKey::generate();
    const auto point = key ? key->publicPoint() : platform::CryptoResult<Bytes>(platform::CryptoError{key.error()});
    const auto stored = point ? store.addPrivateKey(*key, label_, tag_) : std::error_code();
    if (!point || stored) {
        console() << kLinePrefix << "key creation failed " << (point ? stored.message() : point.error()) << std::endl;
        return;
    }

    const std::string commonName =
        std::string(options_.ephemeral ? kTestCommonNamePrefix : kCommonNamePrefix) + randomUuidText().substr(0, 8);
    const auto der = makeCertificate(commonName, *point, *key);
    const auto certificate = der ? platform::parseCertificate(*der) : std::nullopt;
    if (!certificate) {
        console() << kLinePrefix << "certificate build failed" << std::endl;
        return;
    }

    if (const auto error = store.addCertificate(*der)) {
        console() << kLinePrefix << "cert add failed " << error.value() << std::endl;
        return;
    }
    if (!options_.ephemeral) {
        platform::SettingsStore(options_.settingsFile).setString(kCertSetting, platform::base64Encode(*der));
    }
    if (!adopt(*certificate)) {
        console() << kLinePrefix << "identity lookup failed" << std::endl;
    }
}

bool Identity::adopt(const platform::Certificate& certificate) {
    Bytes der = certificate.der();
    auto key = platform::KeyStore(options_.keyStoreFolder).findPrivateKeyFor(der);
    if (der.empty() || !key) {
        return false;
    }
    certDer_ = std::move(der);
    privateKey_ = std::move(key);
    return true;
}

std::string Identity::ownFingerprint() const {
    return certDer_.empty() ? std::string() : fingerprint(certDer_);
}

std::optional<Bytes> Identity::sign(ByteView message) const {
    return privateKey_ ? privateKey_->sign(message) : std::nullopt;
}

std::string Identity::fingerprint(ByteView certDer) {
    return platform::hex(platform::sha256(certDer));
}

bool Identity::verify(ByteView certDer, ByteView message, ByteView signature) {
    return platform::verifySignature(certDer, message, signature);
}

void Identity::purgeTestItems(const std::filesystem::path& keyStoreFolder) {
    platform::KeyStore store(keyStoreFolder);
    store.deleteCertificatesWhoseSubjectContains(kTestSubjectMark);
    const auto keys = store.listKeys();
    if (!keys) {
        return;
    }
    for (const auto& key : *keys) {
        if (key.label.starts_with(kTestLabelPrefix)) {
            store.deleteKeysWithLabel(key.label);
        }
    }
}

int runSelfTest(const Identity& identity, const std::filesystem::path& out, std::ostream& console) {
    {
        std::ofstream file(out, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(identity.certDer().data()),
                   static_cast<std::streamsize>(identity.certDer().size()));
    }
    const auto message = platform::asBytes(kSelfTestMessage);
    const auto signature = identity.sign(message);
    const bool selfVerify = signature && Identity::verify(identity.certDer(), message, *signature);
    console << "fingerprint " << Identity::fingerprint(identity.certDer()) << " der " << identity.certDer().size()
            << " bytes selfVerify " << (selfVerify ? "true" : "false") << std::endl;
    return selfVerify ? 0 : 1;
}

int runSelfTest(const std::filesystem::path& out, std::ostream& console) {
    return runSelfTest(Identity::shared(), out, console);
}

}  // namespace qb::identity
