#include "transfer/ReceiverLayout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <numeric>
#include <optional>
#include <unordered_set>

#include "transfer/FileNames.h"

namespace qb::transfer {

namespace fs = std::filesystem;

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr mode_t kFolderMode = 0777;  // narrowed by the umask
constexpr mode_t kFileMode = 0666;

}  // namespace

LayoutMode layoutModeOf(const FileHeader& header) {
    if (!header.files) {
        return LayoutMode::singleFile;
    }
    return header.batch ? LayoutMode::batch : LayoutMode::folder;
}

ReceiverLayout::ReceiverLayout(fs::path base) : base_(std::move(base)) {}

ReceiverLayout::~ReceiverLayout() {
    if (!kept_) {
        removeMade();
    }
}

ReceiverLayout::Prepared ReceiverLayout::prepare(const FileHeader& header) {
    // The receive folder itself may be a link (the user chose it); everything below it is opened
    // relative to this descriptor.
    baseFd_ = UniqueFd(::open(base_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const auto mode = layoutModeOf(header);
    if (mode == LayoutMode::singleFile) {
        const auto top = addTop(topName(header.name));
        if (!top) {
            return Prepared::noFreeName;
        }
        plan_.push_back({*top, {}, std::max<std::int64_t>(header.size, 0), tops_[*top].location});
        return Prepared::ready;
    }
    std::optional<std::size_t> folderTop;
    if (mode == LayoutMode::folder) {
        folderTop = addTop(topName(header.name));
        if (!folderTop) {
            return Prepared::noFreeName;
        }
        if (!makeTopFolder(tops_[*folderTop])) {
            return Prepared::folderFailed;
        }
    }
    for (const auto& entry : *header.files) {
        const auto components = safeRelativePath(entry.p);
        if (!components) {
            continue;
        }
        std::span<const std::string> inner(*components);
        auto top = folderTop;
        if (!top) {
            top = rootOf(inner.front());
            if (!top) {
                return Prepared::noFreeName;
            }
            inner = inner.subspan(1);
        }
        planEntry(*top, inner, entry);
    }
    return Prepared::ready;
}

std::optional<std::size_t> ReceiverLayout::rootOf(const std::string& firstComponent) {
    if (const auto root = roots_.find(firstComponent); root != roots_.end()) {
        return root->second;
    }
    const auto top = addTop(firstComponent);
    if (top) {
        roots_.emplace(firstComponent, *top);
    }
    return top;
}

std::optional<std::size_t> ReceiverLayout::addTop(const std::string& wantedName) {
    // Reserving the chosen location keeps a later first component from being given the same one before
    // either exists on the disk.
    const auto location = uniqueURL(base_ / wantedName, reserved_);
    if (!location) {
        return std::nullopt;
    }
    reserved_.insert(*location);
    tops_.push_back({location->filename().string(), *location, false});
    return tops_.size() - 1;
}

void ReceiverLayout::planEntry(std::size_t top, std::span<const std::string> inner, const FileEntry& entry) {
    if (entry.d) {
        // A folder that cannot be made is not an error of its own: a file inside it fails later.
        openFolders(top, inner, true);
        return;
    }
    if (!inner.empty()) {
        openFolders(top, inner.first(inner.size() - 1), true);
    }
    plan_.push_back(
        {top, {inner.begin(), inner.end()}, std::max<std::int64_t>(entry.s, 0), locationOf(tops_[top], inner)});
}

bool ReceiverLayout::makeTopFolder(TopItem& top) {
    if (top.made) {
        return true;
    }
    // mkdir fails on anything already there, a dangling link included: only a folder this transfer made
    // is ever filled or removed.
    if (!baseFd_ || ::mkdirat(baseFd_.get(), top.name.c_str(), kFolderMode) != 0) {
        return false;
    }
    top.made = true;
    return true;
}

int ReceiverLayout::openFolders(std::size_t topIndex, std::span<const std::string> folders, bool create) {
    auto& top = tops_[topIndex];
    if (create ? !makeTopFolder(top) : !top.made) {
        return -1;
    }
    if (openFolder_.fd && openFolder_.top == topIndex &&
        std::equal(folders.begin(), folders.end(), openFolder_.path.begin(), openFolder_.path.end())) {
        return openFolder_.fd.get();
    }
    UniqueFd folder(::openat(baseFd_.get(), top.name.c_str(), kFolderFlags));
    for (const auto& name : folders) {
        if (!folder) {
            break;
        }
        if (create) {
            ::mkdirat(folder.get(), name.c_str(), kFolderMode);
        }
        folder = UniqueFd(::openat(folder.get(), name.c_str(), kFolderFlags));
    }
    openFolder_ = {topIndex, {folders.begin(), folders.end()}, std::move(folder)};
    return openFolder_.fd ? openFolder_.fd.get() : -1;
}

fs::path ReceiverLayout::locationOf(const TopItem& top, std::span<const std::string> inner) const {
    auto location = top.location;
    for (const auto& name : inner) {
        location /= name;
    }
    return location;
}

std::int64_t ReceiverLayout::total() const {
    // Sizes come from the network: the sum saturates instead of overflowing.
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    return std::accumulate(plan_.begin(), plan_.end(), std::int64_t{0}, [](std::int64_t sum, const PlannedFile& file) {
        return sum > kMax - file.count ? kMax : sum + file.count;
    });
}

bool ReceiverLayout::passesThroughLink() const {
    const auto outside = [this](const fs::path& location) { return hasLinkComponent(location, base_); };
    if (std::any_of(tops_.begin(), tops_.end(), [&](const TopItem& top) { return outside(top.location); })) {
        return true;
    }
    // A file below a top-level item lies in a folder this transfer has just made, where nothing stood before,
    // and is opened there without following links: checking each of its folders once is enough, where a check
    // per file would cost thousands of lookups of names that cannot exist yet.
    std::unordered_set<std::string> checkedFolders;
    return std::any_of(plan_.begin(), plan_.end(), [&](const PlannedFile& file) {
        if (file.inner.empty()) {
            return false;  // the top-level item itself, checked above
        }
        const auto folder = file.location.parent_path();
        return checkedFolders.insert(folder.native()).second && outside(folder);
    });
}

UniqueFd ReceiverLayout::create(const PlannedFile& file) {
    auto& top = tops_[file.top];
    if (file.inner.empty()) {
        if (!baseFd_) {
            return {};
        }
        UniqueFd made(
            ::openat(baseFd_.get(), top.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
        top.made = top.made || static_cast<bool>(made);
        return made;
    }
    std::span<const std::string> inner(file.inner);
    const int folder = openFolders(file.top, inner.first(inner.size() - 1), false);
    if (folder < 0) {
        return {};
    }
    // Inside a folder this transfer made, a repeated entry replaces the file an earlier one wrote.
    return UniqueFd(
        ::openat(folder, inner.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kFileMode));
}

std::vector<fs::path> ReceiverLayout::keepMade() {
    kept_ = true;
    std::vector<fs::path> items;
    for (const auto& top : tops_) {
        if (top.made) {
            items.push_back(top.location);
        }
    }
    return items;
}

void ReceiverLayout::removeMade() {
    for (auto& top : tops_) {
        if (top.made) {
            std::error_code ignored;
            fs::remove_all(top.location, ignored);
            top.made = false;
        }
    }
}

}  // namespace qb::transfer
