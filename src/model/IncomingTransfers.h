#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "model/IncomingRequest.h"
#include "model/ModelServices.h"
#include "transfer/Receiver.h"
#include "transfer/TransferServer.h"
#include "transfer/Wire.h"

namespace qb::model {

class InboxFolder;
class Jobs;
class ModelSettings;
class Notices;
class TrustStore;

// Receiving: the transfer server under this device's name, the gate that accepts, declines or asks about each
// incoming header, the requests waiting for the user, and the incoming jobs up to their arrival in the inbox.
class IncomingTransfers {
public:
    // The other parts of the model this one reads and reports to.
    struct Parts {
        ModelSettings& settings;
        TrustStore& trust;
        Jobs& jobs;
        InboxFolder& inbox;
        Notices& notices;
    };

    IncomingTransfers(ServerSetup setup, Parts parts, std::function<void()> changed);
    ~IncomingTransfers();
    IncomingTransfers(const IncomingTransfers&) = delete;
    IncomingTransfers& operator=(const IncomingTransfers&) = delete;

    // The listener as advertised; empty and 0 while no advertisement is known.
    const std::string& registeredName() const { return registeredName_; }
    std::uint16_t port() const { return port_; }
    const std::vector<IncomingRequest>& requests() const { return requests_; }

    // (Re)starts the listener under the device name.
    void start();
    // Stops listening and advertising; transfers already under way finish.
    void stop();
    bool isRunning() const { return server_ != nullptr; }

    void decide(const transfer::FileHeader& header, const std::optional<std::string>& senderKey,
                transfer::TransferServer::Answer answer);
    void finish(const std::string& transferId, const transfer::ReceiveResult& result);
    void respond(const IncomingRequest& request, bool accept, bool remember);

private:
    void fillServerSlots(transfer::TransferServer& server);
    void begin(const std::string& transferId, const transfer::FileHeader& header);
    void queueRequest(const transfer::FileHeader& header, const std::optional<std::string>& senderKey,
                      transfer::TransferServer::Answer answer);
    // The sender of a waiting request went away: its card leaves without an answer.
    void withdraw(const std::string& requestId);
    IncomingRequest* findRequest(const std::string& requestId);
    // Answers the waiting request `requestId` from its notification's buttons, while it still waits.
    std::function<void(bool)> answerFromNotification(const std::string& requestId);
    void changed() const { changed_(); }

    ServerSetup setup_;
    Parts parts_;
    std::function<void()> changed_;
    std::string registeredName_;
    std::uint16_t port_ = 0;
    std::vector<IncomingRequest> requests_;
    // Sender names of the transfers under way, by transfer id.
    std::map<std::string, std::string> incomingFrom_;
    std::shared_ptr<transfer::TransferServer> server_;
    // Tells the current server's start report from a replaced server's late one.
    unsigned serverGeneration_ = 0;
    // Reports that hop to the main thread do nothing once this is gone.
    QObject lifetime_;
};

}  // namespace qb::model
