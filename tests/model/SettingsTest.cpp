#include <gtest/gtest.h>

#include <QSignalSpy>

#include "l10n/L.h"
#include "model/ModelTestSupport.h"
#include "model/Settings.h"

namespace qb::test {
namespace {

using model::ReceiveMode;
using model::TextMap;

class SettingsTest : public ::testing::Test {
protected:
    ModelHarness h;
};

TEST_F(SettingsTest, FirstLaunchGivesDefaultsAndStoresOnlyTheEmptyDeviceList) {
    writeFile(h.dir / "machine-info",
              "# set by hostnamectl\nPRETTY_HOSTNAME=\"Studio \\\"Blue\\\"\"\nCHASSIS=laptop\n");
    auto& m = h.make();
    EXPECT_EQ(m.deviceName(), "Studio \"Blue\"");
    EXPECT_EQ(m.saveDir(), h.dir / "Downloads" / "Quobblefin");
    EXPECT_FALSE(m.scopedDir());
    EXPECT_TRUE(m.playSound());
    EXPECT_EQ(m.receiveMode(), ReceiveMode::everyone);
    EXPECT_EQ(m.lang(), l10n::L::systemDefault());
    EXPECT_TRUE(m.myDevices().empty() && m.knownKeys().empty() && m.trusted().empty());
    const auto store = h.store();
    EXPECT_EQ(store.stringList("myDevices"), std::vector<std::string>{});
    EXPECT_FALSE(store.contains("deviceName"));
    EXPECT_FALSE(store.contains("saveDir"));
}

TEST_F(SettingsTest, DeviceNameFallsBackToTheHostNameWithoutAPrettyName) {
    EXPECT_FALSE(model::defaultDeviceName(h.dir / "missing").empty());
    writeFile(h.dir / "machine-info", "PRETTY_HOSTNAME=\n");
    EXPECT_EQ(model::defaultDeviceName(h.dir / "machine-info"), model::defaultDeviceName(h.dir / "missing"));
    writeFile(h.dir / "machine-info", "PRETTY_HOSTNAME='Desk 2'\n");
    EXPECT_EQ(model::defaultDeviceName(h.dir / "machine-info"), "Desk 2");
}

TEST_F(SettingsTest, EnvironmentOverridesWinAndAreNeverWritten) {
    auto store = h.store();
    store.setString("deviceName", "Stored");
    store.setString("saveDir", (h.dir / "stored").string());
    ScopedEnv name("QUOBBLEFIN_NAME", "");
    ScopedEnv folder("QUOBBLEFIN_SAVEDIR", (h.dir / "fromEnv").string());
    auto& m = h.make();
    EXPECT_EQ(m.deviceName(), "");
    EXPECT_EQ(m.saveDir(), h.dir / "fromEnv");
    EXPECT_EQ(store.string("deviceName"), "Stored");
    EXPECT_EQ(store.string("saveDir"), (h.dir / "stored").string());
}

TEST_F(SettingsTest, StoredValuesOfTheWrongShapeGiveDefaults) {
    writeFile(h.config.settingsFile,
              R"({"deviceName": 7, "playSound": "no", "receiveMode": "Known", "lang": "de",
                  "trusted": ["a", 1], "knownKeys": {"N": 3}, "trustedNames": {"k": "Desk"}})");
    auto& m = h.make();
    EXPECT_NE(m.deviceName(), "7");
    EXPECT_TRUE(m.playSound());
    EXPECT_EQ(m.receiveMode(), ReceiveMode::everyone);
    EXPECT_EQ(m.lang(), "de");
    EXPECT_EQ(l10n::L::lang(), "de");
    EXPECT_TRUE(m.trusted().empty());
    EXPECT_TRUE(m.knownKeys().empty());
    EXPECT_EQ(m.trustedNames(), (TextMap{{"k", "Desk"}}));
}

TEST_F(SettingsTest, DamagedFileLoadsAsDefaultsAndIsRepairedOnTheNextChange) {
    writeFile(h.config.settingsFile, "{\"playSound\": false,,, not json");
    auto& m = h.make();
    EXPECT_TRUE(m.playSound());
    m.setPlaySound(false);
    const auto store = h.store();
    EXPECT_EQ(store.boolean("playSound"), false);
    EXPECT_EQ(store.stringList("myDevices"), std::vector<std::string>{});
}

TEST_F(SettingsTest, MigrationTurnsDeviceNamesIntoKeysAndKeepsNamesAsLabels) {
    const std::string k1(64, '1');
    auto store = h.store();
    store.setStringMap("knownKeys", {{"Laptop", k1}});
    h.make();
    EXPECT_EQ(h.model->myDevices(), std::vector<std::string>{k1});
    EXPECT_EQ(h.model->deviceNames(), (TextMap{{k1, "Laptop"}}));
    EXPECT_EQ(store.stringList("myDevices"), std::vector<std::string>{k1});
    EXPECT_EQ(store.stringMap("deviceNames"), (TextMap{{k1, "Laptop"}}));
}

TEST_F(SettingsTest, MigrationLeavesEntriesWithoutADifferentKeyAlone) {
    const std::string k1(64, '1');
    auto store = h.store();
    store.setStringMap("knownKeys", {{k1, k1}, {"Old", k1}});
    store.setStringList("myDevices", {"Phone", k1, "Old"});
    auto& m = h.make();
    EXPECT_EQ(m.myDevices(), (std::vector<std::string>{"Phone", k1, k1}));
    EXPECT_EQ(m.deviceNames(), (TextMap{{k1, "Old"}}));
}

TEST_F(SettingsTest, BookmarkOfAnExistingFolderOpensItsAccessAndAMissingOneGivesTheDefault) {
    std::filesystem::create_directories(h.dir / "chosen");
    auto store = h.store();
    store.setData("saveDirBookmark", platform::toBytes((h.dir / "chosen").string()));
    store.setString("saveDir", (h.dir / "other").string());
    EXPECT_EQ(h.make().saveDir(), h.dir / "chosen");
    EXPECT_EQ(h.model->scopedDir(), h.dir / "chosen");

    store.setData("saveDirBookmark", platform::toBytes((h.dir / "gone").string()));
    EXPECT_EQ(h.make().saveDir(), h.dir / "Downloads" / "Quobblefin");
    EXPECT_FALSE(h.model->scopedDir());
}

TEST_F(SettingsTest, ChangingTheReceiveFolderStoresItRebuildsTheInboxAndMovesTheAccess) {
    auto& m = h.make();
    writeFile(h.dir / "new" / "a.txt", "a");
    m.setSaveDir(h.dir / "new");
    const auto store = h.store();
    EXPECT_EQ(store.string("saveDir"), (h.dir / "new").string());
    EXPECT_EQ(store.data("saveDirBookmark"), platform::toBytes((h.dir / "new").string()));
    EXPECT_EQ(m.scopedDir(), h.dir / "new");
    ASSERT_EQ(m.inbox().size(), 1u);

    // A folder that cannot be bookmarked keeps the old bookmark and closes the old access.
    m.setSaveDir(h.dir / "absent");
    EXPECT_EQ(store.string("saveDir"), (h.dir / "absent").string());
    EXPECT_EQ(store.data("saveDirBookmark"), platform::toBytes((h.dir / "new").string()));
    EXPECT_FALSE(m.scopedDir());
    EXPECT_TRUE(m.inbox().empty());
}

TEST_F(SettingsTest, ChangingLanguageAndSoundStoresThemAndRebuildsTheMenu) {
    auto& m = h.make();
    int menuRebuilds = 0;
    m.setOnLangChanged([&] { ++menuRebuilds; });
    QSignalSpy changes(&m, &model::AppModel::changed);
    m.setLang("ja");
    m.setPlaySound(false);
    EXPECT_EQ(l10n::L::lang(), "ja");
    EXPECT_EQ(menuRebuilds, 1);
    EXPECT_EQ(changes.count(), 2);
    EXPECT_EQ(h.store().string("lang"), "ja");
    EXPECT_EQ(h.store().boolean("playSound"), false);
    l10n::L::setLang("en");
}

}  // namespace
}  // namespace qb::test
