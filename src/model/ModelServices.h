#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/Settings.h"
#include "platform/Endpoint.h"
#include "transfer/Cancellation.h"
#include "transfer/TransferError.h"
#include "transfer/TransferServer.h"

namespace qb::model {

// How long a finished job stays listed.
struct ModelTimings {
    std::chrono::milliseconds doneLinger{3000};
    std::chrono::milliseconds failedLinger{8000};
};

// The key-change confirmation as the user sees it: a warning with two buttons, accept first.
struct KeyChangePrompt {
    std::string title;
    std::string text;
    std::string acceptLabel;
    std::string declineLabel;
};

// Event sounds by their system names; the desktop layer maps them to sound-theme ids.
namespace eventSound {
inline constexpr std::string_view request = "Ping";
inline constexpr std::string_view received = "Glass";
}  // namespace eventSound

// The desktop services the model uses, filled by the application (tests fill them with fakes). An unset
// service does nothing: no notification, no sound, and a key change that nobody confirms is refused.
struct DesktopHooks {
    // Unset when this process may not post notifications (it is not the installed application).
    std::function<void(const std::string& title, const std::string& body)> notify;
    std::function<void(std::string_view sound)> playSound;
    // Blocks until the user answers; true accepts the new key.
    std::function<bool(const KeyChangePrompt&)> confirmKeyChange;
};

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
    // This device's key fingerprint; unset means the shared device identity's.
    std::function<std::string()> ownKey;
};

}  // namespace qb::model
