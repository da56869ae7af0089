#pragma once

#include <chrono>
#include <iosfwd>
#include <string>

#include "app/CommandLine.h"
#include "platform/Deadline.h"
#include "transfer/FileSender.h"

namespace qb::app {

// How long a command-line mode waits for its result before it gives up without a result line.
struct ModeWaits {
    platform::Duration send = std::chrono::seconds(180);
    platform::Duration pair = std::chrono::seconds(120);
};

// What the modes run on; tests shorten the waits and the sender's timings.
struct ModeEnvironment {
    transfer::SenderEnvironment sender{};
    ModeWaits waits{};
};

// `--send`: one transfer, a "progress N%" line per piece, then "sent OK" or "FAILED: <description>".
// Returns the exit status: 1 when the transfer failed, else 0 (also when no result came in time).
int runSend(const SendMode& mode, std::ostream& out);
int runSend(const SendMode& mode, std::ostream& out, const ModeEnvironment& environment);

// `--pair`: one pairing request, then "paired OK" or "FAILED: <description>". Exit status as for runSend.
int runPair(const PairMode& mode, std::ostream& out);
int runPair(const PairMode& mode, std::ostream& out, const ModeEnvironment& environment);

// The name a command-line mode sends as "from": QUOBBLEFIN_NAME when it is set (even empty), else "cli".
std::string commandLineSenderName();

}  // namespace qb::app
