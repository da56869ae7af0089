#pragma once

#include "platform/TlsContext.h"

#include <openssl/ssl.h>

namespace qb::platform::detail {

// What the client context's certificate check needs of one connection, and what it leaves behind.
struct PinState {
    PinCheck pin;
    bool rejected = false;  // the check refused; only ever goes from false to true
    bool accepted = false;  // the check ran and accepted
};

// Binds `state` to the connection `ssl`, for the check made during its handshake. `state` must outlive
// the handshake.
bool attachPinState(SSL* ssl, PinState* state);

}  // namespace qb::platform::detail
