#pragma once

#include <filesystem>

namespace qb::platform {

// The user's home folder: $HOME when set and non-empty, else the account's home, else the temp folder.
std::filesystem::path homeFolder();

// An XDG base folder: the variable's value when it is an absolute path (a relative one is invalid and
// ignored), else `homeRelative` below the home folder. E.g. xdgFolder("XDG_CONFIG_HOME", ".config").
std::filesystem::path xdgFolder(const char* variable, const std::filesystem::path& homeRelative);

}  // namespace qb::platform
