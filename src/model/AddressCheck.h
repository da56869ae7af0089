#pragma once

#include <string>
#include <system_error>

#include "platform/EndpointTypes.h"

namespace qb::model {

// The key read at an address the user typed, before anything about it is trusted.
struct AddressCheck {
    platform::HostPort address;
    // Why no key could be read: a transfer::AddressErrc (or a network error when none fits). Its message() is
    // the text to show, in the current language.
    std::error_code error;
    // The key fingerprint the listener showed; only without error.
    std::string fingerprint;

    bool ok() const { return !error && !fingerprint.empty(); }
    // What the user compares with the key line in the other device's Settings.
    std::string keyPrefix() const { return fingerprint.substr(0, 8); }
};

}  // namespace qb::model
