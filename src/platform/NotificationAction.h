#pragma once

#include <functional>
#include <string>

namespace qb::platform {

// One button on a desktop notification: its label as shown, and what a click on it does (on the main thread).
struct NotificationAction {
    std::string label;
    std::function<void()> invoke;
};

}  // namespace qb::platform
