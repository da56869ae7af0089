#pragma once

#include <asio/any_io_executor.hpp>

#include <functional>
#include <memory>
#include <utility>

namespace qb::platform {

// The hop from network code to the thread that owns the application state. Core code receives these
// hooks as plain functions so it never depends on the user interface toolkit; the application fills them
// with its event loop's queued invocation.
struct MainQueue {
    using Task = std::function<void()>;

    // Runs the task later on the main thread; returns at once.
    std::function<void(Task)> post;
    // Runs the task on the main thread and returns when it has run. Only from a worker thread: called on
    // the main thread itself it would wait for itself.
    std::function<void(Task)> sync;

    // For command-line modes, which have no event loop: both hooks run the task at once on the calling
    // thread (a network thread). Nothing there touches state shared with another thread, so no hop is
    // needed; the caller's main thread only waits for the final result.
    static MainQueue runInline();

    // Both hooks hand the task to `executor` (for example a strand standing in for the main thread in a
    // test); sync waits until it has run. sync must not be called from that executor itself.
    static MainQueue onExecutor(asio::any_io_executor executor);
};

// Posts `task` to the main queue guarded by `owner`: when the task gets to run and the owner is gone, it
// does nothing. The task receives the locked owner.
template <typename Owner, typename Task>
void postGuarded(const MainQueue& queue, std::weak_ptr<Owner> owner, Task task) {
    queue.post([owner = std::move(owner), task = std::move(task)]() mutable {
        if (auto locked = owner.lock())
            task(*locked);
    });
}

}  // namespace qb::platform
