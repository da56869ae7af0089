#pragma once

#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Endpoint.h"

namespace qb::platform {

// Browses DNS-SD for one service type in the default domain. The discovery layer turns what it reports into
// peers; tests give a fake. Both operations may be called from any thread.
class ServiceBrowser {
public:
    struct Result {
        ServiceEndpoint endpoint;
        // The TXT record's entries as they arrived ("key=value", or a bare key), unchecked bytes; unset when
        // the service could not be resolved to a TXT record.
        std::optional<std::vector<std::string>> txt;
    };

    struct Callbacks {
        // The whole current result set, after every change. Any thread.
        std::function<void(std::vector<Result>)> onResults;
        // The browse operation ended for good (the responder refused or went away). Any thread.
        std::function<void(std::error_code)> onFailed;
    };

    virtual ~ServiceBrowser() = default;

    // Starts browsing `type`; returns at once. A second call replaces the first, results included.
    virtual void browse(std::string type, Callbacks callbacks) = 0;
    // Ends browsing; once it returns, no callback of it is started any more. Idempotent.
    virtual void stop() = 0;
};

}  // namespace qb::platform
