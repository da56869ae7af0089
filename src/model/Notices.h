#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/DesktopHooks.h"
#include "model/InboxItem.h"

namespace qb::model {

class ModelSettings;

// What the user is told about, outside the panel's lists: desktop notifications, event sounds (when the
// setting allows them), and the application delegate's slots that bring the panel forward or rebuild the menu.
class Notices {
public:
    Notices(DesktopHooks hooks, const ModelSettings& settings);

    // Posts a desktop notification when this process may, with buttons where the desktop shows them. The
    // ticket (0 when nothing was posted) takes it back with `withdraw`.
    platform::NotificationTicket notify(const std::string& title, const std::string& body,
                                        std::vector<platform::NotificationAction> actions = {}) const;
    void withdraw(platform::NotificationTicket ticket) const;
    // "Accept" and "Decline" for a request's notification; `answer` gets the choice.
    static std::vector<platform::NotificationAction> requestActions(const std::function<void(bool)>& answer);
    // "Show" for an arrival's notification, when the desktop can reveal files.
    std::vector<platform::NotificationAction> arrivalActions(const std::filesystem::path& item) const;
    void playSound(std::string_view sound) const;

    void setOnLangChanged(std::function<void()> callback) { onLangChanged_ = std::move(callback); }
    void setOnReceived(std::function<void(const InboxItem&)> callback) { onReceived_ = std::move(callback); }
    void setOnRequest(std::function<void()> callback) { onRequest_ = std::move(callback); }

    void langChanged() const;
    void received(const InboxItem& item) const;
    void requestQueued() const;

private:
    DesktopHooks hooks_;
    const ModelSettings& settings_;
    std::function<void()> onLangChanged_;
    std::function<void(const InboxItem&)> onReceived_;
    std::function<void()> onRequest_;
};

}  // namespace qb::model
