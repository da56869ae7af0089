#include "transfer/FileNames.h"

#include <sys/stat.h>

namespace qb::transfer {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> splitPath(std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto slash = text.find('/', start);
        const auto end = slash == std::string_view::npos ? text.size() : slash;
        if (end > start) {
            pieces.emplace_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

bool isSymbolicLinkWithTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        return false;
    }
    std::error_code error;
    const auto target = fs::read_symlink(path, error);
    return !error && !target.empty();
}

// The lexically normal form without a trailing separator, so "a/b/" and "a/b" compare equal.
std::string normalised(const fs::path& path) {
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

bool isTaken(const fs::path& location, const std::set<fs::path>& reserved) {
    std::error_code error;
    return fs::exists(location, error) || reserved.contains(location);
}

}  // namespace

bool isSafeName(std::string_view text) {
    return text.find('\0') == std::string_view::npos;
}

std::optional<std::vector<std::string>> safeRelativePath(std::string_view p) {
    if (!isSafeName(p)) {
        return std::nullopt;
    }
    auto components = splitPath(p);
    if (components.empty()) {
        return std::nullopt;
    }
    for (const auto& component : components) {
        if (component == "." || component == "..") {
            return std::nullopt;
        }
    }
    return components;
}

bool hasLinkComponent(const fs::path& location, const fs::path& base) {
    const std::string basePath = normalised(base);
    const std::string target = normalised(location);
    const std::string prefix = basePath == "/" ? basePath : basePath + "/";
    if (target.size() <= prefix.size() || target.compare(0, prefix.size(), prefix) != 0) {
        return true;
    }
    std::string walked = basePath == "/" ? "" : basePath;
    for (const auto& piece : splitPath(std::string_view(target).substr(prefix.size()))) {
        walked += "/" + piece;
        if (isSymbolicLinkWithTarget(walked)) {
            return true;
        }
    }
    return false;
}

std::optional<fs::path> uniqueURL(const fs::path& location, const std::set<fs::path>& reserved) {
    if (!isTaken(location, reserved)) {
        return location;
    }
    // The extension starts at the last dot of the name, unless that dot opens the name or ends it.
    const std::string name = location.filename().string();
    const auto dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0 && dot + 1 < name.size();
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    const fs::path folder = location.parent_path();
    for (int number = 2; number <= kMaxNumberedVariant; ++number) {
        auto candidate = folder / (stem + " " + std::to_string(number) + extension);
        if (!isTaken(candidate, reserved)) {
            return candidate;
        }
    }
    // Each try is an existence test on the server's one strand: an endless search would stall every other
    // transfer.
    return std::nullopt;
}

std::string topName(std::string_view headerName) {
    const auto pieces = splitPath(headerName);
    std::string name = pieces.empty() ? std::string() : pieces.back();
    if (name.empty() || name.front() == '.') {
        name.insert(0, "file");
    }
    return name;
}

}  // namespace qb::transfer
