#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <QApplication>
#include <QCloseEvent>

#include <asio/ip/address_v4.hpp>

#include "WidgetApp.h"
#include "app/Application.h"
#include "model/AppModel.h"
#include "model/ModelServices.h"
#include "platform/desktop/DesktopNotifier.h"
#include "support/TestEnv.h"
#include "ui/PanelWindow.h"

namespace qb::test {
namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        widgetApp();
        config.settingsFile = dir / "settings.json";
        config.sources.downloadsFolder = dir / "Downloads";
        config.ownKey = [] { return std::string(64, 'f'); };
        config.server.options.identity = nullptr;
        config.server.options.bindAddress = asio::ip::address_v4::loopback();
        config.desktop.playSound = [](std::string_view) {};
    }

    TempDir dir;
    ScopedEnv autoAccept{"QUOBBLEFIN_AUTOACCEPT", std::nullopt};
    model::ModelConfig config;
};

TEST_F(StartupTest, HiddenStartShowsThePanelOnlyWhenARequestArrives) {
    app::AppDelegate delegate(true, config);
    delegate.launch();
    ASSERT_NE(delegate.panel(), nullptr);
    EXPECT_FALSE(delegate.panel()->isVisible());
    const Qt::WindowFlags flags = delegate.panel()->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::Tool) && flags.testFlag(Qt::WindowStaysOnTopHint));

    transfer::FileHeader header;
    header.v = 3;
    header.name = "a.txt";
    header.from = "Desk";
    delegate.model().decideIncoming(header, std::nullopt, [](bool) {});
    EXPECT_TRUE(delegate.panel()->isVisible());

    // The close button only hides the panel; the same window comes back.
    QCloseEvent close;
    QApplication::sendEvent(delegate.panel(), &close);
    EXPECT_FALSE(close.isAccepted());
    EXPECT_FALSE(delegate.panel()->isVisible());
    delegate.togglePanel();
    EXPECT_TRUE(delegate.panel()->isVisible());
}

TEST_F(StartupTest, PlainStartShowsThePanel) {
    app::AppDelegate delegate(false, config);
    delegate.launch();
    EXPECT_TRUE(delegate.panel()->isVisible());
    EXPECT_EQ(delegate.panel()->size(), QSize(330, 460));
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
