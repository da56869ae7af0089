#pragma once

#include "discovery/Peer.h"

namespace qb::model {

using discovery::Peer;

}  // namespace qb::model
