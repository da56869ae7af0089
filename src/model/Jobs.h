#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <QObject>

#include "model/DesktopHooks.h"
#include "model/JobCancels.h"
#include "model/ProgressRelay.h"
#include "model/TransferJob.h"

namespace qb::model {

// The transfers and pairings under way, in the order they started. A finished job stays listed for a while
// (longer when it failed, so its message can be read) and then leaves by timer.
class Jobs {
public:
    Jobs(ModelTimings timings, std::function<void()> changed);

    const std::vector<TransferJob>& list() const { return jobs_; }
    void append(TransferJob job);
    // Reports for a job that is no longer listed are dropped.
    void setProgress(const std::string& jobId, double fraction);
    // Takes progress reports from any thread and applies them here at display rate.
    ProgressRelay::Report progressReporter() const { return relay_.reporter(); }
    void setState(const std::string& jobId, TransferJob::State state);
    // Stops a running job (either direction, transfer or pairing): its connection closes at once and the job
    // ends failed with the cancelled text, or with its own outcome if that came first.
    void cancel(const std::string& jobId);
    // What stops each running job; the parts that start jobs register them here.
    JobCancels& cancels() { return cancels_; }

private:
    void removeLater(const std::string& jobId, std::chrono::milliseconds delay);

    ModelTimings timings_;
    std::function<void()> changed_;
    std::vector<TransferJob> jobs_;
    JobCancels cancels_;
    // The removal timers' context: they end with the list.
    QObject timers_;
    ProgressRelay relay_;
};

}  // namespace qb::model
