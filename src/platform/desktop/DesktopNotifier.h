#pragma once

#include <filesystem>
#include <string>

namespace qb::platform::desktop {

// The application id under which Quobblefin is installed: desktop entry, icon, notifications.
inline constexpr const char* kApplicationId = "com.kestrun.quobblefin";

// Posts notifications through the desktop's org.freedesktop.Notifications service on the session bus.
class DesktopNotifier {
public:
    // True when `executable` runs as the installed application: it sits in a "bin" folder whose prefix holds
    // the application's desktop entry (<prefix>/share/applications/com.kestrun.quobblefin.desktop). A binary
    // in a build tree has no such entry beside it, so it posts nothing, like an unbundled program.
    static bool isInstalledExecutable(const std::filesystem::path& executable);

    // Fire and forget: no reply is awaited, and a missing service or a refusal goes unreported.
    void notify(const std::string& title, const std::string& body) const;
};

}  // namespace qb::platform::desktop
