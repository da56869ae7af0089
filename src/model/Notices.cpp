#include "model/Notices.h"

#include "model/ModelSettings.h"

namespace qb::model {

Notices::Notices(DesktopHooks hooks, const ModelSettings& settings) : hooks_(std::move(hooks)), settings_(settings) {}

void Notices::notify(const std::string& title, const std::string& body) const {
    if (hooks_.notify) {
        hooks_.notify(title, body);
    }
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
