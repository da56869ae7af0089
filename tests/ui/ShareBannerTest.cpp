#include <gtest/gtest.h>

#include <filesystem>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QToolButton>

#include "WidgetApp.h"
#include "l10n/L.h"
#include "model/ModelTestSupport.h"
#include "ui/PanelView.h"
#include "ui/SettingsPopover.h"
#include "ui/ShareBanner.h"
#include "ui/StartAtLoginToggle.h"

namespace qb::test {
namespace {

class ShareBannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        widgetApp();
        l10n::L::setLang("en");
        model = std::make_unique<model::AppModel>(config);
    }

    TempDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", (dir / "config").string()};
    model::ModelConfig config = loopbackConfig(dir.path());
    std::unique_ptr<model::AppModel> model;
};

TEST_F(ShareBannerTest, TitleFollowsTheWaitingItemsAndTheLanguage) {
    const struct {
        std::vector<std::filesystem::path> items;
        const char* lang;
        QString title;
    } cases[] = {
        {{}, "en", QString()},
        {{"/home/u/report.pdf"}, "en", QStringLiteral("Send “report.pdf” to…")},
        {{"/home/u/a", "/home/u/b", "/home/u/c"}, "en", QStringLiteral("Send 3 items to…")},
        {{"/home/u/a", "/home/u/b"}, "de", QStringLiteral("2 Objekte senden an …")},
    };
    for (const auto& c : cases) {
        l10n::L::setLang(c.lang);
        EXPECT_EQ(ui::shareTitle(c.items), c.title) << c.lang;
    }
}

// The banner shows only while items wait; its close button and Escape in the panel both drop them.
TEST_F(ShareBannerTest, CloseButtonAndEscapeDropTheItems) {
    ui::PanelView view(*model);
    view.show();
    auto* banner = view.findChild<ui::ShareBanner*>();
    ASSERT_NE(banner, nullptr);
    EXPECT_FALSE(banner->isVisible());

    model->stageShare({"/home/u/a", "/home/u/b"});
    EXPECT_TRUE(banner->isVisible());
    EXPECT_NE(banner->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly), nullptr);
    auto* close = banner->findChild<QToolButton*>();
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->toolTip(), QStringLiteral("Don’t send"));
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_TRUE(model->sharedItems().empty());
    EXPECT_FALSE(banner->isVisible());

    model->stageShare({"/home/u/a"});
    QApplication::setActiveWindow(&view);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view, 2000));
    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_TRUE(model->sharedItems().empty());
}

// The settings popover holds the toggle; it writes the setting and follows it.
TEST_F(ShareBannerTest, StartAtLoginToggleWritesTheSettingAndFollowsIt) {
    ui::PanelView view(*model);
    view.toggleSettings();
    ASSERT_NE(view.settings(), nullptr);
    auto* toggle = view.settings()->findChild<ui::StartAtLoginToggle*>(QStringLiteral("startAtLogin"));
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->text(), QStringLiteral("Start at login"));
    EXPECT_FALSE(toggle->isChecked());
    toggle->click();
    EXPECT_TRUE(model->startAtLogin());
    model->setStartAtLogin(false);
    EXPECT_FALSE(toggle->isChecked());
    l10n::L::setLang("fr");
    model->setLang("fr");
    EXPECT_EQ(toggle->text(), QStringLiteral("Ouvrir à l’ouverture de session"));
}

}  // namespace
}  // namespace qb::test
