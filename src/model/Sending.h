#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "model/ModelServices.h"
#include "model/Peer.h"

namespace qb::model {

class Jobs;
class ModelSettings;
class TrustStore;

// Outgoing work: files and folders sent to a peer, and pairing requests, each shown as a job. The pin is
// chosen from the peer's advertised key and the recorded one; a key becomes known once a transfer with it
// has gone through.
class Sending {
public:
    Sending(SenderHooks hooks, const ModelSettings& settings, TrustStore& trust, Jobs& jobs);

    // Sends files and folders to a peer as one transfer, pinned to the peer's key when it has one.
    void send(const std::vector<std::filesystem::path>& items, const Peer& peer);
    // Pairs with a TLS peer by a signed request; older peers and peers without a key are simply added.
    void pairDevice(const Peer& peer);

private:
    void finishSend(const std::string& jobId, const std::string& peerName, const std::optional<std::string>& pinned,
                    const transfer::TransferResult& result);
    void finishPairing(const std::string& jobId, const Peer& peer, const transfer::TransferResult& result);
    std::string appendJob(std::string name, const Peer& peer, bool pair);

    SenderHooks hooks_;
    const ModelSettings& settings_;
    TrustStore& trust_;
    Jobs& jobs_;
    // Reports that hop to the main thread do nothing once this is gone.
    QObject lifetime_;
};

}  // namespace qb::model
