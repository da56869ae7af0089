#pragma once

// Where an exception stops on the network threads. Nothing there is meant to throw; one that does anyway (a
// callback's bug, memory running out) ends only the work it belongs to (a connection, a transfer, one
// callback), never the process, and is seen: one line on standard error saying where and what.

#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace qb::platform {

// Writes "[quobblefin] <where> ended by an exception: <what>" to standard error.
void reportEscaped(std::string_view where, const std::exception_ptr& failure) noexcept;

// Runs `work`; an exception out of it is reported and the answer is false.
template <class Work>
bool contained(std::string_view where, Work&& work) noexcept {
    try {
        std::forward<Work>(work)();
        return true;
    } catch (...) {
        reportEscaped(where, std::current_exception());
        return false;
    }
}

// A completion handler for asio::co_spawn of an awaitable<void>: the coroutine's frame, and with it the
// connection or loop it owned, is gone by now; what remains is to report why.
inline auto reportEscapes(std::string where) {
    return [where = std::move(where)](const std::exception_ptr& failure) {
        if (failure) {
            reportEscaped(where, failure);
        }
    };
}

}  // namespace qb::platform
