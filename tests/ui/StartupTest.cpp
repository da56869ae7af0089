#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>

#include "WidgetApp.h"
#include "app/Application.h"
#include "l10n/L.h"
#include "model/ModelTestSupport.h"
#include "platform/desktop/DesktopNotifier.h"
#include "support/TestEnv.h"
#include "ui/PanelWindow.h"

namespace qb::test {
namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        widgetApp();
        config.sender.send = [this](model::SendRequest request, auto, auto) { sent.push_back(std::move(request)); };
    }

    TempDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", (dir / "config").string()};
    ScopedEnv autoAccept{"QUOBBLEFIN_AUTOACCEPT", std::nullopt};
    model::ModelConfig config = loopbackConfig(dir.path());
    std::vector<model::SendRequest> sent;
};

QStringList titles(const QMenu& menu) {
    QStringList shown;
    for (const QAction* action : menu.actions()) {
        shown << (action->isSeparator() ? QStringLiteral("-") : action->text() + u'|' + action->shortcut().toString());
    }
    return shown;
}

QString checkedLanguage(const QMenu& menu) {
    for (const QAction* item : menu.actions().at(2)->menu()->actions()) {
        if (item->isChecked()) {
            return item->data().toString();
        }
    }
    return {};
}

TEST_F(StartupTest, HiddenStartShowsThePanelOnlyWhenARequestArrives) {
    app::AppDelegate delegate({.hidden = true, .trayAvailable = true}, config);
    delegate.launch();
    ASSERT_NE(delegate.panel(), nullptr);
    EXPECT_FALSE(delegate.panel()->isVisible());
    const Qt::WindowFlags flags = delegate.panel()->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::Tool) && flags.testFlag(Qt::WindowStaysOnTopHint));

    delegate.model().decideIncoming({.v = 3, .name = "a.txt", .from = "Desk"}, std::nullopt, [](bool) {});
    EXPECT_TRUE(delegate.panel()->isVisible());

    // The close button only hides the panel; the same window comes back.
    QCloseEvent close;
    QApplication::sendEvent(delegate.panel(), &close);
    EXPECT_FALSE(close.isAccepted());
    EXPECT_FALSE(delegate.panel()->isVisible());
    delegate.togglePanel();
    EXPECT_TRUE(delegate.panel()->isVisible());

    // Toggling twice brings the panel back where it was.
    delegate.panel()->setGeometry(40, 50, 320, 400);
    const QRect before = delegate.panel()->geometry();
    delegate.togglePanel();
    EXPECT_FALSE(delegate.panel()->isVisible());
    delegate.togglePanel();
    EXPECT_EQ(delegate.panel()->geometry(), before);
}

// Without a tray the panel shows even when started hidden; moved, it comes back there after a restart.
TEST_F(StartupTest, WithoutATrayThePanelShowsAndAMovedPanelComesBackThere) {
    for (const bool hidden : {false, true}) {
        app::AppDelegate delegate({.hidden = hidden, .trayAvailable = false}, config);
        delegate.launch();
        EXPECT_TRUE(delegate.panel()->isVisible()) << hidden;
        EXPECT_EQ(delegate.panel()->size(), QSize(330, 460));
        if (hidden) {
            delegate.panel()->setGeometry(60, 70, 310, 420);
        }
    }
    app::AppDelegate delegate({.hidden = true, .trayAvailable = true}, config);
    delegate.launch();
    delegate.showPanel();
    EXPECT_EQ(delegate.panel()->geometry(), QRect(60, 70, 310, 420));
}

