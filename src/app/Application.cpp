#include "app/Application.h"

#include <cstring>
#include <functional>

#include <QApplication>
#include <QCryptographicHash>
#include <QIcon>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>

#include "l10n/L.h"
#include "model/AppModel.h"
#include "model/PathText.h"
#include "platform/AvahiDnsSd.h"
#include "platform/SettingsStore.h"
#include "platform/desktop/DesktopNotifier.h"
#include "platform/desktop/EventSounds.h"
#include "ui/PanelWindow.h"

namespace qb::app {

namespace {

using platform::desktop::DesktopNotifier;

QString localized(std::string_view key) {
    return QString::fromStdString(l10n::L::t(key));
}

// A blocking warning with the accept button first. Both buttons share one role so that no platform button
// layout reorders them.
bool confirmKeyChange(const model::KeyChangePrompt& prompt) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quobblefin"), QString::fromStdString(prompt.title));
    box.setInformativeText(QString::fromStdString(prompt.text));
    QPushButton* accept = box.addButton(QString::fromStdString(prompt.acceptLabel), QMessageBox::ActionRole);
    QPushButton* decline = box.addButton(QString::fromStdString(prompt.declineLabel), QMessageBox::ActionRole);
    box.setDefaultButton(accept);
    box.setEscapeButton(decline);
    box.raise();
    box.activateWindow();
    box.exec();
    return box.clickedButton() == accept;
}

// The icon theme's application icon, else a plain drawn mark so the tray never shows an empty slot.
QIcon statusIcon() {
    QIcon themed = QIcon::fromTheme(QString::fromLatin1(platform::desktop::kApplicationId));
    if (!themed.isNull()) {
        return themed;
    }
    QPixmap mark(18, 18);
    mark.fill(Qt::transparent);
    QPainter painter(&mark);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2a, 0x7a, 0xe2));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, 16, 16), 4, 4);
    return QIcon(mark);
}

// Fills the desktop services that `config` leaves unset with the real ones.
void addDesktopServices(model::ModelConfig& config, DesktopNotifier* notifier, platform::desktop::EventSounds& sounds) {
    auto& desktop = config.desktop;
    if (!desktop.notify && notifier != nullptr) {
        desktop.notify = [notifier](const std::string& title, const std::string& body) {
            notifier->notify(title, body);
        };
    }
    if (!desktop.playSound) {
        desktop.playSound = [&sounds](std::string_view sound) { sounds.play(sound); };
    }
    if (!desktop.confirmKeyChange) {
        desktop.confirmKeyChange = confirmKeyChange;
    }
}

bool hasArgument(int argc, char** argv, const char* wanted) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], wanted) == 0) {
            return true;
        }
    }
    return false;
}

// One local socket per settings folder: instances that share settings are one application.
QString reopenChannelName() {
    const QByteArray folder = QFile::encodeName(model::toQString(platform::SettingsStore::defaultFile().parent_path()));
    const QByteArray digest = QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("quobblefin-") + QString::fromLatin1(digest);
}

// Asks a running instance to show its panel; true when one answered the call.
bool tellRunningInstance(const QString& channel) {
    QLocalSocket socket;
    socket.connectToServer(channel);
    if (!socket.waitForConnected(1000)) {
        return false;
    }
    socket.write("show\n");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return true;
}

// Listens for later starts of the application and shows the panel for each.
class ReopenListener {
public:
    ReopenListener(const QString& channel, std::function<void()> reopen) : reopen_(std::move(reopen)) {
        // A socket left behind by a crashed instance would make listening fail.
        QLocalServer::removeServer(channel);
        server_.listen(channel);
        QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] { acceptAll(); });
    }

private:
    void acceptAll() {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            reopen_();
        }
    }

    QLocalServer server_;
    std::function<void()> reopen_;
};

// The model advertises and browses through the system's mDNS responder, and connections to discovered
// services resolve through it.
model::ModelConfig dnsSdConfig(const std::shared_ptr<platform::AvahiDnsSd>& dnsSd) {
    model::ModelConfig config;
    if (!dnsSd) {
        return config;
    }
    platform::setServiceResolver(dnsSd->resolver());
    config.server.makeAdvertiser = [dnsSd] { return dnsSd->makeAdvertiser(); };
    config.discovery.browser = dnsSd->makeBrowser();
    return config;
}

}  // namespace

AppDelegate::AppDelegate(bool hidden, model::ModelConfig config, QObject* parent)
    : QObject(parent), hidden_(hidden), sounds_(std::make_unique<platform::desktop::EventSounds>()) {
    const auto executable = model::toPath(QCoreApplication::applicationFilePath());
    if (DesktopNotifier::isInstalledExecutable(executable)) {
        notifier_ = std::make_unique<DesktopNotifier>();
    }
    addDesktopServices(config, notifier_.get(), *sounds_);
    model_ = std::make_unique<model::AppModel>(std::move(config));
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::launch() {
    model_->start();
    panel_ = std::make_unique<ui::PanelWindow>(*model_);
    createStatusItem();
    QPointer<AppDelegate> self(this);
    model_->setOnLangChanged([self] {
        if (self) {
            self->rebuildMenu();
        }
    });
    model_->setOnReceived([self](const model::InboxItem&) {
        if (self) {
            self->showPanel();
        }
    });
    model_->setOnRequest([self] {
        if (self) {
            self->showPanel();
        }
    });
    if (!hidden_) {
        showPanel();
    }
}

void AppDelegate::showPanel() {
    if (panel_) {
        panel_->showInFront();
    }
}

void AppDelegate::togglePanel() {
    if (panel_) {
        panel_->toggle();
    }
}

void AppDelegate::createStatusItem() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    statusItem_ = std::make_unique<QSystemTrayIcon>(statusIcon());
    statusItem_->setToolTip(QStringLiteral("Quobblefin"));
    rebuildMenu();
    statusItem_->show();
}

void AppDelegate::rebuildMenu() {
    if (!statusItem_) {
        return;
    }
    auto menu = std::make_unique<QMenu>();
    menu->addAction(localized("menu.toggle"), this, &AppDelegate::togglePanel);
    menu->addSeparator();
    menu->addAction(localized("menu.quit"), qApp, &QCoreApplication::quit);
    statusItem_->setContextMenu(menu.get());
    menu_ = std::move(menu);
}

int runApplication(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quobblefin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quobblefin"));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(platform::desktop::kApplicationId));
    // The application lives in the tray: hiding the panel must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    const QString channel = reopenChannelName();
    if (tellRunningInstance(channel)) {
        return 0;
    }
    const auto dnsSd = platform::AvahiDnsSd::create();
    {
        AppDelegate delegate(hasArgument(argc, argv, "--hidden"), dnsSdConfig(dnsSd));
        ReopenListener reopen(channel, [&delegate] { delegate.showPanel(); });
        delegate.launch();
        QApplication::exec();
    }
    platform::setServiceResolver({});
    return 0;
}

}  // namespace qb::app
