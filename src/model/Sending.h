#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "model/AddressCheck.h"
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

    // Items handed over from the file manager, waiting for the user to choose a device. Staging replaces what
    // was waiting.
    const std::vector<std::filesystem::path>& sharedItems() const { return sharedItems_; }
    void stageShare(std::vector<std::filesystem::path> items) { sharedItems_ = std::move(items); }
    // False when nothing was waiting.
    bool dropShare();
    // Sends the waiting items to `peer` as one transfer and clears them.
    void sendShare(const Peer& peer);

    // Devices added by address, for networks where DNS-SD finds nothing.
    // Reads the key of the listener at host and port without trusting it. `done` runs on the main thread, never
    // once this is gone, with the key or the reason it could not be read.
    void checkAddress(const std::string& host, std::uint16_t port, std::function<void(const AddressCheck&)> done);
    // Once the user has confirmed the key's first characters: pairs with that key pinned, as pairDevice does, and
    // on success stores the address for the key. `label` names the device; unset, the host does. Answers the
    // pairing job's id; empty when no pairing was started.
    std::string pairAddress(const AddressCheck& checked, const std::optional<std::string>& label);

private:
    // The handshake part of pairing; `address` is stored for the key when it succeeds. Answers the job's id.
    std::string startPairing(const Peer& peer, const std::optional<platform::HostPort>& address);
    void finishSend(const std::string& jobId, const std::string& peerName, const std::optional<std::string>& pinned,
                    const transfer::TransferResult& result);
    void finishPairing(const std::string& jobId, const Peer& peer, const std::optional<platform::HostPort>& address,
                       const transfer::TransferResult& result);
    std::string appendJob(std::string name, const Peer& peer, bool pair);

    SenderHooks hooks_;
    const ModelSettings& settings_;
    TrustStore& trust_;
    Jobs& jobs_;
    std::vector<std::filesystem::path> sharedItems_;
    // Reports that hop to the main thread do nothing once this is gone.
    QObject lifetime_;
};

}  // namespace qb::model
