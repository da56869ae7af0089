#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <QObject>

#include "model/AddressCheck.h"
#include "model/DesktopHooks.h"
#include "model/DeviceLists.h"
#include "model/InboxItem.h"
#include "model/IncomingRequest.h"
#include "model/Peer.h"
#include "model/ReceiveMode.h"
#include "model/Settings.h"
#include "model/TransferJob.h"

namespace qb::transfer {
struct FileHeader;
class ReceiveResult;
}  // namespace qb::transfer

namespace qb::model {

// Built by the application (and by tests) from model/ModelServices.h, which the views never need.
struct ModelConfig;

class Discovery;
class IncomingTransfers;
class InboxFolder;
class Jobs;
class ModelSettings;
class Notices;
class Sending;
class TrustStore;

// The one object that owns everything the user sees: settings, discovered peers, jobs, requests, inbox and
// the trust collections. Lives on the main thread and is touched nowhere else; every component reports to it
// through callbacks that hold it weakly and hop to the main thread first. Every change is announced by
// changed(), after the new state is in place.
//
// A facade: each responsibility is its own part (settings, trust and device lists, jobs, notices, inbox,
// incoming transfers, sending); the model wires them together and runs the effects that cross parts.
class AppModel : public QObject {
    Q_OBJECT

public:
    // Loads the settings; nothing is started until start().
    explicit AppModel(ModelConfig config, QObject* parent = nullptr);
    ~AppModel() override;

    // Creates the receive folder, reads the inbox, starts receiving unless it is off, starts browsing for peers
    // and probing the user's devices, prepares notifications.
    void start();

    // Settings. Each setter stores the value and runs the effects of the change.
    const std::string& deviceName() const;
    void setDeviceName(std::string name);
    // The user's rename: trimmed; empty or unchanged does nothing; restarts the listener under the new name.
    void applyDeviceName(std::string_view name);
    const std::filesystem::path& saveDir() const;
    void setSaveDir(std::filesystem::path folder);
    // The folder whose access is open; on Linux opening access always succeeds.
    const std::optional<std::filesystem::path>& scopedDir() const;
    bool playSound() const;
    void setPlaySound(bool on);
    // Where the panel window was last; the views own its format.
    const std::string& panelFrame() const;
    void setPanelFrame(std::string frame);
    const std::string& lang() const;
    void setLang(std::string code);
    ReceiveMode receiveMode() const;
    void setReceiveMode(ReceiveMode mode);

    // The user's autostart entry, starting the application hidden at login. Stored; the entry is written or
    // removed with it, and a write or removal that fails leaves the setting as it was.
    bool startAtLogin() const;
    void setStartAtLogin(bool on);

    // Items handed over from the file manager ("--share"), waiting for the user to choose a device. Staging
    // replaces what was waiting.
    const std::vector<std::filesystem::path>& sharedItems() const;
    void stageShare(std::vector<std::filesystem::path> items);
    void dropShare();
    // Sends the waiting items to `peer` as one transfer and clears them.
    void sendShare(const Peer& peer);

    // Trust collections, each stored whole on every change.
    const std::vector<std::string>& trusted() const;
    void setTrusted(std::vector<std::string> keys);
    const TextMap& trustedNames() const;
    void setTrustedNames(TextMap names);
    const TextMap& knownKeys() const;
    void setKnownKeys(TextMap keys);
    const TextMap& deviceNames() const;
    void setDeviceNames(TextMap names);
    const std::vector<std::string>& myDevices() const;
    void setMyDevices(std::vector<std::string> ids);

    // The listener as advertised; empty and 0 while no advertisement is known.
    const std::string& registeredName() const;
    std::uint16_t port() const;

    // Discovery: the browser's latest list, and the presence monitor's unreachable service names.
    const std::vector<Peer>& peers() const;
    void setPeers(std::vector<Peer> peers);
    const std::set<std::string>& unreachable() const;
    void setUnreachable(std::set<std::string> serviceNames);

    // Jobs: appended when work starts, removed by timer after they finish.
    const std::vector<TransferJob>& jobs() const;
    void appendJob(TransferJob job);
    void setProgress(const std::string& jobId, double fraction);
    void setState(const std::string& jobId, TransferJob::State state);
    // Stops a running job (either direction, transfer or pairing): its connection closes at once and the job
    // ends failed with the cancelled text, or with its own outcome if that came first.
    void cancel(const std::string& jobId);

    const std::vector<IncomingRequest>& requests() const;

