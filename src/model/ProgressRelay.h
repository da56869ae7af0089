#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace qb::model {

// Carries progress from network threads to the main thread at display rate. A transfer of many small files
// reports once per file, thousands of times a second; one main-thread hop and one model change per report
// would keep the main thread busy for nothing the eye can see. Reports are kept as the latest fraction per job,
// and one hop, at most once per `interval`, applies all that arrived since the last one.
class ProgressRelay {
public:
    using Apply = std::function<void(const std::string& jobId, double fraction)>;
    using Report = Apply;

    static constexpr std::chrono::milliseconds kDisplayInterval{40};

    // `apply` runs on the main thread only.
    explicit ProgressRelay(Apply apply, std::chrono::milliseconds interval = kDisplayInterval);
    ~ProgressRelay();
    ProgressRelay(const ProgressRelay&) = delete;
    ProgressRelay& operator=(const ProgressRelay&) = delete;

    // The function that takes reports, from any thread. It may outlive the relay; its reports are then dropped.
    Report reporter() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace qb::model
