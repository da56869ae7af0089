#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include "platform/ApplicationId.h"
#include "platform/NotificationAction.h"

namespace qb::platform::desktop {

using platform::kApplicationId;

// Posts notifications through the desktop's org.freedesktop.Notifications service. When the service offers
// the "actions" capability, a notification carries its buttons and a click on one runs its action once;
// closing a notification runs nothing.
class DesktopNotifier : public QObject {
    Q_OBJECT

public:
    // Asks `bus`'s notification service for its capabilities at once; the answer arrives later.
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // True when `executable` runs as the installed application: it sits in a "bin" folder whose prefix holds
    // the application's desktop entry (<prefix>/share/applications/com.kestrun.quobblefin.desktop). A binary
    // in a build tree has no such entry beside it, so it posts nothing, like an unbundled program.
    static bool isInstalledExecutable(const std::filesystem::path& executable);

    // Whether the service has said it shows buttons; false until it has answered.
    bool offersActions() const { return offersActions_; }

    // A missing service or a refusal goes unreported. `actions` are dropped when the service shows no buttons.
    // The ticket takes the notification back with `withdraw`.
    NotificationTicket notify(const std::string& title, const std::string& body,
                              std::vector<NotificationAction> actions = {});
    // Closes a notification that is no longer true, such as a request answered in the panel. Nothing happens
    // when it is gone already; one whose id has not arrived yet is closed when it does.
    void withdraw(NotificationTicket ticket);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Shown {
        NotificationTicket ticket;
        std::vector<NotificationAction> actions;
    };

    void posted(uint id, Shown shown);
    void close(uint id);

    QDBusConnection bus_;
    bool offersActions_ = false;
    NotificationTicket lastTicket_ = 0;
    // The notifications still shown, by the service's notification id.
    std::map<uint, Shown> shown_;
    // Posted notifications whose id has not arrived, and those of them already withdrawn.
    std::set<NotificationTicket> unconfirmed_;
    std::set<NotificationTicket> withdrawnEarly_;
};

}  // namespace qb::platform::desktop
