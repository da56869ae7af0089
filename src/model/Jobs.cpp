#include "model/Jobs.h"

#include <algorithm>

#include <QTimer>

namespace qb::model {

Jobs::Jobs(ModelTimings timings, std::function<void()> changed)
    : timings_(timings),
      changed_(std::move(changed)),
      relay_([this](const std::string& jobId, double fraction) { setProgress(jobId, fraction); }) {}

void Jobs::append(TransferJob job) {
    jobs_.push_back(std::move(job));
    changed_();
}

void Jobs::setProgress(const std::string& jobId, double fraction) {
    const auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const TransferJob& j) { return j.id == jobId; });
    if (job == jobs_.end()) {
        return;
    }
    job->progress = fraction;
    changed_();
}

void Jobs::setState(const std::string& jobId, TransferJob::State state) {
    const auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const TransferJob& j) { return j.id == jobId; });
    if (job == jobs_.end()) {
        return;
    }
    const bool done = state.isDone();
    if (!state.isRunning()) {
        cancels_.forget(jobId);
    }
    job->state = std::move(state);
    if (done) {
        job->progress = 1.0;
    }
    removeLater(jobId, done ? timings_.doneLinger : timings_.failedLinger);
    changed_();
}

void Jobs::cancel(const std::string& jobId) {
    const auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const TransferJob& j) { return j.id == jobId; });
    if (job != jobs_.end() && job->state.isRunning()) {
        cancels_.cancel(jobId);
    }
}

void Jobs::removeLater(const std::string& jobId, std::chrono::milliseconds delay) {
    QTimer::singleShot(delay, &timers_, [this, jobId] {
        if (std::erase_if(jobs_, [&](const TransferJob& job) { return job.id == jobId; }) > 0) {
            changed_();
        }
    });
}

}  // namespace qb::model
