#include "platform/MainQueue.h"

#include <asio/post.hpp>

#include <future>

namespace qb::platform {

MainQueue MainQueue::runInline() {
    const auto run = [](Task task) {
        if (task)
            task();
    };
    return {run, run};
}

MainQueue MainQueue::onExecutor(asio::any_io_executor executor) {
    auto post = [executor](Task task) { asio::post(executor, std::move(task)); };
    auto sync = [executor](Task task) {
        std::promise<void> done;
        auto finished = done.get_future();
        asio::post(executor, [&task, &done] {
            task();
            done.set_value();
        });
        finished.wait();
    };
    return {std::move(post), std::move(sync)};
}

}  // namespace qb::platform
