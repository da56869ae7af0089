#include "model/IncomingDecision.h"

namespace qb::model {

Verdict verdictFor(const DecisionInputs& in) {
    if (in.autoAccept) {
        return Verdict::accept;
    }
    if (in.mode == ReceiveMode::off) {
        return Verdict::decline;
    }
    if (in.pair && !in.hasSenderKey) {
        return Verdict::decline;
    }
    const bool knownOnly = in.mode == ReceiveMode::known && !in.pair;
    if (knownOnly && !in.knownSender) {
        return Verdict::decline;
    }
    if (knownOnly && in.hasSenderKey && in.senderKeyRecorded) {
        return Verdict::accept;
    }
    if (in.waitingRequests >= kMaxWaitingRequests) {
        return Verdict::decline;
    }
    return Verdict::ask;
}

}  // namespace qb::model
