#include "identity/HeaderSignature.h"

namespace qb::identity {

std::string signedContext(std::string_view receiverFingerprint) {
    std::string message(kSignatureContext);
    message += receiverFingerprint;
    return message;
}

std::optional<SenderProof> signForReceiver(const Identity&, std::string_view) {
    return std::nullopt;
}

std::optional<std::string> checkSenderSignature(const std::optional<std::string>&, const std::optional<std::string>&,
                                                std::string_view) {
    return std::nullopt;
}

}  // namespace qb::identity
