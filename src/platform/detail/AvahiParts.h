#pragma once

// The advertiser and the browser that AvahiDnsSd hands out, each in a file of its own.

#include <memory>
#include <system_error>

#include "platform/ServiceAdvertiser.h"
#include "platform/ServiceBrowser.h"

namespace qb::platform {
class AvahiDnsSd;
}

namespace qb::platform::detail {

std::shared_ptr<ServiceAdvertiser> makeAvahiAdvertiser(std::shared_ptr<AvahiDnsSd> dnsSd);
std::shared_ptr<ServiceBrowser> makeAvahiBrowser(std::shared_ptr<AvahiDnsSd> dnsSd);

}  // namespace qb::platform::detail
