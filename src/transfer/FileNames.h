#pragma once

// The naming rules of the receive folder: which entry paths are acceptable, where received items may go,
// and the numbered name an item gets when its own is taken. Pure except for existence tests on the disk.

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qb::transfer {

// The components of an entry path `p` split at "/", empty pieces dropped ("/etc/x" gives "etc", "x"), or
// nullopt when nothing is left, a component is "." or "..", or `p` holds a NUL byte. Nothing else is
// filtered: a backslash is an ordinary character.
std::optional<std::vector<std::string>> safeRelativePath(std::string_view p);

// False when `text` holds a NUL byte: the system would cut the name there, so every existence test and
// every creation would be about another name than the one checked.
bool isSafeName(std::string_view text);

// True when `location` is not strictly inside `base` (both normalised lexically), or when an existing
// component below `base` on the way to `location` is a symbolic link. The base itself is never tested.
bool hasLinkComponent(const std::filesystem::path& location, const std::filesystem::path& base);

// How many numbered variants uniqueURL tries before it gives up.
inline constexpr int kMaxNumberedVariant = 10'000;

// `location` when nothing exists there (following links) and it is not in `reserved`; else the first free
// numbered variant in the same folder: "photo.jpg" -> "photo 2.jpg", "photo 3.jpg", ...; "archive.tar.gz"
// -> "archive.tar 2.gz"; "Docs" -> "Docs 2"; ".env" -> ".env 2". Nothing when up to
// "<stem> <kMaxNumberedVariant>" every variant is taken.
std::optional<std::filesystem::path> uniqueURL(const std::filesystem::path& location,
                                               const std::set<std::filesystem::path>& reserved = {});

// The top-level name of a single file or folder: the last path component of the header's name, with
// "file" put in front when it is empty or begins with "." (".bashrc" -> "file.bashrc", "" -> "file").
std::string topName(std::string_view headerName);

}  // namespace qb::transfer
