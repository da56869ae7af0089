#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QSignalSpy>

#include "l10n/L.h"
#include "model/ModelSettings.h"
#include "model/ModelTestSupport.h"
#include "platform/Autostart.h"

namespace qb::test {
namespace {

using model::TextMap;

TEST(SettingsTest, FirstLaunchGivesDefaultsStoresOnlyTheEmptyDeviceListAndEnvironmentOverridesAreNeverWritten) {
    ModelHarness h;
    writeFile(h.dir / "machine-info", "# by hostnamectl\nPRETTY_HOSTNAME=\"Studio \\\"Blue\\\"\"\nCHASSIS=laptop\n");
    auto& m = h.make();
    EXPECT_EQ(m.deviceName(), "Studio \"Blue\"");
    EXPECT_EQ(m.saveDir(), h.dir / "Downloads" / "Quobblefin");
    EXPECT_TRUE(m.playSound());
    EXPECT_EQ(m.receiveMode(), model::ReceiveMode::everyone);
    EXPECT_EQ(m.lang(), l10n::L::systemDefault());
    EXPECT_TRUE(m.myDevices().empty());
    EXPECT_TRUE(m.knownKeys().empty());
    EXPECT_TRUE(m.trusted().empty());
    auto store = h.store();
    EXPECT_EQ(store.stringList("myDevices"), std::vector<std::string>{});
    EXPECT_FALSE(store.contains("deviceName"));
    EXPECT_FALSE(store.contains("saveDir"));
    EXPECT_FALSE(model::defaultDeviceName(h.dir / "no-machine-info").empty()) << "the host name";

    store.setString("deviceName", "Stored");
    store.setString("saveDir", (h.dir / "stored").string());
    ScopedEnv name("QUOBBLEFIN_NAME", "");
    ScopedEnv folder("QUOBBLEFIN_SAVEDIR", (h.dir / "fromEnv").string());
    EXPECT_EQ(h.make().deviceName(), "");
    EXPECT_EQ(h.model->saveDir(), h.dir / "fromEnv");
    EXPECT_EQ(store.string("deviceName"), "Stored");
    EXPECT_EQ(store.string("saveDir"), (h.dir / "stored").string());
}

TEST(SettingsTest, MistypedValuesGiveDefaultsAndADamagedFileIsRepairedOnTheNextChangeOfLanguageOrSound) {
    ModelHarness h;
    writeFile(h.config.settingsFile, R"({"playSound": "no", "receiveMode": "Known", "lang": "de",
                                        "trusted": ["a", 1], "knownKeys": {"N": 3}, "trustedNames": {"k": "D"}})");
    auto& m = h.make();
    EXPECT_TRUE(m.playSound());
    EXPECT_EQ(m.receiveMode(), model::ReceiveMode::everyone);
    EXPECT_EQ(l10n::L::lang(), "de");
    EXPECT_TRUE(m.trusted().empty());
    EXPECT_TRUE(m.knownKeys().empty());
    EXPECT_EQ(m.trustedNames(), (TextMap{{"k", "D"}}));
    l10n::L::setLang("en");

