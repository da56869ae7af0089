#include <gtest/gtest.h>

#include "l10n/L.h"
#include "model/ModelTestSupport.h"
#include "platform/Autostart.h"

namespace qb::test {
namespace {

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        l10n::L::setLang("en");
        h.config.sender.send = [this](model::SendRequest request, auto, auto) { sent.push_back(std::move(request)); };
        h.config.desktop.reveal = [this](const std::filesystem::path& item) { revealed.push_back(item); };
    }
    model::AppModel& m() { return h.make(); }

    ModelHarness h;
    ScopedEnv configHome{"XDG_CONFIG_HOME", (h.dir / "xdg").string()};
    std::vector<model::SendRequest> sent;
    std::vector<std::filesystem::path> revealed;
};

TEST_F(DesktopTest, StartAtLoginWritesAndRemovesTheAutostartEntryAndIsRemembered) {
    const platform::AutostartEntry entry;
    ASSERT_EQ(entry.file(), h.dir / "xdg" / "autostart" / "com.kestrun.quobblefin.desktop");
    auto& model = m();
    EXPECT_FALSE(model.startAtLogin()) << "off until the user turns it on";
    model.start();
    EXPECT_FALSE(entry.exists());

    model.setStartAtLogin(true);
    EXPECT_TRUE(model.startAtLogin());
    const std::string text = readFile(entry.file());
    EXPECT_NE(text.find("Exec="), std::string::npos);
    EXPECT_NE(text.find(" --hidden\n"), std::string::npos) << text;
    EXPECT_EQ(h.make().startAtLogin(), true) << "stored";

    h.model->setStartAtLogin(false);
    EXPECT_FALSE(entry.exists());
    EXPECT_EQ(h.make().startAtLogin(), false);

    // A folder that cannot hold the entry leaves the toggle off.
    writeFile(h.dir / "xdg" / "autostart-blocker", "");
    ScopedEnv blocked{"XDG_CONFIG_HOME", (h.dir / "xdg" / "autostart-blocker").string()};
    h.model->setStartAtLogin(true);
    EXPECT_FALSE(h.model->startAtLogin());
}

TEST_F(DesktopTest, ArrivalNotificationShowsTheFirstItemInTheFileManager) {
    auto& model = m();
    const auto folder = model.saveDir();
    writeFile(folder / "a.txt", "a");
    writeFile(folder / "b.txt", "b");
    model.finishIncoming("t", transfer::ReceiveResult({folder / "a.txt", folder / "b.txt"}));
    ASSERT_EQ(h.notificationActions.size(), 1u);
    ASSERT_EQ(h.notificationActions[0].size(), 1u);
    EXPECT_EQ(h.notificationActions[0][0].label, "Show");
    h.notificationActions[0][0].invoke();
    EXPECT_EQ(revealed, std::vector<std::filesystem::path>{folder / "a.txt"});

    h.config.desktop.reveal = nullptr;
    h.make().finishIncoming("u", transfer::ReceiveResult({folder / "a.txt"}));
    EXPECT_TRUE(h.notificationActions.back().empty()) << "nothing to offer without a file manager";
}

TEST_F(DesktopTest, SharedItemsWaitUntilSentOrDropped) {
    auto& model = m();
    int changes = 0;
    QObject::connect(&model, &model::AppModel::changed, &model, [&] { ++changes; });
    model.stageShare({"/tmp/a", "/tmp/b"});
    model.stageShare({"/tmp/c", "/tmp/d"});
    EXPECT_EQ(model.sharedItems(), (std::vector<std::filesystem::path>{"/tmp/c", "/tmp/d"})) << "replaced";
    model.dropShare();
    EXPECT_TRUE(model.sharedItems().empty());
    EXPECT_EQ(changes, 3);
    model.dropShare();
    EXPECT_EQ(changes, 3) << "nothing waiting, nothing changes";

    model.stageShare({"/tmp/c", "/tmp/d"});
    model.sendShare(model::Peer{"Desk", "Desk", platform::HostPort{"127.0.0.1", 9}, 3, std::nullopt});
    EXPECT_TRUE(model.sharedItems().empty());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].items, (std::vector<std::filesystem::path>{"/tmp/c", "/tmp/d"}));
    ASSERT_EQ(model.jobs().size(), 1u);
    EXPECT_EQ(model.jobs()[0].peer, "Desk");
}

}  // namespace
}  // namespace qb::test
