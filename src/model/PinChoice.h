#pragma once

#include <optional>
#include <string>

#include "model/Peer.h"

namespace qb::model {

// How an outgoing transfer treats the receiver's key.
struct PinChoice {
    enum class Kind {
        pin,      // TLS pinned to `key`
        plain,    // no key known or advertised: plain TCP
        confirm,  // the advertised key differs from the recorded one: pin `key` only if the user agrees
        refuse,   // a key is recorded but the peer offers none: never fall back to plain text
    };
    Kind kind = Kind::plain;
    std::string key;  // for pin and confirm: the advertised key
};

// The pin for a transfer to `peer`, given the key recorded for its name.
PinChoice choosePin(const Peer& peer, const std::optional<std::string>& knownKey);

}  // namespace qb::model
