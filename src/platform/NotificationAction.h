#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qb::platform {

// One button on a desktop notification: its label as shown, and what a click on it does (on the main thread).
struct NotificationAction {
    std::string label;
    std::function<void()> invoke;
};

// Names one posted notification so that it can be taken back; 0 names none.
using NotificationTicket = std::uint64_t;

}  // namespace qb::platform
