#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
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

    // Fire and forget: a missing service or a refusal goes unreported. `actions` are dropped when the service
    // shows no buttons.
    void notify(const std::string& title, const std::string& body, std::vector<NotificationAction> actions = {});

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    void remember(uint id, std::vector<NotificationAction> actions);

    QDBusConnection bus_;
    bool offersActions_ = false;
    // Actions of the notifications still shown, by the service's notification id.
    std::map<uint, std::vector<NotificationAction>> shown_;
};

}  // namespace qb::platform::desktop
