#pragma once

namespace qb::platform {

// The application id under which Quobblefin is installed: desktop entry, icon, notifications, autostart entry.
inline constexpr const char* kApplicationId = "com.kestrun.quobblefin";

}  // namespace qb::platform
