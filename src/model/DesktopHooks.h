#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NotificationAction.h"

namespace qb::model {

// How long a finished job stays listed.
struct ModelTimings {
    std::chrono::milliseconds doneLinger{3000};
    std::chrono::milliseconds failedLinger{8000};
};

// The key-change confirmation as the user sees it: a warning with two buttons, accept first.
struct KeyChangePrompt {
    std::string title;
    std::string text;
    std::string acceptLabel;
    std::string declineLabel;
};

// Event sounds by their system names; the desktop layer maps them to sound-theme ids.
namespace eventSound {
inline constexpr std::string_view request = "Ping";
inline constexpr std::string_view received = "Glass";
}  // namespace eventSound

// The desktop services the model uses, filled by the application (tests fill them with fakes). An unset
// service does nothing: no notification, no sound, and a key change that nobody confirms is refused.
struct DesktopHooks {
    // Unset when this process may not post notifications (it is not the installed application). The service
    // shows the actions as buttons where it can, and drops them where it cannot.
    std::function<platform::NotificationTicket(const std::string& title, const std::string& body,
                                               std::vector<platform::NotificationAction> actions)>
        notify;
    // Takes back a notification that no longer holds, such as a request answered from its card.
    std::function<void(platform::NotificationTicket)> withdrawNotification;
    // Shows a received item in the file manager; unset means an arrival's notification offers no "Show".
    std::function<void(const std::filesystem::path& item)> reveal;
    std::function<void(std::string_view sound)> playSound;
    // Blocks until the user answers; true accepts the new key.
    std::function<bool(const KeyChangePrompt&)> confirmKeyChange;
};

}  // namespace qb::model
