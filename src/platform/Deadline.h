#pragma once

#include <asio/any_io_executor.hpp>

#include <chrono>
#include <functional>
#include <memory>

namespace qb::platform {

using Duration = std::chrono::steady_clock::duration;

// For the few waits that are bounded by the connection's own failure rather than by a clock (a body being
// written, for example); TCP keep-alive still ends them when the peer vanishes.
inline constexpr Duration kNoTimeLimit = Duration::max();

// A time limit on whatever the current coroutine awaits next. While the Deadline lives, a timer runs on
// `executor`; when it fires first, `onExpiry` runs there and must make the awaited operation finish
// (typically by closing the socket it waits on). Afterwards expired() is true and the caller reports
// asio::error::timed_out instead of the operation's own error:
//
//     Deadline deadline(executor, 90s, [&] { stream.close(); });
//     auto [error, size] = co_await stream.readSome(buffer);
//     if (deadline.expired()) error = asio::error::timed_out;
//
// `executor` must be the strand the coroutine runs on, so that onExpiry never runs at the same time as
// the coroutine. Destroying the Deadline (or disarm()) before it fires guarantees onExpiry never runs.
// With kNoTimeLimit no timer is started.
class Deadline {
public:
    Deadline(asio::any_io_executor executor, Duration limit, std::function<void()> onExpiry);
    ~Deadline();
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    bool expired() const;
    void disarm();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace qb::platform
