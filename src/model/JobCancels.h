#pragma once

#include <map>
#include <memory>
#include <string>

#include "transfer/Cancellation.h"
#include "transfer/TransferServer.h"

namespace qb::model {

// What stops each running job: the token its outgoing transfer or pairing observes, or the server whose strand
// carries its incoming body. Main thread only; an entry lives from the job's start to its outcome.
class JobCancels {
public:
    // A fresh token for an outgoing job, to hand to the sender.
    std::shared_ptr<transfer::Cancellation> watchOutgoing(const std::string& jobId);
    void watchIncoming(const std::string& jobId, std::weak_ptr<transfer::TransferServer> server);
    // Closes the job's connection; its outcome then arrives as for any other end. Unknown jobs do nothing.
    void cancel(const std::string& jobId);
    void forget(const std::string& jobId);

private:
    struct Stopper {
        std::shared_ptr<transfer::Cancellation> token;
        std::weak_ptr<transfer::TransferServer> server;
    };
    std::map<std::string, Stopper, std::less<>> stoppers_;
};

}  // namespace qb::model
