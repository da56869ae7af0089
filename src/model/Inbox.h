#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "model/InboxItem.h"

namespace qb::model {

// The inbox shows at most this many received items, newest first.
inline constexpr std::size_t kInboxLimit = 40;

// The inbox rebuilt from the visible direct children of `folder`, newest first (ties keep the listing order),
// at most kInboxLimit. Senders of items already in `current` are kept; other items get an empty sender. A
// folder that cannot be listed gives an empty inbox.
std::vector<InboxItem> listInbox(const std::filesystem::path& folder, const std::vector<InboxItem>& current);

// The inbox entry for an item that has just arrived: its own size attribute (a folder's entry size, not the
// sum of its contents), 0 when unreadable.
InboxItem arrivedItem(const std::filesystem::path& location, std::string from,
                      std::chrono::system_clock::time_point now);

// Puts `arrivals` at the front in their own order, drops older entries with the same paths, trims to
// kInboxLimit.
void addArrivals(std::vector<InboxItem>& inbox, const std::vector<InboxItem>& arrivals);

// Drops every entry whose path equals `path`.
void removeFromInbox(std::vector<InboxItem>& inbox, const std::filesystem::path& path);

// A byte count in decimal units ("999 B", "1.5 KB", "10 MB", up to "TB"), a point as decimal separator.
std::string formatBytes(std::int64_t bytes);

}  // namespace qb::model
