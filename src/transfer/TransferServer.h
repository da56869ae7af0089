#pragma once

// The listening side of the transfer protocol: one listener (TLS when the device has an identity), its
// DNS-SD advertisement, and for each connection the header, the sender check, the owner's decision and
// the body. The server knows nothing of users, trust or settings: it asks and reports through the
// callback slots its owner fills.

#include <asio/ip/address.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/Acceptor.h"
#include "platform/MainQueue.h"
#include "platform/NetRuntime.h"
#include "platform/ServiceAdvertiser.h"
#include "platform/WaitingConnections.h"
#include "transfer/Cancellation.h"
#include "transfer/GateAnswer.h"
#include "transfer/Receiver.h"
#include "transfer/Wire.h"

namespace qb::identity {
class Identity;
}

namespace qb::transfer {

// The server's time limits; only tests change them.
struct ServerTimings {
    // How long the owner has to answer a header; no answer in time declines it.
    std::chrono::milliseconds gate{60'000};
    // Between a closing reply and the close, so that the peer can read the reply.
    std::chrono::milliseconds replyClose{300};
};

// How a TransferServer is built; the defaults are the application's.
struct ServerOptions {
    // Whose certificate the listener presents. Unset: the device's own (identity::Identity::shared()).
    // The listener runs TLS when the identity has a key the TLS library accepts, plain TCP otherwise
    // and when this is set to nullptr. Only read during create().
    std::optional<const identity::Identity*> identity;
    // Unset: platform::NetRuntime::shared(). Must outlive the server and its connections.
    platform::NetRuntime* runtime = nullptr;
    // Unset: no DNS-SD; the server then reports onStarted with its own ASCII name.
    std::shared_ptr<platform::ServiceAdvertiser> advertiser;
    // Where `decide` runs: the application passes its main-thread hop.
    platform::MainQueue mainQueue = platform::MainQueue::runInline();
    // Unset: every interface, IPv6 and IPv4.
    std::optional<asio::ip::address> bindAddress;
    ServerTimings timings;
    // Connections still in their TLS handshake or waiting for their header, per source address and in
    // total; the oldest of them is closed when a new one would pass a cap.
    platform::WaitingConnections::Caps waitingCaps;
};

class TransferServer : public std::enable_shared_from_this<TransferServer> {
    struct PrivateTag {};

public:
    static constexpr std::string_view kServiceType = "_quobblefin._tcp";

    // Where received items go; asked once per accepted transfer, on the server's strand. May block on the
    // main thread (the owner's settings live there); it is never called from the main thread.
    using SaveDir = std::function<std::filesystem::path()>;
    // The owner's decision on one header: true accepts. Callable from any thread, any number of times:
    // only the first call counts, and none after the gate timed out or the sender went away.
    using Answer = GateAnswer;

    using Options = ServerOptions;

    struct CreateResult {
        std::error_code error;
        std::shared_ptr<TransferServer> server;  // null exactly when error is set
    };

    // Builds the server and binds its listener on a port the system chooses, without accepting yet. Fails
    // exactly when the listener cannot be created; nothing is left behind then.
    static CreateResult create(std::string serviceName, SaveDir saveDir, Options options = {});

    TransferServer(PrivateTag, std::string serviceName, SaveDir saveDir, Options options, std::string ownFingerprint,
                   std::shared_ptr<platform::Acceptor> acceptor, std::shared_ptr<platform::WaitingConnections> waiting,
                   platform::Strand strand);
    ~TransferServer();
    TransferServer(const TransferServer&) = delete;
    TransferServer& operator=(const TransferServer&) = delete;

    // Callback slots. Fill them before start() and leave them alone afterwards. Each should hold its owner
    // weakly; the server copies what it needs, so none of them keeps the server alive.
    //
    // The advertisement is registered (again after a rename), or DNS-SD is not available and the server
    // listens under Wire::asciiName(serviceName). On the server's strand.
    std::function<void(const std::string& registeredName, std::uint16_t port)> onStarted;
    // The gate: accept or decline one header. Runs through Options::mainQueue (on the main thread);
    // `senderKey` is the sender's key fingerprint, present only on a TLS listener. Unset: accept everything.
    std::function<void(const FileHeader& header, const std::optional<std::string>& senderKey, Answer answer)> decide;
    // An accepted body starts; `transferId` is a fresh random UUID text. On the server's strand.
    std::function<void(const std::string& transferId, const FileHeader& header)> onBegin;
    // Fraction of the body written, above 0 up to 1. On the server's strand.
    std::function<void(const std::string& transferId, double fraction)> onProgress;
    // The transfer ended; exactly once per onBegin. On the server's strand.
    std::function<void(const std::string& transferId, const ReceiveResult& result)> onFinish;

    // Ends the body of one accepted transfer at once: its connection closes on the server's strand, what it made
    // is removed, and onFinish reports `cancelled`. An unknown or finished id does nothing. From any thread.
    void cancelTransfer(const std::string& transferId);

    // Starts accepting and advertising. Once; returns at once.
    void start();
    // Stops accepting and withdraws the advertisement; connections already accepted run on. The owner then
    // drops the server. Returns at once; also done by the destructor.
    void cancel();

    std::uint16_t port() const { return acceptor_->port(); }
    bool isTls() const { return acceptor_->isTls(); }
    const std::string& serviceName() const { return serviceName_; }
    // The instance name asked of DNS-SD: Wire::asciiName(serviceName()).
    const std::string& advertisedName() const { return advertisedName_; }
    // "v" the generation, "n" the service name unchanged, "k" the key fingerprint (TLS only).
    platform::ServiceAdvertiser::TxtRecord txtRecord() const;

private:
    friend class ServerConnection;

    void startOnStrand();
    void reportStarted(const std::string& registeredName);
    void accept(platform::Stream stream);

    const std::string serviceName_;
    const std::string advertisedName_;
    const SaveDir saveDir_;
    const Options options_;
    const std::string ownFingerprint_;  // empty on a plain listener
    const std::shared_ptr<platform::Acceptor> acceptor_;
    const std::shared_ptr<platform::WaitingConnections> waiting_;  // strand only
    const platform::Strand strand_;
    bool started_ = false;    // strand only
    bool cancelled_ = false;  // strand only
    // The bodies under way, by transfer id. Strand only.
    std::map<std::string, std::shared_ptr<Cancellation>, std::less<>> receiving_;
};

}  // namespace qb::transfer
