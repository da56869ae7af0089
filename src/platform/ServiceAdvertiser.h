#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <system_error>

namespace qb::platform {

// Registers one service by DNS-SD in the default domain. The discovery layer implements it with the
// system's mDNS responder; tests give a fake. A listener works without one: it is then reachable by
// address only. Both operations may be called from any thread.
class ServiceAdvertiser {
public:
    using TxtRecord = std::map<std::string, std::string>;

    struct Service {
        std::string name;  // the instance name asked for; the responder may rename it after a conflict
        std::string type;  // for example "_quobblefin._tcp"
        std::uint16_t port = 0;
        TxtRecord txt;
    };

    struct Callbacks {
        // The service is registered under `registeredName`. Called again after each rename. Any thread.
        std::function<void(std::string registeredName)> onRegistered;
        // No DNS-SD service can be had (no responder, or the registration failed for good). Any thread.
        std::function<void(std::error_code)> onFailed;
    };

    virtual ~ServiceAdvertiser() = default;

    // Starts the registration; returns at once. One service per advertiser: a second call replaces the first.
    virtual void advertise(Service service, Callbacks callbacks) = 0;
    // Withdraws the service; once it returns, no callback of it is started any more. Idempotent.
    virtual void withdraw() = 0;
};

}  // namespace qb::platform
