#include "app/Application.h"

#include <filesystem>
#include <iostream>
#include <system_error>

#include <QActionGroup>
#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTranslator>

#include "app/ReopenChannel.h"
#include "l10n/L.h"
#include "model/AppModel.h"
#include "model/PathText.h"
#include "platform/AvahiDnsSd.h"
#include "platform/desktop/DesktopNotifier.h"
#include "platform/desktop/EventSounds.h"
#include "ui/FileManager.h"
#include "ui/PanelWindow.h"
#include "ui/ShareBanner.h"

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
void addDesktopServices(model::ModelConfig& config, DesktopNotifier* notifier, platform::desktop::EventSounds& sounds,
                        QObject* context) {
    auto& desktop = config.desktop;
    if (!desktop.notify && notifier != nullptr) {
        desktop.notify = [notifier](const std::string& title, const std::string& body,
                                    std::vector<platform::NotificationAction> actions) {
            return notifier->notify(title, body, std::move(actions));
        };
        desktop.withdrawNotification = [notifier](platform::NotificationTicket ticket) { notifier->withdraw(ticket); };
    }
    if (!desktop.reveal) {
        desktop.reveal = [context](const std::filesystem::path& item) { ui::revealInFileManager(item, context); };
    }
    if (!desktop.playSound) {
        desktop.playSound = [&sounds](std::string_view sound) { sounds.play(sound); };
    }
    if (!desktop.confirmKeyChange) {
        desktop.confirmKeyChange = confirmKeyChange;
    }
}

// Items named on the command line as absolute paths; each that does not exist is reported and left out.
std::vector<std::filesystem::path> existingItems(const std::vector<std::string>& arguments) {
    std::vector<std::filesystem::path> items;
    for (const std::string& argument : arguments) {
        std::error_code error;
        // An empty argument would otherwise name the working folder.
        const std::filesystem::path item = std::filesystem::absolute(argument, error);
        if (argument.empty() || error || !std::filesystem::exists(item, error)) {
            std::cerr << "quobblefin: cannot share " << argument << ": no such file or folder" << std::endl;
            continue;
        }
        // "folder/" names the folder itself.
        const std::filesystem::path normal = item.lexically_normal();
        items.push_back(normal.has_filename() ? normal : normal.parent_path());
    }
    return items;
}

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
    addDesktopServices(config, notifier_.get(), *sounds_, this);
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
    // The menu's share and start-at-login entries follow the model; the menu itself is rebuilt only for a new
    // language.
    connect(model_.get(), &model::AppModel::changed, this, &AppDelegate::refreshMenu);
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

void AppDelegate::share(std::vector<std::filesystem::path> items) {
    if (!items.empty()) {
        model_->stageShare(std::move(items));
    }
    showPanel();
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
    shareMenu_ = menu->addMenu(QString());
    connect(shareMenu_, &QMenu::aboutToShow, this, &AppDelegate::fillShareMenu);
    menu->addSeparator();
    startAtLogin_ = menu->addAction(localized("settings.startAtLogin"));
    startAtLogin_->setCheckable(true);
    connect(startAtLogin_, &QAction::triggered, this, [this](bool on) { model_->setStartAtLogin(on); });
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
    refreshMenu();
}

void AppDelegate::refreshMenu() {
    if (!menu_) {
        return;
    }
    const auto& items = model_->sharedItems();
    shareMenu_->menuAction()->setVisible(!items.empty());
    shareMenu_->setTitle(ui::shareTitle(items));
    startAtLogin_->setChecked(model_->startAtLogin());
}

void AppDelegate::fillShareMenu() {
    shareMenu_->clear();
    const model::DeviceLists lists = model_->deviceLists();
    for (const std::string& id : lists.listedDevices()) {
        if (const auto peer = lists.onlinePeer(id)) {
            shareMenu_->addAction(QString::fromStdString(lists.displayName(id)), this,
                                  [this, peer = *peer] { model_->sendShare(peer); });
        }
    }
    if (shareMenu_->isEmpty()) {
        shareMenu_->addAction(localized("share.noDevice"))->setEnabled(false);
    }
    shareMenu_->addSeparator();
    shareMenu_->addAction(localized("share.cancel"), this, [this] { model_->dropShare(); });
}

int runApplication(const AppMode& mode, int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quobblefin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quobblefin"));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(platform::desktop::kApplicationId));
    // The application lives in the tray: hiding the panel must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    ReopenRequest request{existingItems(mode.share)};
    if (!mode.share.empty() && request.share.empty()) {
        return 1;
    }
    const QString channel = reopenChannelName();
    if (tellRunningInstance(channel, request)) {
        return 0;
    }
    const auto dnsSd = platform::AvahiDnsSd::create();
    {
        AppDelegate delegate(LaunchOptions{.hidden = mode.hidden, .trayAvailable = std::nullopt}, dnsSdConfig(dnsSd));
        ReopenListener reopen(channel, [&delegate](ReopenRequest later) { delegate.share(std::move(later.share)); });
        delegate.launch();
        if (!request.share.empty()) {
            delegate.share(std::move(request.share));
        }
        QApplication::exec();
    }
    platform::setServiceResolver({});
    return 0;
}

}  // namespace qb::app
