#pragma once

// Child processes as the benchmark measures them: started with their own environment and their output in a
// file, waited for with a time limit, their CPU time and resident memory read from the kernel.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qb::bench {

using Environment = std::map<std::string, std::string>;

struct Finished {
    int status = -1;  // exit status, -1 when it did not exit normally in time
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKib = 0;
};

class Child {
public:
    // Starts `arguments` with the inherited environment changed by `environment`; standard output and standard
    // error go to `output`.
    Child(const std::vector<std::string>& arguments, const Environment& environment, std::filesystem::path output);
    ~Child();  // ends a child still running
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    // The first output line that begins with `prefix`, rest of the line only; none when the child exits or
    // `limit` runs out first.
    std::optional<std::string> waitForLine(const std::string& prefix, std::chrono::milliseconds limit) const;
    std::string output() const;
    // Waits for the exit, at most `limit`; a child still running then is killed.
    Finished wait(std::chrono::milliseconds limit);
    void terminate();

    // While it runs: user plus system CPU time so far, resident memory now and at its peak, and a reset of the
    // peak to the current figure.
    double cpuSeconds() const;
    long residentKib() const;
    long peakKib() const;
    void resetPeak() const;

private:
    long statusField(const std::string& name) const;

    pid_t pid_ = -1;
    std::filesystem::path output_;
    std::chrono::steady_clock::time_point startedAt_;
};

// The one-minute load average of the machine.
double loadAverage();

}  // namespace qb::bench