// The tray menu offers the waiting items to the online devices, toggles start at login and follows the language.
TEST_F(StartupTest, TheMenuSendsWaitingItemsTogglesStartAtLoginAndFollowsTheLanguage) {
    app::AppDelegate delegate({.hidden = true, .trayAvailable = false}, config);
    delegate.launch();
    delegate.setLang(QStringLiteral("en"));
    ASSERT_NE(delegate.menu(), nullptr);
    EXPECT_EQ(titles(*delegate.menu()),
              (QStringList{QStringLiteral("Show / Hide Quobblefin panel|Ctrl+D"),
                           QStringLiteral("Open received‑files folder|Ctrl+O"), QStringLiteral("Language|"),
                           // The share submenu, hidden and untitled while nothing waits.
                           QStringLiteral("|"), QStringLiteral("-"), QStringLiteral("Start at login|"),
                           QStringLiteral("-"), QStringLiteral("Quit Quobblefin|Ctrl+Q")}));
    EXPECT_EQ(delegate.menu()->actions().at(2)->menu()->actions().size(), 13);
    EXPECT_EQ(checkedLanguage(*delegate.menu()), QStringLiteral("en"));

    // The share submenu lists only the online devices for the waiting items; choosing one sends them there.
    delegate.model().setMyDevices({"Desk", "Laptop"});
    delegate.model().setPeers({peer("Desk", 3, std::nullopt)});
    QMenu* share = delegate.menu()->actions().at(3)->menu();
    ASSERT_NE(share, nullptr);
    EXPECT_FALSE(share->menuAction()->isVisible()) << "nothing waits";
    delegate.share({dir / "a.txt", dir / "b.txt"});
    EXPECT_TRUE(share->menuAction()->isVisible());
    EXPECT_EQ(share->title(), QStringLiteral("Send 2 items to…"));
    Q_EMIT share->aboutToShow();
    EXPECT_EQ(titles(*share),
              (QStringList{QStringLiteral("Desk|"), QStringLiteral("-"), QStringLiteral("Don’t send|")}))
        << "only online devices";
    share->actions().front()->trigger();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].items, (std::vector<std::filesystem::path>{dir / "a.txt", dir / "b.txt"}));
    EXPECT_TRUE(delegate.model().sharedItems().empty());
    EXPECT_FALSE(share->menuAction()->isVisible());

    // "Start at login" is a checkable item that follows the model's setting, which writes the autostart entry.
    QAction* startAtLogin = delegate.menu()->actions().at(5);
    EXPECT_TRUE(startAtLogin->isCheckable());
    EXPECT_FALSE(startAtLogin->isChecked());
    startAtLogin->trigger();
    EXPECT_TRUE(delegate.model().startAtLogin());
    EXPECT_TRUE(std::filesystem::exists(dir / "config" / "autostart" / "com.kestrun.quobblefin.desktop"));
    startAtLogin->trigger();
    EXPECT_FALSE(delegate.model().startAtLogin());
    EXPECT_FALSE(startAtLogin->isChecked());

    // Chosen from the submenu itself: the menu is rebuilt while its item is being handled.
    for (QAction* item : delegate.menu()->actions().at(2)->menu()->actions()) {
        if (item->data().toString() == QStringLiteral("de")) {
            item->trigger();
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(checkedLanguage(*delegate.menu()), QStringLiteral("de"));
    EXPECT_EQ(delegate.menu()->actions().at(0)->text().toStdString(), l10n::L::t("menu.toggle"));
    EXPECT_NE(delegate.menu()->actions().at(0)->text(), QStringLiteral("Show / Hide Quobblefin panel"));
    delegate.setLang(QStringLiteral("en"));
}

TEST(PanelFrameTest, ARememberedFrameIsKeptOnAScreenThatStillExists) {
    const std::vector<QRect> screens{QRect(0, 0, 1440, 900), QRect(1440, 0, 1920, 1080)};
    const QSize minimum(300, 360);
    struct Case {
        QRect saved;
        std::optional<QRect> placed;
    };
    const Case cases[] = {
        {QRect(100, 100, 330, 460), QRect(100, 100, 330, 460)},
        {QRect(1500, 600, 330, 460), QRect(1500, 600, 330, 460)},  // the second screen
        {QRect(1300, 700, 330, 460), QRect(1440, 620, 330, 460)},  // mostly on the second: pushed inside
        {QRect(-200, -50, 330, 460), QRect(0, 0, 330, 460)},       // partly above and left
        {QRect(100, 100, 2000, 2000), QRect(0, 0, 1440, 900)},     // shrunk to the screen
        {QRect(5000, 5000, 330, 460), std::nullopt},               // a screen that is gone
    };
    for (const Case& entry : cases) {
        EXPECT_EQ(ui::clampOntoScreens(entry.saved, screens, minimum), entry.placed);
    }
}

TEST(DesktopNotifierTest, OnlyACopyInstalledWithItsDesktopEntryMayNotify) {
    TempDir prefix;
    const auto binary = prefix / "bin" / "quobblefin";
    std::filesystem::create_directories(binary.parent_path());
    std::ofstream(binary) << "";
    EXPECT_FALSE(platform::desktop::DesktopNotifier::isInstalledExecutable(binary));

    const auto entry = prefix / "share" / "applications" / "com.kestrun.quobblefin.desktop";
    std::filesystem::create_directories(entry.parent_path());
    std::ofstream(entry) << "[Desktop Entry]\n";
    EXPECT_TRUE(platform::desktop::DesktopNotifier::isInstalledExecutable(binary));

    // The same program started from anywhere but a bin folder is a build, not an installation.
    std::filesystem::create_directories(prefix / "build");
    std::filesystem::copy_file(binary, prefix / "build" / "quobblefin");
    EXPECT_FALSE(platform::desktop::DesktopNotifier::isInstalledExecutable(prefix / "build" / "quobblefin"));
}

}  // namespace
}  // namespace qb::test
