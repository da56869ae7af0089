#pragma once

#include <vector>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace qb::test {

// Stands in for the desktop's notification service on a private bus: records each notification and lets the
// test click its buttons or close it, as the user would.
class FakeNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Posted {
        uint id;
        QString summary;
        QString body;
        QStringList actions;  // key, label, key, label...
    };

    FakeNotificationService(QDBusConnection bus, QStringList capabilities)
        : bus_(std::move(bus)), capabilities_(std::move(capabilities)) {
        bus_.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots);
        bus_.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

    // Emits the signal a click on the button with label `label` of notification `posted` sends.
    void click(const Posted& notification, const QString& label) {
        const qsizetype at = notification.actions.indexOf(label);
        if (at > 0) {
            emitSignal(QStringLiteral("ActionInvoked"), {notification.id, notification.actions[at - 1]});
        }
    }
    void close(const Posted& notification) { emitSignal(QStringLiteral("NotificationClosed"), {notification.id, 2u}); }

    std::vector<Posted> posted;
    std::vector<uint> closed;  // ids the application closed itself

public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities_; }
    uint Notify(const QString& /*appName*/, uint /*replacesId*/, const QString& /*icon*/, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& /*hints*/, int /*timeout*/) {
        posted.push_back({nextId_, summary, body, actions});
        return nextId_++;
    }
    void CloseNotification(uint id) { closed.push_back(id); }

private:
    void emitSignal(const QString& name, const QVariantList& arguments) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"), name);
        signal.setArguments(arguments);
        bus_.send(signal);
    }

    QDBusConnection bus_;
    QStringList capabilities_;
    uint nextId_ = 7;
};

}  // namespace qb::test
