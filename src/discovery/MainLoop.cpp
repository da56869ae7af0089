#include "discovery/MainLoop.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include <memory>
#include <utility>

namespace qb::discovery {

MainLoop MainLoop::onStrand(platform::Strand strand) {
    MainLoop loop;
    loop.post = [strand](Task task) { asio::post(strand, std::move(task)); };
    loop.postAfter = [strand](std::chrono::milliseconds delay, Task task) {
        auto timer = std::make_shared<asio::steady_timer>(strand, delay);
        timer->async_wait([timer, task = std::move(task)](const std::error_code& error) {
            if (!error) {
                task();
            }
        });
    };
    return loop;
}

}  // namespace qb::discovery
