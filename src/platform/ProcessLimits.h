#pragma once

namespace qb::platform {

// Raises the soft limit of open descriptors to the hard limit, so that many transfers and waiting
// connections at once run into the listener's own caps, not into EMFILE. Failures are ignored: the
// process then keeps the limit it was given.
void raiseOpenFileLimit();

}  // namespace qb::platform
