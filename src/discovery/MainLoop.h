#pragma once

#include <chrono>
#include <functional>

#include "platform/NetRuntime.h"

namespace qb::discovery {

// The thread that owns discovery's state, as plain hooks: the application fills them with its event loop, the
// command line and tests with a strand.
struct MainLoop {
    using Task = std::function<void()>;

    // Runs the task later on that thread; from any thread.
    std::function<void(Task)> post;
    // Runs the task on that thread once `delay` has passed; from that thread.
    std::function<void(std::chrono::milliseconds delay, Task)> postAfter;

    // Both hooks on `strand`, the delay kept by a timer of its own.
    static MainLoop onStrand(platform::Strand strand);
};

}  // namespace qb::discovery
