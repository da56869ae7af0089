#include "platform/desktop/DesktopNotifier.h"

#include <algorithm>
#include <system_error>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

namespace qb::platform::desktop {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// A service that never reports closed notifications must not make the table grow without end.
constexpr std::size_t kMaxRemembered = 64;

QDBusMessage serviceCall(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

}  // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(serviceCall(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        const QDBusPendingReply<QStringList> reply = *call;
        offersActions_ = reply.isValid() && reply.value().contains(QStringLiteral("actions"));
        call->deleteLater();
    });
}

bool DesktopNotifier::isInstalledExecutable(const std::filesystem::path& executable) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(executable, error);
    if (error || resolved.parent_path().filename() != "bin") {
        return false;
    }
    const std::filesystem::path prefix = resolved.parent_path().parent_path();
    const std::filesystem::path entry = prefix / "share" / "applications" / (std::string(kApplicationId) + ".desktop");
    return std::filesystem::is_regular_file(entry, error);
}

NotificationTicket DesktopNotifier::notify(const std::string& title, const std::string& body,
                                           std::vector<NotificationAction> actions) {
    if (!offersActions_) {
        actions.clear();
    }
    // The service takes actions as a flat list of (key, label) pairs; the key is the action's index.
    QStringList actionList;
    for (std::size_t index = 0; index < actions.size(); ++index) {
        actionList << QString::number(index) << QString::fromStdString(actions[index].label);
    }
    const QString applicationId = QString::fromLatin1(kApplicationId);
    QVariantMap hints;
    // Lets the notification service find our desktop entry, for its icon and per-application settings.
    hints.insert(QStringLiteral("desktop-entry"), applicationId);
    QDBusMessage call = serviceCall(QStringLiteral("Notify"));
    call << QStringLiteral("Quobblefin") << 0u << applicationId << QString::fromStdString(title)
         << QString::fromStdString(body) << actionList << hints << -1;
    const NotificationTicket ticket = ++lastTicket_;
    if (unconfirmed_.size() >= kMaxRemembered) {
        withdrawnEarly_.erase(*unconfirmed_.begin());
        unconfirmed_.erase(unconfirmed_.begin());
    }
    unconfirmed_.insert(ticket);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, ticket, actions = std::move(actions)](QDBusPendingCallWatcher* pending) mutable {
                const QDBusPendingReply<uint> reply = *pending;
                const bool wanted = unconfirmed_.erase(ticket) > 0 && withdrawnEarly_.erase(ticket) == 0;
                if (reply.isValid()) {
                    if (wanted) {
                        posted(reply.value(), {ticket, std::move(actions)});
                    } else {
                        close(reply.value());
                    }
                }
                pending->deleteLater();
            });
    return ticket;
}

void DesktopNotifier::withdraw(NotificationTicket ticket) {
    const auto entry = std::find_if(shown_.begin(), shown_.end(),
                                    [ticket](const auto& shown) { return shown.second.ticket == ticket; });
    if (entry != shown_.end()) {
        close(entry->first);
        shown_.erase(entry);
    } else if (unconfirmed_.contains(ticket)) {
        withdrawnEarly_.insert(ticket);
    }
}

void DesktopNotifier::posted(uint id, Shown shown) {
    if (shown_.size() >= kMaxRemembered) {
        shown_.erase(shown_.begin());
    }
    shown_[id] = std::move(shown);
}

void DesktopNotifier::close(uint id) {
    QDBusMessage call = serviceCall(QStringLiteral("CloseNotification"));
    call << id;
    bus_.send(call);
}

void DesktopNotifier::onActionInvoked(uint id, const QString& actionKey) {
    const auto entry = shown_.find(id);
    if (entry == shown_.end()) {
        return;
    }
    bool isIndex = false;
    const uint index = actionKey.toUInt(&isIndex);
    if (!isIndex || index >= entry->second.actions.size()) {
        return;
    }
    // Each notification answers once; the action may post new notifications, so it runs after the erase.
    const std::function<void()> invoke = std::move(entry->second.actions[index].invoke);
    shown_.erase(entry);
    if (invoke) {
        invoke();
    }
}

void DesktopNotifier::onNotificationClosed(uint id, uint /*reason*/) {
    shown_.erase(id);
}

}  // namespace qb::platform::desktop
