#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QLocalServer>
#include <QString>

namespace qb::app {

// What a later start of the application asks of the running one: show the panel, and with items, offer
// them for sending.
struct ReopenRequest {
    std::vector<std::filesystem::path> share;
};

// The message a later start sends: "show" or "share" followed by absolute paths, each field ended by a NUL
// byte (the one byte no path can hold).
QByteArray encodeReopen(const ReopenRequest& request);
// Reads a message from another local process: an unknown command gives nothing; relative, empty or
// over-long paths and an unfinished last field are dropped.
std::optional<ReopenRequest> decodeReopen(const QByteArray& message);

// One local socket per settings folder: instances that share settings are one application.
QString reopenChannelName();

// Hands `request` to the instance listening on `channel`; true when one took the whole message.
bool tellRunningInstance(const QString& channel, const ReopenRequest& request);

// Takes the messages of later starts, one per connection, and hands each well-formed one on.
class ReopenListener {
public:
    ReopenListener(const QString& channel, std::function<void(ReopenRequest)> onRequest);

private:
    void acceptAll();

    QLocalServer server_;
    std::function<void(ReopenRequest)> onRequest_;
};

}  // namespace qb::app
