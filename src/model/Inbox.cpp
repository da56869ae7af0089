#include "model/Inbox.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <string_view>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include "model/PathText.h"

namespace qb::model {

namespace {

std::chrono::system_clock::time_point modificationDate(const QFileInfo& info) {
    const QDateTime modified = info.lastModified();
    if (!modified.isValid()) {
        return std::chrono::system_clock::time_point::min();
    }
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(modified.toMSecsSinceEpoch()));
}

}  // namespace

std::vector<InboxItem> listInbox(const std::filesystem::path& folder, const std::vector<InboxItem>& current) {
    const QDir dir(toQString(folder));
    if (!dir.exists()) {
        return {};
    }
    std::map<std::filesystem::path, std::string> senders;
    for (const InboxItem& item : current) {
        senders.emplace(item.url, item.from);
    }
    // Without QDir::Hidden the listing leaves out every name that begins with a dot.
    const QFileInfoList children =
        dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    std::vector<InboxItem> items;
    items.reserve(static_cast<std::size_t>(children.size()));
    for (const QFileInfo& child : children) {
        InboxItem item;
        item.url = toPath(child.absoluteFilePath());
        if (const auto sender = senders.find(item.url); sender != senders.end()) {
            item.from = sender->second;
        }
        item.date = modificationDate(child);
        item.isDir = child.isDir();
        // A folder reports no size of its own in the rebuilt list.
        item.size = item.isDir ? 0 : child.size();
        items.push_back(std::move(item));
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const InboxItem& a, const InboxItem& b) { return a.date > b.date; });
    if (items.size() > kInboxLimit) {
        items.resize(kInboxLimit);
    }
    return items;
}

InboxItem arrivedItem(const std::filesystem::path& location, std::string from,
                      std::chrono::system_clock::time_point now) {
    const QFileInfo info(toQString(location));
    InboxItem item;
    item.url = location;
    item.from = std::move(from);
    item.date = now;
    item.isDir = info.isDir();
    item.size = info.exists() ? info.size() : 0;
    return item;
}

void addArrivals(std::vector<InboxItem>& inbox, const std::vector<InboxItem>& arrivals) {
    // Inserting from the last arrival to the first leaves the first arrival at the very front.
    for (auto arrival = arrivals.rbegin(); arrival != arrivals.rend(); ++arrival) {
        removeFromInbox(inbox, arrival->url);
        inbox.insert(inbox.begin(), *arrival);
    }
    if (inbox.size() > kInboxLimit) {
        inbox.resize(kInboxLimit);
    }
}

void removeFromInbox(std::vector<InboxItem>& inbox, const std::filesystem::path& path) {
    std::erase_if(inbox, [&](const InboxItem& item) { return item.url == path; });
}

std::string formatBytes(std::int64_t bytes) {
    if (bytes < 1000) {
        return std::to_string(bytes) + " B";
    }
    static constexpr std::array<std::string_view, 5> units{"B", "KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 1;
    while (value >= 1000.0 && unit < units.size() - 1) {
        value /= 1000.0;
        ++unit;
    }
    // to_chars ignores the process locale (which Qt sets from the environment), so the separator is always
    // a point; it rounds as printf's "%.1f" and "%.0f" do.
    std::array<char, 64> text{};
    const int decimals = value < 10.0 ? 1 : 0;
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, decimals);
    return std::string(text.data(), end.ptr) + " " + std::string(units[unit]);
}

}  // namespace qb::model
