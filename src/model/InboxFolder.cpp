#include "model/InboxFolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "model/Inbox.h"
#include "model/PathText.h"

namespace qb::model {

InboxFolder::InboxFolder(std::function<void()> changed) : changed_(std::move(changed)) {}

void InboxFolder::refresh(const std::filesystem::path& folder) {
    items_ = listInbox(folder, items_);
    changed_();
}

void InboxFolder::trash(const InboxItem& item) {
    // Qt 6.4 "trashes" into the working folder when the data folder that holds Trash does not exist yet.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    QFile::moveToTrash(toQString(item.url));
    removeFromInbox(items_, item.url);
    changed_();
}

std::vector<InboxItem> InboxFolder::addArrivals(const std::vector<std::filesystem::path>& locations,
                                                const std::string& from) {
    const auto now = std::chrono::system_clock::now();
    std::vector<InboxItem> arrivals;
    arrivals.reserve(locations.size());
    for (const auto& location : locations) {
        arrivals.push_back(arrivedItem(location, from, now));
    }
    model::addArrivals(items_, arrivals);
    changed_();
    return arrivals;
}

}  // namespace qb::model
