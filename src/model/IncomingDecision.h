#pragma once

#include <cstddef>

#include "model/ReceiveMode.h"

namespace qb::model {

// At most this many incoming requests wait for the user at once; further headers are declined.
inline constexpr std::size_t kMaxWaitingRequests = 3;

// What happens to an incoming header.
enum class Verdict { accept, decline, ask };

struct DecisionInputs {
    bool autoAccept = false;  // QUOBBLEFIN_AUTOACCEPT is exactly "1" right now
    ReceiveMode mode = ReceiveMode::everyone;
    bool pair = false;               // the header asks to pair
    bool hasSenderKey = false;       // the connection proved a sender key
    bool knownSender = false;        // the trust store recognises the sender's name or key
    bool senderKeyRecorded = false;  // the sender key is one of the recorded known keys
    std::size_t waitingRequests = 0;
};

// The gate's rules, the first that applies winning: automatic acceptance; receiving off; a pairing request
// without a proven key; strangers in the known-only mode; recorded keys in that mode; the waiting limit;
// otherwise the user is asked.
Verdict verdictFor(const DecisionInputs& in);

}  // namespace qb::model
