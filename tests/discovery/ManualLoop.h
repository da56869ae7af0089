#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>

#include "discovery/MainLoop.h"

namespace qb::test {

// A main loop the test turns by hand, with a clock that only moves when the test says so.
class ManualLoop {
public:
    discovery::MainLoop hooks() {
        discovery::MainLoop loop;
        loop.post = [this](discovery::MainLoop::Task task) { posted_.push_back(std::move(task)); };
        loop.postAfter = [this](std::chrono::milliseconds delay, discovery::MainLoop::Task task) {
            timers_.emplace(now_ + delay, std::move(task));
        };
        return loop;
    }

    void drain() {
        while (!posted_.empty()) {
            auto task = std::move(posted_.front());
            posted_.pop_front();
            task();
        }
    }

    // Runs every timer due within `span`, in time order, and what each posts.
    void advance(std::chrono::milliseconds span) {
        const auto until = now_ + span;
        drain();
        while (!timers_.empty() && timers_.begin()->first <= until) {
            auto due = timers_.extract(timers_.begin());
            now_ = due.key();
            due.mapped()();
            drain();
        }
        now_ = until;
    }

private:
    std::chrono::milliseconds now_{0};
    std::deque<discovery::MainLoop::Task> posted_;
    std::multimap<std::chrono::milliseconds, discovery::MainLoop::Task> timers_;
};

}  // namespace qb::test