    // Changing the language and the sound stores both, rebuilds the menu once and repairs the damaged file.
    writeFile(h.config.settingsFile, "{\"playSound\": false,,, not json");
    EXPECT_TRUE(h.make().playSound());
    int menuRebuilds = 0;
    h.model->setOnLangChanged([&] { ++menuRebuilds; });
    QSignalSpy changes(h.model.get(), &model::AppModel::changed);
    h.model->setLang("ja");
    h.model->setPlaySound(false);
    EXPECT_EQ(l10n::L::lang(), "ja");
    EXPECT_EQ(menuRebuilds, 1);
    EXPECT_EQ(changes.count(), 2);
    EXPECT_EQ(h.store().string("lang"), "ja");
    EXPECT_EQ(h.store().boolean("playSound"), false);
    EXPECT_EQ(h.store().stringList("myDevices"), std::vector<std::string>{});
    l10n::L::setLang("en");
}

TEST(SettingsTest, MigrationTurnsDeviceNamesIntoKeysAndKeepsTheNamesAsLabels) {
    ModelHarness h;
    const std::string k1(64, '1'), k2(64, '2');
    auto store = h.store();
    store.setStringMap("knownKeys", {{"Laptop", k1}, {k2, k2}});
    // Derived from the names in text order ("222…" before "Laptop"), then migrated.
    EXPECT_EQ(h.make().myDevices(), (std::vector<std::string>{k2, k1}));
    EXPECT_EQ(store.stringList("myDevices"), (std::vector<std::string>{k2, k1}));
    EXPECT_EQ(store.stringMap("deviceNames"), (TextMap{{k1, "Laptop"}}));

    store.setStringList("myDevices", {"Phone", "Laptop", k2});
    EXPECT_EQ(h.make().myDevices(), (std::vector<std::string>{"Phone", k1, k2}));
}

TEST(SettingsTest, ReceiveFolderFollowsItsBookmarkAndMovesItsAccessOnChange) {
    ModelHarness h;
    std::filesystem::create_directories(h.dir / "chosen");
    auto store = h.store();
    store.setData("saveDirBookmark", platform::toBytes((h.dir / "chosen").string()));
    store.setString("saveDir", (h.dir / "other").string());
    EXPECT_EQ(h.make().saveDir(), h.dir / "chosen");
    EXPECT_EQ(h.model->scopedDir(), h.dir / "chosen");

    writeFile(h.dir / "new" / "a.txt", "a");
    h.model->setSaveDir(h.dir / "new");
    EXPECT_EQ(store.string("saveDir"), (h.dir / "new").string());
    EXPECT_EQ(store.data("saveDirBookmark"), platform::toBytes((h.dir / "new").string()));
    EXPECT_EQ(h.model->scopedDir(), h.dir / "new");
    EXPECT_EQ(h.model->inbox().size(), 1u);

    // A folder that cannot be bookmarked keeps the old bookmark; the old access is closed all the same.
    h.model->setSaveDir(h.dir / "absent");
    EXPECT_EQ(store.data("saveDirBookmark"), platform::toBytes((h.dir / "new").string()));
    EXPECT_FALSE(h.model->scopedDir());
    EXPECT_TRUE(h.model->inbox().empty());

    // A bookmark that no longer resolves gives the default folder, not the stored path.
    EXPECT_EQ(h.make().saveDir(), h.dir / "new");
    std::filesystem::remove_all(h.dir / "new");
    EXPECT_EQ(h.make().saveDir(), h.dir / "Downloads" / "Quobblefin");
}

TEST(SettingsTest, StartAtLoginWritesAndRemovesTheAutostartEntryAndIsRemembered) {
    ModelHarness h;
    ScopedEnv configHome{"XDG_CONFIG_HOME", (h.dir / "xdg").string()};
    const platform::AutostartEntry entry;
    auto& model = h.make();
    EXPECT_FALSE(model.startAtLogin()) << "off until the user turns it on";
    model.start();
    EXPECT_FALSE(entry.exists());

    model.setStartAtLogin(true);
    EXPECT_TRUE(model.startAtLogin());
    EXPECT_NE(readFile(entry.file()).find(" --hidden\n"), std::string::npos);
    EXPECT_TRUE(h.make().startAtLogin()) << "stored";
    h.model->setStartAtLogin(false);
    EXPECT_FALSE(entry.exists());
    EXPECT_FALSE(h.make().startAtLogin());

    // A folder that cannot hold the entry leaves the toggle off.
    writeFile(h.dir / "xdg" / "autostart-blocker", "");
    ScopedEnv blocked{"XDG_CONFIG_HOME", (h.dir / "xdg" / "autostart-blocker").string()};
    h.model->setStartAtLogin(true);
    EXPECT_FALSE(h.model->startAtLogin());
}

// A settings file that cannot be read fails a removal (one write of three keys) without touching the file,
// and the model's values hold for the session.
TEST(SettingsTest, AFailedWriteKeepsTheValuesInMemoryAndLosesNoStoredKey) {
    const TempDir dir;
    const auto file = dir / "settings.json";
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    const int status = exitStatusWithoutRoot([&] {
        platform::SettingsStore(file).setStringMap("knownKeys", {{"Desk", "k1"}, {"Studio", "k2"}});
        model::ModelSettings settings(file, {dir / "machine-info", dir / "Downloads"});
        if (settings.values().myDevices != std::vector<std::string>{"k1", "k2"} || ::chmod(file.c_str(), 0) != 0) {
            return 3;
        }
        settings.edit().myDevices = {"k2"};
        const auto error = settings.store({model::settingsKey::myDevices, model::settingsKey::knownKeys});
        const bool kept = settings.values().myDevices == std::vector<std::string>{"k2"};
        return error == std::errc::permission_denied && kept ? 0 : 4;
    });
    EXPECT_EQ(status, 0) << "2: cannot drop root, 3: setup failed, 4: the write did not fail as it should";
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const platform::SettingsStore store(file);
    EXPECT_EQ(store.stringList("myDevices"), (std::vector<std::string>{"k1", "k2"}));
    EXPECT_EQ(store.stringMap("knownKeys"), (TextMap{{"Desk", "k1"}, {"Studio", "k2"}}));
}

}  // namespace
}  // namespace qb::test
