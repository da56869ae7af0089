#pragma once

#include <string>
#include <system_error>

namespace qb::platform {

// Failures of the network runtime that the platform's own error codes cannot express. Time limits use
// asio::error::timed_out, so callers test one value for every kind of deadline.
enum class NetError {
    // The pin check refused the certificate the listener presented (or the listener presented none).
    peerKeyRejected = 1,
    // A discovered service endpoint could not be turned into addresses.
    serviceUnresolvable,
    // TLS could not be set up: a certificate or key was unusable, or the TLS library refused its settings.
    tlsSetupFailed,
    // The DNS-SD responder refused or lost a registration or a browse operation.
    dnsSdFailed,
};

const std::error_category& netErrorCategory();

inline std::error_code make_error_code(NetError error) {
    return {static_cast<int>(error), netErrorCategory()};
}

}  // namespace qb::platform

template <>
struct std::is_error_code_enum<qb::platform::NetError> : std::true_type {};
