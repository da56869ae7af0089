#include "app/CommandLineModes.h"

#include <asio/signal_set.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <ostream>
#include <semaphore>
#include <string_view>
#include <vector>

#include "platform/NetRuntime.h"
#include "platform/Printable.h"

namespace qb::app {

namespace {

// Shared by the waiting main thread and the sender's callbacks, which may outlive the wait when it times out.
class ModeOutcome {
public:
    explicit ModeOutcome(std::ostream& out) : out_(&out) {}

    // One whole line, never interleaved with another; dropped once the main thread has stopped waiting.
    // Error texts can carry what a peer sent, so control characters are escaped.
    void line(std::string_view text) {
        const std::lock_guard lock(outputLock_);
        if (out_ == nullptr)
            return;
        *out_ << platform::printable(text) << '\n';
        out_->flush();
    }

    void finish(const transfer::TransferResult& result, std::string_view successLine) {
        if (result.ok()) {
            line(successLine);
        } else {
            line("FAILED: " + result.error().description());
            failed_.store(true);
        }
        done_.release();
    }

    // The exit status once the result came or `limit` ran out.
    int wait(platform::Duration limit) {
        done_.try_acquire_for(limit);
        const std::lock_guard lock(outputLock_);
        out_ = nullptr;
        return failed_.load() ? 1 : 0;
    }

private:
    std::mutex outputLock_;
    std::ostream* out_;
    std::atomic<bool> failed_{false};
    std::binary_semaphore done_{0};
};

// SIGINT and SIGTERM cancel the transfer while the mode waits for it, so that an interrupted run still closes
// its connection and ends with its one result line. Handled on the network runtime: the main thread only waits.
class StopOnSignals {
public:
    explicit StopOnSignals(platform::NetRuntime& runtime)
        : token_(transfer::Cancellation::make()), signals_(runtime.makeStrand(), SIGINT, SIGTERM) {
        signals_.async_wait([token = token_](const std::error_code& error, int) {
            if (!error)
                token->cancel();
        });
    }
    ~StopOnSignals() {
        // Hands the signals back to their default action once nothing is left to cancel.
        std::error_code ignored;
        signals_.cancel(ignored);
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

    // The environment with this stop installed.
    transfer::SenderEnvironment with(transfer::SenderEnvironment environment) const {
        environment.cancellation = token_;
        return environment;
    }

private:
    std::shared_ptr<transfer::Cancellation> token_;
    asio::signal_set signals_;
};

platform::NetRuntime& runtimeOf(const transfer::SenderEnvironment& environment) {
    return environment.runtime != nullptr ? *environment.runtime : platform::NetRuntime::shared();
}

std::string progressLine(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "progress %.0f%%", fraction * 100.0);
    return text;
}

std::vector<std::filesystem::path> resolvedPaths(const std::vector<std::string>& paths) {
    std::vector<std::filesystem::path> resolved;
    resolved.reserve(paths.size());
    for (const auto& path : paths) {
        // An empty argument names nothing; resolving it would name the current folder.
        if (path.empty())
            resolved.emplace_back();
        else
            resolved.push_back(std::filesystem::absolute(path));
    }
    return resolved;
}

}  // namespace

std::string commandLineSenderName() {
    const char* name = std::getenv("QUOBBLEFIN_NAME");
    return name != nullptr ? name : "cli";
}

int runSend(const SendMode& mode, std::ostream& out) {
    return runSend(mode, out, ModeEnvironment{});
}

int runSend(const SendMode& mode, std::ostream& out, const ModeEnvironment& environment) {
    auto outcome = std::make_shared<ModeOutcome>(out);
    const StopOnSignals stop(runtimeOf(environment.sender));
    transfer::FileSender::send(
        resolvedPaths(mode.paths), platform::HostPort{mode.host, mode.port}, commandLineSenderName(), mode.waitForGo,
        mode.peerKey, false, [outcome](double fraction) { outcome->line(progressLine(fraction)); },
        [outcome](const transfer::TransferResult& result) { outcome->finish(result, "sent OK"); },
        stop.with(environment.sender));
    return outcome->wait(environment.waits.send);
}

int runPair(const PairMode& mode, std::ostream& out) {
    return runPair(mode, out, ModeEnvironment{});
}

int runPair(const PairMode& mode, std::ostream& out, const ModeEnvironment& environment) {
    auto outcome = std::make_shared<ModeOutcome>(out);
    const StopOnSignals stop(runtimeOf(environment.sender));
    transfer::FileSender::pair(
        platform::HostPort{mode.host, mode.port}, commandLineSenderName(), mode.peerKey,
        [outcome](const transfer::TransferResult& result) { outcome->finish(result, "paired OK"); },
        stop.with(environment.sender));
    return outcome->wait(environment.waits.pair);
}

}  // namespace qb::app
