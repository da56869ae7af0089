#pragma once

// The sender proves its key inside the encrypted channel: the transfer header carries the sender's certificate
// and its signature over "quobblefin-v4:" followed by the receiver's key fingerprint, so a header signed for
// one receiver is refused by every other.

#include <optional>
#include <string>
#include <string_view>

#include "identity/Identity.h"

namespace qb::identity {

inline constexpr std::string_view kSignatureContext = "quobblefin-v4:";

// "quobblefin-v4:" + receiverFingerprint: the message a sender signs for that receiver.
std::string signedContext(std::string_view receiverFingerprint);

// The header's `cert` and `sig` fields, standard Base64.
struct SenderProof {
    std::string certB64;
    std::string sigB64;
};

// The proof for a header to `receiverFingerprint`; nullopt when `identity` has no key or signing fails,
// in which case the header goes out without `cert` and `sig`.
std::optional<SenderProof> signForReceiver(const Identity& identity, std::string_view receiverFingerprint);

// The sender's key fingerprint when `certB64` and `sigB64` are present, valid Base64, and the signature
// signs the context for `ownFingerprint` with the key of that certificate; nullopt in every other case.
std::optional<std::string> checkSenderSignature(const std::optional<std::string>& certB64,
                                                const std::optional<std::string>& sigB64,
                                                std::string_view ownFingerprint);

}  // namespace qb::identity
