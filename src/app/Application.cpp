#include "app/Application.h"

#include <cstring>
#include <functional>

#include <QActionGroup>
#include <QApplication>
#include <QCryptographicHash>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTranslator>

#include "l10n/L.h"
#include "model/AppModel.h"
#include "model/PathText.h"
#include "platform/AvahiDnsSd.h"
#include "platform/SettingsStore.h"
#include "platform/desktop/DesktopNotifier.h"
#include "platform/desktop/EventSounds.h"
#include "ui/FileManager.h"
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

// Our own monochrome tray image, drawn with a thin dark edge so that it reads on light and dark panels; the
// theme's transfer symbol only if the resource were missing.
QIcon statusIcon() {
    QPixmap image(QStringLiteral(":/menubar.png"));
    if (!image.isNull()) {
        return QIcon(image.scaled(18, 18, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    return QIcon::fromTheme(QStringLiteral("network-transmit-receive-symbolic"));
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

AppDelegate::AppDelegate(LaunchOptions launch, model::ModelConfig config, ui::DialogHooks dialogs, QObject* parent)
    : QObject(parent),
      launch_(launch),
      dialogs_(std::move(dialogs)),
      sounds_(std::make_unique<platform::desktop::EventSounds>()) {
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
    loadQtTexts();
    panel_ = std::make_unique<ui::PanelWindow>(*model_, ui::PanelOptions{dialogs_});
    rebuildMenu();
    createStatusItem();
    QPointer<AppDelegate> self(this);
    model_->setOnLangChanged([self] {
        if (self) {
            self->loadQtTexts();
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
    if (!launch_.hidden || !statusItem_) {
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

void AppDelegate::loadQtTexts() {
    if (qtTexts_) {
        QCoreApplication::removeTranslator(qtTexts_.get());
    }
    auto texts = std::make_unique<QTranslator>();
    const QLocale locale(QString::fromStdString(model_->lang()).replace(u'-', u'_'));
    if (texts->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(texts.get());
        qtTexts_ = std::move(texts);
    } else {
        qtTexts_.reset();
    }
}

void AppDelegate::openFolder() {
    ui::openWithDefaultApp(model_->saveDir());
}

void AppDelegate::setLang(const QString& code) {
    model_->setLang(code.toStdString());
}

void AppDelegate::createStatusItem() {
    if (!launch_.trayAvailable.value_or(QSystemTrayIcon::isSystemTrayAvailable())) {
        return;
    }
    statusItem_ = std::make_unique<QSystemTrayIcon>(statusIcon());
    statusItem_->setToolTip(QStringLiteral("Quobblefin"));
    statusItem_->setContextMenu(menu_.get());
    // A left click toggles the panel where the tray reports it; the menu stays on the other button.
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            togglePanel();
        }
    });
    statusItem_->show();
}

void AppDelegate::rebuildMenu() {
    auto menu = std::make_unique<QMenu>();
    menu->addAction(localized("menu.toggle"), QKeySequence(Qt::CTRL | Qt::Key_D), this, &AppDelegate::togglePanel);
    menu->addAction(localized("menu.openFolder"), QKeySequence(Qt::CTRL | Qt::Key_O), this, &AppDelegate::openFolder);
    QMenu* languages = menu->addMenu(localized("menu.language"));
    auto* choice = new QActionGroup(languages);
    for (const l10n::Language& language : l10n::languages()) {
        const QString code = QString::fromLatin1(language.code.data(), static_cast<qsizetype>(language.code.size()));
        QAction* item = languages->addAction(
            QString::fromUtf8(language.displayName.data(), static_cast<qsizetype>(language.displayName.size())));
        item->setData(code);
        item->setCheckable(true);
        item->setChecked(language.code == model_->lang());
        choice->addAction(item);
        connect(item, &QAction::triggered, this, [this, code] { setLang(code); });
    }
    menu->addSeparator();
    menu->addAction(localized("menu.quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), qApp, &QCoreApplication::quit);
    if (statusItem_) {
        statusItem_->setContextMenu(menu.get());
    }
    // The old menu may be the one whose language item is being handled right now.
    if (menu_) {
        menu_.release()->deleteLater();
    }
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
        AppDelegate delegate(
            LaunchOptions{.hidden = hasArgument(argc, argv, "--hidden"), .trayAvailable = std::nullopt},
            dnsSdConfig(dnsSd));
        ReopenListener reopen(channel, [&delegate] { delegate.showPanel(); });
        delegate.launch();
        QApplication::exec();
    }
    platform::setServiceResolver({});
    return 0;
}

}  // namespace qb::app
