#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "model/InboxItem.h"

namespace qb::model {

// The received items listed from the receive folder, newest first, with the senders of those that arrived
// while the application ran.
class InboxFolder {
public:
    explicit InboxFolder(std::function<void()> changed);

    const std::vector<InboxItem>& items() const { return items_; }
    // Lists `folder` again, keeping the senders already known.
    void refresh(const std::filesystem::path& folder);
    // Moves the item to the desktop's trash. A refused move is not reported: the item leaves the list and
    // comes back at the next listing if it is still there.
    void trash(const InboxItem& item);
    // Puts items that have just arrived from `from` first; answers their entries, in order.
    std::vector<InboxItem> addArrivals(const std::vector<std::filesystem::path>& locations, const std::string& from);

private:
    std::function<void()> changed_;
    std::vector<InboxItem> items_;
};

}  // namespace qb::model
