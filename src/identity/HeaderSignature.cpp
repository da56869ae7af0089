#include "identity/HeaderSignature.h"

#include "platform/Crypto.h"

namespace qb::identity {

std::string signedContext(std::string_view receiverFingerprint) {
    std::string message(kSignatureContext);
    message += receiverFingerprint;
    return message;
}

std::optional<SenderProof> signForReceiver(const Identity& identity, std::string_view receiverFingerprint) {
    if (!identity.hasIdentity()) {
        return std::nullopt;
    }
    const auto signature = identity.sign(platform::asBytes(signedContext(receiverFingerprint)));
    if (!signature) {
        return std::nullopt;
    }
    return SenderProof{platform::base64Encode(identity.certDer()), platform::base64Encode(*signature)};
}

std::optional<std::string> checkSenderSignature(const std::optional<std::string>& certB64,
                                                const std::optional<std::string>& sigB64,
                                                std::string_view ownFingerprint) {
    if (!certB64 || !sigB64 || ownFingerprint.empty()) {
        return std::nullopt;
    }
    const auto cert = platform::base64Decode(*certB64);
    const auto signature = platform::base64Decode(*sigB64);
    if (!cert || !signature || !Identity::verify(*cert, platform::asBytes(signedContext(ownFingerprint)), *signature)) {
        return std::nullopt;
    }
    return Identity::fingerprint(*cert);
}

}  // namespace qb::identity
