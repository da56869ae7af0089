#include "platform/desktop/EventSounds.h"

#include <string>

#include <canberra.h>

#include "platform/desktop/DesktopNotifier.h"

namespace qb::platform::desktop {

void EventSounds::Destroy::operator()(ca_context* context) const {
    ca_context_destroy(context);
}

EventSounds::EventSounds() {
    ca_context* context = nullptr;
    if (ca_context_create(&context) != CA_SUCCESS) {
        return;
    }
    context_.reset(context);
    // Only a sound server: the raw ALSA fallback floods standard error when there is no sound card.
    ca_context_set_driver(context, "pulse");
    ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Quobblefin", CA_PROP_APPLICATION_ID, kApplicationId,
                            nullptr);
}

EventSounds::~EventSounds() = default;

std::string_view EventSounds::themeId(std::string_view sound) {
    if (sound == "Ping") {
        return "message-new-instant";
    }
    if (sound == "Glass") {
        return "complete";
    }
    return {};
}

void EventSounds::play(std::string_view sound) {
    const std::string id(themeId(sound));
    if (!context_ || id.empty()) {
        return;
    }
    // Playback is asynchronous; without a sound server this fails and stays silent.
    ca_context_play(context_.get(), 0, CA_PROP_EVENT_ID, id.c_str(), nullptr);
}

}  // namespace qb::platform::desktop
