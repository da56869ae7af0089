#include "ui/FileManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QStringList>
#include <QUrl>

#include "model/PathText.h"

namespace qb::ui {

namespace {

QUrl fileUrl(const std::filesystem::path& path) {
    return QUrl::fromLocalFile(model::toQString(path));
}

}  // namespace

void openWithDefaultApp(const std::filesystem::path& path) {
    QDesktopServices::openUrl(fileUrl(path));
}

void revealInFileManager(const std::filesystem::path& path, QObject* context) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openWithDefaultApp(path.parent_path());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{fileUrl(path).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, folder = path.parent_path()] {
        if (watcher->isError()) {
            openWithDefaultApp(folder);
        }
        watcher->deleteLater();
    });
}

}  // namespace qb::ui
