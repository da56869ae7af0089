#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qb::platform {

// The user's XDG autostart entry for this application: a desktop file that the session starts at login.
class AutostartEntry {
public:
    explicit AutostartEntry(std::filesystem::path file = defaultFile());

    // $XDG_CONFIG_HOME (default ~/.config) /autostart/com.kestrun.quobblefin.desktop
    static std::filesystem::path defaultFile();

    const std::filesystem::path& file() const { return file_; }
    bool exists() const;
    // Writes (or rewrites) the entry so that the session starts `executable --hidden`; false when the file
    // cannot be written, the old one then stays as it was.
    bool install(const std::filesystem::path& executable) const;
    // Removes the entry; a missing entry counts as removed.
    bool remove() const;

private:
    std::filesystem::path file_;
};

// The whole text of the autostart entry for `executable`.
std::string autostartEntryText(const std::filesystem::path& executable);

// One argument of a desktop entry's Exec key, quoted where the Exec rules need it and escaped as a desktop
// entry string value, so that any path (spaces, quotes, "%", backslashes) reaches the program unchanged.
std::string desktopExecArgument(std::string_view argument);

}  // namespace qb::platform
