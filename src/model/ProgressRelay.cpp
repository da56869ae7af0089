#include "model/ProgressRelay.h"

#include <map>
#include <mutex>

#include <QCoreApplication>
#include <QTimer>

#include "model/MainThread.h"

namespace qb::model {

using Clock = std::chrono::steady_clock;

struct ProgressRelay::State : std::enable_shared_from_this<State> {
    State(Apply applyOnMain, std::chrono::milliseconds every) : apply(std::move(applyOnMain)), interval(every) {}

    // Any thread.
    void report(const std::string& jobId, double fraction) {
        {
            const std::lock_guard lock(mutex);
            latest[jobId] = fraction;
            if (scheduled) {
                return;
            }
            scheduled = true;
        }
        postToMainThread([weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->scheduleDelivery();
            }
        });
    }

    // Main thread from here on.
    void scheduleDelivery() {
        const auto due = lastDelivery + interval;
        const auto now = Clock::now();
        if (now >= due) {
            deliver();
            return;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now);
        QTimer::singleShot(wait, QCoreApplication::instance(), [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->deliver();
            }
        });
    }

    void deliver() {
        std::map<std::string, double> ready;
        {
            const std::lock_guard lock(mutex);
            ready.swap(latest);
            scheduled = false;
        }
        lastDelivery = Clock::now();
        for (const auto& [jobId, fraction] : ready) {
            apply(jobId, fraction);
        }
    }

    const Apply apply;
    const std::chrono::milliseconds interval;
    std::mutex mutex;
    std::map<std::string, double> latest;  // guarded by mutex
    bool scheduled = false;                // guarded by mutex: a hop is on its way or a delivery is timed
    Clock::time_point lastDelivery;        // main thread only
};

ProgressRelay::ProgressRelay(Apply apply, std::chrono::milliseconds interval)
    : state_(std::make_shared<State>(std::move(apply), interval)) {}

ProgressRelay::~ProgressRelay() = default;

ProgressRelay::Report ProgressRelay::reporter() const {
    return [weak = std::weak_ptr<State>(state_)](const std::string& jobId, double fraction) {
        if (const auto state = weak.lock()) {
            state->report(jobId, fraction);
        }
    };
}

}  // namespace qb::model