    // Incoming transfers: (re)starts the listener under the device name.
    void startServer();
    // The gate for one incoming header: accept, decline, or queue a request for the user.
    void decideIncoming(const transfer::FileHeader& header, const std::optional<std::string>& senderKey,
                        std::function<void(bool)> answer);
    // The end of an incoming transfer: the job's outcome, and on success the inbox, a sound and a notification.
    void finishIncoming(const std::string& transferId, const transfer::ReceiveResult& result);
    // Carries out the user's answer to a waiting request and records an accepted sender's key.
    void respond(const IncomingRequest& request, bool accept, bool remember);

    // Inbox of received items.
    const std::vector<InboxItem>& inbox() const;
    void refreshInbox();
    void trash(const InboxItem& item);

    // Posts a desktop notification when this process may, with buttons where the desktop shows them.
    void notify(const std::string& title, const std::string& body,
                std::vector<platform::NotificationAction> actions = {});

    // Sends files and folders to a peer as one transfer, pinned to the peer's key when it has one.
    void send(const std::vector<std::filesystem::path>& items, const Peer& peer);

    // Trust store.
    void addDevice(const std::string& id, const std::optional<std::string>& label);
    void pairDevice(const Peer& peer);
    // Asks the user to accept a changed key for `name`; on yes records it and answers true.
    bool trustNewKey(const std::string& name, const std::string& oldKey, const std::string& newKey);
    void removeDevice(const std::string& id);
    bool isKnownSender(const std::string& name, const std::optional<std::string>& key) const;
    // The confirmation shown by trustNewKey.
    static KeyChangePrompt keyChangePrompt(const std::string& name, const std::string& oldKey,
                                           const std::string& newKey);

    // Devices added by address, for networks where DNS-SD finds nothing.
    // Reads the key of the listener at host and port without trusting it. `done` runs on the main thread, never
    // once the model is gone, with the key or the reason it could not be read.
    void checkAddress(const std::string& host, std::uint16_t port, std::function<void(const AddressCheck&)> done);
    // Once the user has confirmed the key's first characters: pairs with that key pinned, as pairDevice does, and
    // on success stores the address for the key. `label` names the device; unset, the host does. Answers the
    // pairing job's id, whose state tells how it ends; empty when no pairing was needed (a device already paired
    // only has its address replaced) or possible.
    std::string pairAddress(const AddressCheck& checked, const std::optional<std::string>& label = std::nullopt);
    // Key fingerprint -> stored address, for every device that has one.
    std::map<std::string, platform::HostPort> deviceAddresses() const;
    // Where a listed device can be sent to: what answers of its discovered peer (the advertised endpoint wins) and
    // its stored address with its key pinned; none when it has neither.
    std::optional<Peer> reachablePeer(const std::string& id) const;

    // Device lists, computed on demand.
    DeviceLists deviceLists() const;
    std::vector<std::string> listedDevices() const { return deviceLists().listedDevices(); }
    std::optional<Peer> onlinePeerRaw(const std::string& id) const { return deviceLists().onlinePeerRaw(id); }
    bool isOnline(const std::string& id) const { return deviceLists().isOnline(id); }
    // The peer a listed device is shown with and sent to while it is online; none while it is offline.
    std::optional<Peer> onlinePeer(const std::string& id) const { return deviceLists().onlinePeer(id); }
    std::string displayName(const std::string& id) const { return deviceLists().displayName(id); }
    std::vector<Peer> nearbyPeers() const { return deviceLists().nearbyPeers(); }
    std::string listedId(const Peer& peer) const { return deviceLists().listedId(peer); }

    // This device's key fingerprint.
    const std::string& ownKey() const;

    // Callback slots of the application delegate.
    void setOnLangChanged(std::function<void()> callback);
    void setOnReceived(std::function<void(const InboxItem&)> callback);
    void setOnRequest(std::function<void()> callback);

Q_SIGNALS:
    void changed();

private:
    void announce();

    // Declared in the order they are built; each part may use those above it.
    std::unique_ptr<ModelSettings> settings_;
    std::unique_ptr<TrustStore> trust_;
    std::unique_ptr<Jobs> jobs_;
    std::unique_ptr<Notices> notices_;
    std::unique_ptr<InboxFolder> inbox_;
    std::unique_ptr<IncomingTransfers> incoming_;
    std::unique_ptr<Sending> sending_;
    std::unique_ptr<Discovery> discovery_;
};

}  // namespace qb::model
