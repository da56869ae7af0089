#include "model/JobCancels.h"

namespace qb::model {

std::shared_ptr<transfer::Cancellation> JobCancels::watchOutgoing(const std::string& jobId) {
    auto token = transfer::Cancellation::make();
    stoppers_[jobId] = Stopper{token, {}};
    return token;
}

void JobCancels::watchIncoming(const std::string& jobId, std::weak_ptr<transfer::TransferServer> server) {
    stoppers_[jobId] = Stopper{nullptr, std::move(server)};
}

void JobCancels::cancel(const std::string& jobId) {
    const auto entry = stoppers_.find(jobId);
    if (entry == stoppers_.end()) {
        return;
    }
    if (entry->second.token) {
        entry->second.token->cancel();
    } else if (const auto server = entry->second.server.lock()) {
        // The server that carries the body, even when receiving has since moved to a new server.
        server->cancelTransfer(jobId);
    }
}

void JobCancels::forget(const std::string& jobId) {
    stoppers_.erase(jobId);
}

}  // namespace qb::model
