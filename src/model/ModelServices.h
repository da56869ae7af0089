#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/DesktopHooks.h"
#include "model/Discovery.h"
#include "model/Settings.h"
#include "platform/Endpoint.h"
#include "transfer/Cancellation.h"
#include "transfer/TransferError.h"
#include "transfer/TransferServer.h"

namespace qb::model {

// One outgoing transfer as the model asks for it.
struct SendRequest {
    std::vector<std::filesystem::path> items;
    platform::Endpoint to;
    std::string from;
    bool waitForGo = true;
    std::optional<std::string> peerKey;                    // pins the receiver's key and makes the transfer TLS
    std::shared_ptr<transfer::Cancellation> cancellation;  // the job's cancel button
};

// The sending side of the protocol. Both report on the transfer's own queue (or at once, on the caller's
// thread, when nothing can be sent); the model hops to the main thread itself.
struct SenderHooks {
    using Progress = std::function<void(double fraction)>;
    using Completion = std::function<void(transfer::TransferResult)>;

    std::function<void(SendRequest, Progress, Completion)> send;
    std::function<void(platform::Endpoint to, std::string from, std::string peerKey, Completion,
                       std::shared_ptr<transfer::Cancellation> cancellation)>
        pair;
};

// How the model builds its transfer server. The model supplies the main-thread hop itself.
struct ServerSetup {
    // Identity, runtime, bind address and time limits of every server the model starts.
    transfer::TransferServer::Options options;
    // A fresh DNS-SD advertiser for each server; unset means no advertising (reachable by address only).
    std::function<std::shared_ptr<platform::ServiceAdvertiser>()> makeAdvertiser;
};

struct ModelConfig {
    // Empty means the default settings file of the user.
    std::filesystem::path settingsFile;
    SettingsSources sources;
    ModelTimings timings;
    DesktopHooks desktop;
    // Unset means the real file sender.
    SenderHooks sender;
    ServerSetup server;
    DiscoverySetup discovery;
    // This device's key fingerprint; unset means the shared device identity's.
    std::function<std::string()> ownKey;
};

}  // namespace qb::model
