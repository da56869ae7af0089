#include "platform/desktop/DesktopNotifier.h"

#include <system_error>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace qb::platform::desktop {

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

void DesktopNotifier::notify(const std::string& title, const std::string& body) const {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QString applicationId = QString::fromLatin1(kApplicationId);
    QVariantMap hints;
    // Lets the notification service find our desktop entry, for its icon and per-application settings.
    hints.insert(QStringLiteral("desktop-entry"), applicationId);
    call << QStringLiteral("Quobblefin") << 0u << applicationId << QString::fromStdString(title)
         << QString::fromStdString(body) << QStringList() << hints << -1;
    QDBusConnection::sessionBus().send(call);
}

}  // namespace qb::platform::desktop
