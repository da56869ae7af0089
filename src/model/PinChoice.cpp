#include "model/PinChoice.h"

namespace qb::model {

PinChoice choosePin(const Peer& peer, const std::optional<std::string>& knownKey) {
    if (peer.proto > 3 && peer.key) {
        const std::string& advertised = *peer.key;
        if (!knownKey || *knownKey == advertised) {
            return {PinChoice::Kind::pin, advertised};
        }
        return {PinChoice::Kind::confirm, advertised};
    }
    if (!knownKey) {
        return {PinChoice::Kind::plain, {}};
    }
    return {PinChoice::Kind::refuse, {}};
}

}  // namespace qb::model
