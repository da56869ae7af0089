#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Deadline.h"
#include "platform/Endpoint.h"
#include "transfer/Cancellation.h"
#include "transfer/TransferError.h"

namespace qb::platform {
class NetRuntime;
}
namespace qb::identity {
class Identity;
}

namespace qb::transfer {

// The sender's time limits.
struct SenderTimings {
    // From the start of the connection (resolution and TLS handshake included) to a connection ready for the
    // header.
    platform::Duration connect = std::chrono::seconds(15);
    // From the header being sent to the receiver's go-ahead.
    platform::Duration goAhead = std::chrono::seconds(90);
};

// What a transfer runs on. The defaults are the process's own; tests give their own runtime, identity, console
// and shortened timings.
struct SenderEnvironment {
    platform::NetRuntime* runtime = nullptr;       // null: NetRuntime::shared()
    const identity::Identity* identity = nullptr;  // signs headers to a pinned key; null: Identity::shared()
    std::ostream* console = nullptr;               // the "tls negotiated " line; null: standard output
    SenderTimings timings{};
    // Stops this one transfer: its connection (or the attempt to make it) closes at once and the transfer fails
    // with `cancelled`, unless it had already succeeded. Null: only its own end stops it.
    std::shared_ptr<Cancellation> cancellation{};
};

// The sending side of a transfer: one connection per call, from header to acknowledgement. No state is kept
// between calls.
class FileSender {
public:
    using Progress = std::function<void(double fraction)>;
    using Completion = std::function<void(TransferResult)>;

    // Sends files and folders. Planning reads file-system metadata on the calling thread; when there is nothing
    // to send, `completion` runs there at once with the "err.readSource" failure and no connection is made.
    // Otherwise everything else, `progress` and `completion` included, runs on the transfer's own strand.
    // `peerKey` pins the receiver's certificate (TLS, generation 5, signed header); without it the connection is
    // plain TCP. `progress` is called once per body piece with the fraction sent; `completion` exactly once.
    static void send(std::vector<std::filesystem::path> fileURLs, platform::Endpoint to, std::string from,
                     bool waitForGo, std::optional<std::string> peerKey, bool pair, Progress progress,
                     Completion completion);
    static void send(std::vector<std::filesystem::path> fileURLs, platform::Endpoint to, std::string from,
                     bool waitForGo, std::optional<std::string> peerKey, bool pair, Progress progress,
                     Completion completion, const SenderEnvironment& environment);

    // A pairing request to the device whose key is `peerKey`: succeeds when the receiver answers with the
    // go-ahead, fails with `declined` on any other answer or none in time.
    static void pair(platform::Endpoint to, std::string from, std::string peerKey, Completion completion);
    static void pair(platform::Endpoint to, std::string from, std::string peerKey, Completion completion,
                     const SenderEnvironment& environment);
};

}  // namespace qb::transfer
