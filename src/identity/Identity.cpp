#include "identity/Identity.h"

#include <iostream>

namespace qb::identity {

Identity::Options Identity::optionsFromEnvironment() {
    return {};
}

Identity& Identity::shared() {
    static Identity instance(optionsFromEnvironment());
    return instance;
}

Identity::Identity(Options options) : options_(std::move(options)) {}

Identity::~Identity() = default;

std::string Identity::ownFingerprint() const {
    return certDer_.empty() ? std::string() : fingerprint(certDer_);
}

std::optional<platform::Bytes> Identity::sign(platform::ByteView message) const {
    return privateKey_ ? privateKey_->sign(message) : std::nullopt;
}

std::string Identity::fingerprint(platform::ByteView certDer) {
    const auto digest = platform::sha256(certDer);
    return platform::hex(digest);
}

bool Identity::verify(platform::ByteView certDer, platform::ByteView message, platform::ByteView signature) {
    return platform::verifySignature(certDer, message, signature);
}

void Identity::purgeTestItems(const std::filesystem::path&) {}

int runSelfTest(const Identity&, const std::filesystem::path&, std::ostream&) {
    return 1;
}

int runSelfTest(const std::filesystem::path& out, std::ostream& console) {
    return runSelfTest(Identity::shared(), out, console);
}

}  // namespace qb::identity
