#include "platform/Deadline.h"

#include <asio/steady_timer.hpp>

namespace qb::platform {

struct Deadline::State {
    explicit State(asio::any_io_executor executor) : timer(std::move(executor)) {}
    asio::steady_timer timer;
    std::function<void()> onExpiry;
    bool expired = false;
};

Deadline::Deadline(asio::any_io_executor executor, Duration limit, std::function<void()> onExpiry) {
    if (limit == kNoTimeLimit)
        return;
    state_ = std::make_shared<State>(std::move(executor));
    state_->onExpiry = std::move(onExpiry);
    state_->timer.expires_after(limit);
    // The handler holds the state, not the Deadline: it may run after the Deadline is gone, and then
    // finds onExpiry cleared.
    state_->timer.async_wait([state = state_](const std::error_code& error) {
        if (error || !state->onExpiry)
            return;
        state->expired = true;
        auto onExpiryNow = std::move(state->onExpiry);
        state->onExpiry = nullptr;
        onExpiryNow();
    });
}

Deadline::~Deadline() {
    disarm();
}

bool Deadline::expired() const {
    return state_ && state_->expired;
}

void Deadline::disarm() {
    if (!state_)
        return;
    state_->onExpiry = nullptr;
    state_->timer.cancel();
}

}  // namespace qb::platform
