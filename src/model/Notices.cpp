#include "model/Notices.h"

#include "l10n/L.h"
#include "model/ModelSettings.h"

namespace qb::model {

Notices::Notices(DesktopHooks hooks, const ModelSettings& settings) : hooks_(std::move(hooks)), settings_(settings) {}

platform::NotificationTicket Notices::notify(const std::string& title, const std::string& body,
                                             std::vector<platform::NotificationAction> actions) const {
    return hooks_.notify ? hooks_.notify(title, body, std::move(actions)) : 0;
}

void Notices::withdraw(platform::NotificationTicket ticket) const {
    if (ticket != 0 && hooks_.withdrawNotification) {
        hooks_.withdrawNotification(ticket);
    }
}

std::vector<platform::NotificationAction> Notices::requestActions(const std::function<void(bool)>& answer) {
    return {{l10n::L::t("req.accept"), [answer] { answer(true); }},
            {l10n::L::t("req.decline"), [answer] { answer(false); }}};
}

std::vector<platform::NotificationAction> Notices::arrivalActions(const std::filesystem::path& item) const {
    if (!hooks_.reveal) {
        return {};
    }
    return {{l10n::L::t("notif.show"), [reveal = hooks_.reveal, item] { reveal(item); }}};
}

void Notices::playSound(std::string_view sound) const {
    if (settings_.values().playSound && hooks_.playSound) {
        hooks_.playSound(sound);
    }
}

void Notices::langChanged() const {
    if (onLangChanged_) {
        onLangChanged_();
    }
}

void Notices::received(const InboxItem& item) const {
    if (onReceived_) {
        onReceived_(item);
    }
}

void Notices::requestQueued() const {
    if (onRequest_) {
        onRequest_();
    }
}

}  // namespace qb::model
