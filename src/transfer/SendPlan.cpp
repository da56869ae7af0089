#include "transfer/SendPlan.h"

#include <algorithm>
#include <utility>

#include "l10n/L.h"

namespace qb::transfer {

namespace fs = std::filesystem;
using l10n::L;

namespace {

constexpr std::string_view kSkippedName = ".DS_Store";

struct WalkItem {
    std::string name;
    fs::path path;
    fs::file_status status;
};

// The folder's direct children, sorted by name; empty when the folder cannot be listed.
std::vector<WalkItem> listFolder(const fs::path& folder) {
    std::vector<WalkItem> items;
    std::error_code error;
    fs::directory_iterator iterator(folder, error);
    for (; !error && iterator != fs::directory_iterator(); iterator.increment(error)) {
        std::error_code statusError;
        const fs::file_status status = iterator->symlink_status(statusError);
        if (statusError)
            continue;
        items.push_back({iterator->path().filename().string(), iterator->path(), status});
    }
    std::sort(items.begin(), items.end(), [](const WalkItem& a, const WalkItem& b) { return a.name < b.name; });
    return items;
}

void addTopLevelItem(const fs::path& item, const std::string& name, SendPlan& plan) {
    auto& entries = *plan.header.files;
    std::error_code error;
    // Judged by what a symbolic link points to, so a link to a folder is sent as that folder.
    if (fs::is_directory(item, error)) {
        entries.push_back({name, 0, true});
        walkFolder(item, name, plan);
        return;
    }
    const auto size = fs::file_size(item, error);
    if (error)
        return;
    entries.push_back({name, static_cast<std::int64_t>(size), false});
    plan.files.push_back({item, static_cast<std::int64_t>(size), true});
}

std::int64_t totalSize(const std::vector<SourceFile>& files) {
    std::int64_t total = 0;
    for (const auto& file : files)
        total += file.size;
    return total;
}

}  // namespace

int senderGeneration(bool pinsKey, bool waitForGo) {
    if (pinsKey)
        return Wire::generationTls;
    return waitForGo ? Wire::generationWaits : Wire::generationNoWait;
}

std::string lastComponent(const fs::path& path) {
    std::string last;
    for (const auto& component : path.lexically_normal()) {
        const std::string text = component.string();
        if (!text.empty() && text != "/")
            last = text;
    }
    return last.empty() ? path.string() : last;
}

std::string uniqueTopLevelName(const std::string& name, const std::set<std::string>& used) {
    if (!used.contains(name))
        return name;
    const fs::path asPath(name);
    std::string extension = asPath.extension().string();
    std::string base = asPath.stem().string();
    if (extension == ".") {
        // "notes." has no extension to keep at the end: it becomes "notes. 2".
        base = name;
        extension.clear();
    }
    // Each used name can block at most one candidate, so one of the first used.size() + 1 numbers is free.
    for (std::size_t number = 2; number <= used.size() + 2; ++number) {
        std::string candidate = base + " " + std::to_string(number) + extension;
        if (!used.contains(candidate))
            return candidate;
    }
    return name;
}

void walkFolder(const fs::path& folder, const std::string& prefix, SendPlan& plan) {
    if (!plan.header.files)
        plan.header.files.emplace();
    for (const auto& item : listFolder(folder)) {
        if (item.name == kSkippedName)
            continue;
        const std::string entryPath = prefix.empty() ? item.name : prefix + "/" + item.name;
        if (fs::is_directory(item.status)) {
            plan.header.files->push_back({entryPath, 0, true});
            // Links are never followed, so the depth is bounded by the longest path the file system allows.
            walkFolder(item.path, entryPath, plan);
        } else if (fs::is_regular_file(item.status)) {
            std::error_code error;
            const auto size = fs::file_size(item.path, error);
            const std::int64_t declared = error ? 0 : static_cast<std::int64_t>(size);
            plan.header.files->push_back({entryPath, declared, false});
            plan.files.push_back({item.path, declared, false});
        }
    }
}

std::optional<SendPlan> planSend(const std::vector<fs::path>& items, const std::string& from, int generation) {
    if (items.empty())
        return std::nullopt;
    SendPlan plan;
    plan.header.v = generation;
    plan.header.from = from;
    if (items.size() == 1) {
        const fs::path& item = items.front();
        plan.header.name = lastComponent(item);
        std::error_code error;
        if (fs::is_directory(item, error)) {
            walkFolder(item, "", plan);
        } else {
            const auto size = fs::file_size(item, error);
            if (error)
                return std::nullopt;
            plan.files.push_back({item, static_cast<std::int64_t>(size), true});
        }
    } else {
        plan.header.name = L::format(L::t("batch.name"), {std::to_string(items.size())});
        plan.header.batch = true;
        plan.header.files.emplace();
        std::set<std::string> usedNames;
        for (const auto& item : items) {
            std::string name = uniqueTopLevelName(lastComponent(item), usedNames);
            usedNames.insert(name);
            addTopLevelItem(item, name, plan);
        }
    }
    plan.header.size = totalSize(plan.files);
    return plan;
}

SendPlan planPairing(const std::string& from) {
    SendPlan plan;
    plan.header.v = Wire::generationTls;
    plan.header.name = "pair";
    plan.header.from = from;
    plan.header.pair = true;
    return plan;
}

}  // namespace qb::transfer
