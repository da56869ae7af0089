#pragma once

#include <chrono>
#include <iosfwd>

#include "app/CommandLine.h"

namespace qb::app {

// How long `--browse` waits for each peer's address.
inline constexpr std::chrono::seconds kBrowseResolveLimit{5};

// `--browse [seconds]`: browses for that long, then prints one tab-separated line per peer, sorted as the panel
// sorts them: name, generation, key fingerprint or "-", resolved address and port (or "-"). Finding nothing is
// no failure: a line on `err` says so, and names the daemon when it cannot be reached. Exit status 0, or 1
// for an unusable seconds argument.
int runBrowse(const BrowseMode& mode, std::ostream& out, std::ostream& err);

}  // namespace qb::app
