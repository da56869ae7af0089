#pragma once

#include <memory>
#include <string_view>

struct ca_context;

namespace qb::platform::desktop {

// Plays the application's event sounds from the desktop's sound theme. Silent when there is no sound server
// or the sound cannot be found.
class EventSounds {
public:
    EventSounds();
    ~EventSounds();
    EventSounds(const EventSounds&) = delete;
    EventSounds& operator=(const EventSounds&) = delete;

    // `sound` is the system sound's name: "Ping" (a request arrived) or "Glass" (a transfer arrived).
    void play(std::string_view sound);

    // The freedesktop sound-theme id for a system sound name; empty for a name we do not play.
    static std::string_view themeId(std::string_view sound);

private:
    struct Destroy {
        void operator()(ca_context* context) const;
    };
    std::unique_ptr<ca_context, Destroy> context_;
};

}  // namespace qb::platform::desktop
