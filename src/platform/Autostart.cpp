#include "platform/Autostart.h"

#include <system_error>

#include "platform/ApplicationId.h"
#include "platform/FileWrite.h"
#include "platform/UserFolders.h"

namespace qb::platform {

namespace {

// Characters that make an Exec argument need double quotes.
constexpr std::string_view kNeedsQuotes = " \t\n\"'\\><~|&;$*?#()`=";
// Inside double quotes these four are escaped with a backslash.
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

// A desktop entry string value: a backslash is written doubled.
std::string asDesktopString(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

}  // namespace

AutostartEntry::AutostartEntry(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path AutostartEntry::defaultFile() {
    return xdgFolder("XDG_CONFIG_HOME", ".config") / "autostart" / (std::string(kApplicationId) + ".desktop");
}

bool AutostartEntry::exists() const {
    std::error_code error;
    return std::filesystem::is_regular_file(file_, error);
}

bool AutostartEntry::install(const std::filesystem::path& executable) const {
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    if (error) {
        return false;
    }
    return !replaceFile(file_, autostartEntryText(executable));
}

bool AutostartEntry::remove() const {
    std::error_code error;
    std::filesystem::remove(file_, error);
    return !error;
}

std::string desktopExecArgument(std::string_view argument) {
    std::string field;
    for (const char c : argument) {
        // A literal percent sign is doubled so that it is not taken for a field code.
        if (c == '%') {
            field += '%';
        }
        field += c;
    }
    if (!argument.empty() && argument.find_first_of(kNeedsQuotes) == std::string_view::npos) {
        return asDesktopString(field);
    }
    std::string quoted = "\"";
    for (const char c : field) {
        if (kEscapedInQuotes.find(c) != std::string_view::npos) {
            quoted += '\\';
        }
        quoted += c;
    }
    quoted += '"';
    return asDesktopString(quoted);
}

std::string autostartEntryText(const std::filesystem::path& executable) {
    std::string text = "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Name=Quobblefin\n";
    text += "Comment=Send files and folders to devices on your local network\n";
    text += "Exec=" + desktopExecArgument(executable.native()) + " --hidden\n";
    text += "Icon=" + std::string(kApplicationId) + "\n";
    text += "Terminal=false\n";
    text += "NoDisplay=true\n";
    text += "X-GNOME-Autostart-enabled=true\n";
    return text;
}

}  // namespace qb::platform
