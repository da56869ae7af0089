#pragma once

// Reading the key of a device at an address the user typed, before anything about it is trusted.

#include <chrono>
#include <functional>
#include <string>
#include <system_error>
#include <type_traits>

#include "platform/Deadline.h"
#include "platform/Endpoint.h"

namespace qb::platform {
class NetRuntime;
}

namespace qb::transfer {

// Why no key could be read at an address. As std::error_code values they belong to addressCategory()
// ("quobblefin.address"), whose message() is the localised text in the current language.
enum class AddressErrc {
    hostNotFound = 1,  // "addr.hostNotFound": the name does not resolve
    refused,           // "addr.refused": nothing listens on that port
    timedOut,          // "addr.timeout": no answer in time, or no route to the host
    notQuobblefin,     // "addr.notQuobblefin": the listener speaks neither of our protocols
    plainListener,     // "addr.plain": one of ours, but without a key, so it cannot be paired with
    thisDevice,        // "addr.self": the key is this device's own
};

const std::error_category& addressCategory() noexcept;
std::error_code make_error_code(AddressErrc errc) noexcept;

struct ProbeTimings {
    // From the start to a finished TLS handshake, resolution included.
    platform::Duration connect = std::chrono::seconds(15);
    // For the listener's answer to the probing header; ours answers at once.
    platform::Duration reply = std::chrono::seconds(5);
};

struct ProbeEnvironment {
    platform::NetRuntime* runtime = nullptr;  // null: NetRuntime::shared()
    ProbeTimings timings{};
};

struct ProbeResult {
    std::error_code error;    // an AddressErrc, or the network's own error when none fits
    std::string fingerprint;  // the listener's key fingerprint; only without error
};

// Connects to `address` over TLS 1.3 without a pin, takes the fingerprint of the certificate it is shown, and
// makes sure a device of ours shows it: an unsigned header, which our listener refuses ("NO") without asking its
// user. When TLS fails, a plain connection tells a keyless listener of ours (which answers an unsigned pairing
// header at once, also without asking) from anything else. Both connections are closed before `done` runs, once,
// on a network thread.
void probeAddress(platform::HostPort address, std::function<void(ProbeResult)> done,
                  const ProbeEnvironment& environment = {});

}  // namespace qb::transfer

template <>
struct std::is_error_code_enum<qb::transfer::AddressErrc> : std::true_type {};
