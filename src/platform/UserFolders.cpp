#include "platform/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace qb::platform {

std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* account = ::getpwuid(::getuid()); account != nullptr && account->pw_dir != nullptr) {
        return account->pw_dir;
    }
    std::error_code ignored;
    return std::filesystem::temp_directory_path(ignored);
}

std::filesystem::path xdgFolder(const char* variable, const std::filesystem::path& homeRelative) {
    if (const char* value = std::getenv(variable); value != nullptr && std::filesystem::path(value).is_absolute()) {
        return value;
    }
    return homeFolder() / homeRelative;
}

}  // namespace qb::platform
