#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "WidgetApp.h"
#include "l10n/L.h"
#include "model/ModelTestSupport.h"
#include "ui/DevicesWindow.h"
#include "ui/ItemPicker.h"
#include "ui/NearbyPeerRow.h"
#include "ui/OfflinePeerTile.h"
#include "ui/PanelView.h"
#include "ui/PeerTile.h"
#include "ui/SettingsPopover.h"

namespace qb::test {
namespace {

using namespace std::chrono_literals;

class DevicesAndSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        widgetApp();
        l10n::L::setLang("en");
        // Nothing leaves the process: every transfer is recorded and stays running.
        config.sender.send = [this](model::SendRequest request, auto, auto) { sent.push_back(request.items); };
        config.sender.pair = [this](platform::Endpoint, std::string, std::string, auto, auto) { ++pairings; };
        model.emplace(config);
        std::filesystem::create_directories(model->saveDir());
        dialogs.chooseItems = [this](QWidget*) { return picked; };
        dialogs.confirmRemove = [this](QWidget*, const QString& title) {
            asked.push_back(title);
            return confirm;
        };
        dialogs.chooseFolder = [this](QWidget*, const std::filesystem::path&) { return chosenFolder; };
        panel.emplace(*model, dialogs);
        panel->resize(330, 700);
        panel->show();
        settle();
    }

    void TearDown() override {
        if (auto* window = ui::DevicesWindow::current()) {
            delete window;
        }
    }

    // Desk and Sofa are mine and online, Attic is mine but unreachable, Porch is only nearby.
    void fillDevices() {
        model->setMyDevices({"Desk", std::string(64, 'a'), "Attic"});
        model->setPeers({peer("Desk", 3, std::nullopt), peer("Sofa", 5, std::string(64, 'a')),
                         peer("Attic", 3, std::nullopt), peer("Porch", 5, std::string(64, 'b'))});
        model->setUnreachable({"Attic"});
        settle();
    }

    ui::PeerTile& tile(const std::string& id) {
        for (auto* candidate : shown<ui::PeerTile>(*panel)) {
            if (candidate->id() == id) {
                return *candidate;
            }
        }
        throw std::runtime_error("no tile " + id);
    }

    ui::SettingsPopover& openSettings() {
        panel->toggleSettings();
        settle();
        return *panel->settings();
    }

    TempDir dir;
    ScopedEnv autoAccept{"QUOBBLEFIN_AUTOACCEPT", std::nullopt};
    model::ModelConfig config = loopbackConfig(dir.path());
    std::vector<std::vector<std::filesystem::path>> sent;
    int pairings = 0;
    std::vector<std::filesystem::path> picked;
    std::vector<QString> asked;
    bool confirm = false;
    std::optional<std::filesystem::path> chosenFolder;
    ui::DialogHooks dialogs;
    std::optional<model::AppModel> model;
    std::optional<ui::PanelView> panel;
};

TEST_F(DevicesAndSettingsTest, EachListedDeviceIsATileOrAnOfflineTileNeverBoth) {
    EXPECT_TRUE(panel->findChild<QLabel*>(QStringLiteral("devicesEmpty"))->isVisibleTo(&*panel));
    EXPECT_TRUE(shown<ui::PeerTile>(*panel).empty());

    fillDevices();
    EXPECT_FALSE(panel->findChild<QLabel*>(QStringLiteral("devicesEmpty"))->isVisibleTo(&*panel));
    ASSERT_EQ(shown<ui::PeerTile>(*panel).size(), 2U);
    const auto offline = shown<ui::OfflinePeerTile>(*panel);
    ASSERT_EQ(offline.size(), 1U);
    EXPECT_EQ(offline[0]->id(), "Attic");
    // The keyed device shows its short key beside the hint.
    EXPECT_EQ(tile(std::string(64, 'a')).findChild<QLabel*>(QStringLiteral("peerHint"))->text(),
              QStringLiteral("Tap to send files or photos · Key aaaaaaaa"));

    // A device that comes back is a tile again; the list keeps its order.
    model->setUnreachable({});
    settle();
    EXPECT_EQ(shown<ui::PeerTile>(*panel).size(), 3U);
    EXPECT_TRUE(shown<ui::OfflinePeerTile>(*panel).empty());
}

TEST_F(DevicesAndSettingsTest, DropsAndClicksSendOnlyFilesToOnlineDevices) {
    fillDevices();
    const auto a = dir / "a.txt";
    const auto b = dir / "b.txt";
    std::ofstream(a) << "a";
    std::ofstream(b) << "b";
    const QList<QUrl> files{QUrl::fromLocalFile(QString::fromStdString(a.string())),
                            QUrl::fromLocalFile(QString::fromStdString(b.string())),
                            QUrl(QStringLiteral("https://example.invalid/page"))};

    ASSERT_TRUE(dropOn(tile("Desk"), files, QStringLiteral("a text snippet")));
    ASSERT_EQ(model->jobs().size(), 1U);
    EXPECT_EQ(model->jobs()[0].name, "2 items");
    EXPECT_EQ(sent, (std::vector<std::vector<std::filesystem::path>>{{a, b}}));

    // Text alone, or any drop on an offline device, sends nothing.
    EXPECT_FALSE(dropOn(tile("Desk"), {}, QStringLiteral("only text")));
    EXPECT_FALSE(dropOn(*shown<ui::OfflinePeerTile>(*panel).at(0), files));
    EXPECT_EQ(model->jobs().size(), 1U);

    // A click picks items; a cancelled pick sends nothing.
    QTest::mouseClick(&tile("Desk"), Qt::LeftButton);
    EXPECT_EQ(model->jobs().size(), 1U);
    picked = {dir.path()};
    QTest::mouseClick(&tile("Desk"), Qt::LeftButton);
    ASSERT_EQ(model->jobs().size(), 2U);
    EXPECT_EQ(model->jobs()[1].name, dir.path().filename().string());

    // While items handed over from the file manager wait, a click sends them there instead of picking.
    picked = {};
    model->stageShare({a, b});
    QTest::mouseClick(&tile("Desk"), Qt::LeftButton);
    ASSERT_EQ(model->jobs().size(), 3U);
    EXPECT_EQ(sent.back(), (std::vector<std::filesystem::path>{a, b}));
    EXPECT_TRUE(model->sharedItems().empty());
}

TEST_F(DevicesAndSettingsTest, AHoveringDragTargetsTheTileUntilItLeaves) {
    fillDevices();
    auto& desk = tile("Desk");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.path().string()))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&desk, &enter);
    EXPECT_TRUE(desk.targeted());
    EXPECT_EQ(desk.findChild<QLabel*>(QStringLiteral("peerHint"))->text(), QStringLiteral("Release to send"));
    EXPECT_FALSE(desk.findChild<QToolButton*>(QStringLiteral("removeDevice"))->isVisibleTo(&desk));
    QDragLeaveEvent leave;
    QApplication::sendEvent(&desk, &leave);
    EXPECT_FALSE(desk.targeted());
    EXPECT_TRUE(desk.findChild<QToolButton*>(QStringLiteral("removeDevice"))->isVisibleTo(&desk));
}

TEST_F(DevicesAndSettingsTest, RemovingFromATileAsksFirst) {
    fillDevices();
    tile("Desk").findChild<QToolButton*>(QStringLiteral("removeDevice"))->click();
    EXPECT_EQ(asked, std::vector<QString>{QStringLiteral("Desk")});
    EXPECT_EQ(model->myDevices().size(), 3U);
    confirm = true;
    shown<ui::OfflinePeerTile>(*panel).at(0)->findChild<QToolButton*>(QStringLiteral("removeDevice"))->click();
    EXPECT_EQ(model->myDevices(), (std::vector<std::string>{"Desk", std::string(64, 'a')}));
}

TEST_F(DevicesAndSettingsTest, TheDevicesWindowOpensOnceAndAgainAfterDone) {
    fillDevices();
    auto* add = panel->findChild<QToolButton*>(QStringLiteral("addDevice"));
    add->click();
    add->click();
    settle();
    std::vector<ui::DevicesWindow*> windows;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<ui::DevicesWindow*>(top); window != nullptr && window->isVisible()) {
            windows.push_back(window);
        }
    }
    ASSERT_EQ(windows.size(), 1U);
    ui::DevicesWindow& devices = *windows[0];
    // Mine with their state, Porch as nearby; a click on its row asks it to pair.
    EXPECT_EQ(devices.findChildren<QWidget*>(QStringLiteral("myDevice")).size(), 3U);
    const auto nearby = shown<ui::NearbyPeerRow>(devices);
    ASSERT_EQ(nearby.size(), 1U);
    EXPECT_EQ(nearby[0]->peer().name, "Porch");
    QTest::mouseClick(nearby[0], Qt::LeftButton);
    nearby[0]->findChild<QToolButton*>(QStringLiteral("addPeer"))->click();
    EXPECT_EQ(pairings, 2);
    // Removing here needs no confirmation.
    devices.findChildren<QWidget*>(QStringLiteral("myDevice")).at(0)->findChild<QToolButton*>()->click();
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(model->myDevices().size(), 2U);

    QTest::keyClick(&devices, Qt::Key_Return);
    settle();
    EXPECT_EQ(ui::DevicesWindow::current(), nullptr);
    add->click();
    settle();
    EXPECT_NE(ui::DevicesWindow::current(), nullptr);
}

TEST_F(DevicesAndSettingsTest, SettingsApplyANameChooseAFolderAndStopReceiving) {
    model->start();
    ASSERT_TRUE(waitUntil([&] { return model->port() != 0; }));
    auto& settings = openSettings();
    const std::string before = model->deviceName();
    auto* name = settings.findChild<QLineEdit*>(QStringLiteral("name"));
    EXPECT_EQ(name->text().toStdString(), before);
    name->setText(QStringLiteral("   "));
    settings.findChild<QPushButton*>(QStringLiteral("apply"))->click();
    EXPECT_EQ(model->deviceName(), before);
    name->setText(QStringLiteral("  Studio  "));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(model->deviceName(), "Studio");

    auto* footer = settings.findChild<QLabel*>(QStringLiteral("footer"));
    EXPECT_TRUE(footer->text().startsWith(QStringLiteral("Port ") + QString::number(model->port()) + u' '));
    settings.findChild<QWidget*>(QStringLiteral("receiveModes"))->findChildren<QToolButton*>().at(2)->click();
    EXPECT_EQ(model->receiveMode(), model::ReceiveMode::off);
    settle();
    EXPECT_TRUE(footer->text().startsWith(QStringLiteral("Port 0 · "))) << footer->text().toStdString();

    chosenFolder = dir / "Elsewhere";
    settings.findChild<QPushButton*>(QStringLiteral("chooseFolder"))->click();
    EXPECT_EQ(model->saveDir(), dir / "Elsewhere");
}

TEST_F(DevicesAndSettingsTest, ALanguageChosenInTheSettingsRetitlesThemAtOnce) {
    auto& settings = openSettings();
    auto* language = settings.findChild<QComboBox*>(QStringLiteral("language"));
    EXPECT_EQ(language->count(), 13);
    EXPECT_EQ(language->currentData().toString(), QStringLiteral("en"));
    Q_EMIT language->activated(language->findData(QStringLiteral("de")));
    settle();
    EXPECT_EQ(model->lang(), "de");
    ASSERT_NE(panel->settings(), nullptr);
    EXPECT_TRUE(panel->settings()->isVisible());
    EXPECT_EQ(panel->settings()->findChild<QComboBox*>(QStringLiteral("language"))->currentData().toString(),
              QStringLiteral("de"));
    EXPECT_EQ(panel->settings()->findChild<QPushButton*>(QStringLiteral("apply"))->text().toStdString(),
              l10n::L::t("settings.apply"));
    model->setLang("en");
}

TEST(ItemPickerTest, ChoosesFilesAndFoldersTogether) {
    widgetApp();
    TempDir dir;
    std::ofstream(dir / "a.txt") << "a";
    std::filesystem::create_directory(dir / "Photos");
    ui::ItemPicker picker(nullptr, QStringLiteral("Send"));
    picker.setDirectory(QString::fromStdString(dir.path().string()));
    picker.show();
    auto* list = picker.findChild<QListView*>(QStringLiteral("listView"));
    ASSERT_NE(list, nullptr);
    // The file system model lists the folder in the background.
    ASSERT_TRUE(waitUntil([&] { return list->model()->rowCount(list->rootIndex()) == 2; }));
    // A selected folder leaves the prompt on the button, where the stock dialog would say "Open".
    QAbstractButton* acceptButton = nullptr;
    for (auto* button : picker.findChild<QDialogButtonBox*>()->buttons()) {
        if (button->isVisible() && button->text() != QStringLiteral("Cancel")) {
            acceptButton = button;
        }
    }
    ASSERT_NE(acceptButton, nullptr);
    for (int row = 0; row < 2; ++row) {
        list->setCurrentIndex(list->model()->index(row, 0, list->rootIndex()));
        (void)QTest::qWaitFor([&] { return acceptButton->text() == QStringLiteral("Send"); }, 1000);
        QCoreApplication::processEvents();
        EXPECT_EQ(acceptButton->text(), QStringLiteral("Send")) << row;
    }
    list->selectionModel()->clearSelection();
    for (int row = 0; row < 2; ++row) {
        list->selectionModel()->select(list->model()->index(row, 0, list->rootIndex()), QItemSelectionModel::Select);
    }
    ASSERT_TRUE(acceptButton->isEnabled());
    QTest::mouseClick(acceptButton, Qt::LeftButton);
    EXPECT_EQ(picker.result(), QDialog::Accepted);
    auto chosen = picker.chosenItems();
    std::sort(chosen.begin(), chosen.end());
    EXPECT_EQ(chosen, (std::vector<std::filesystem::path>{dir / "Photos", dir / "a.txt"}));
}

TEST(HomeRelativeTest, OnlyTheHomeFolderAtTheStartBecomesATilde) {
    struct Case {
        const char* folder;
        const char* home;
        const char* shown;
    };
    const Case cases[] = {
        {"/home/ann/Downloads/Quobblefin", "/home/ann", "~/Downloads/Quobblefin"},
        {"/home/ann", "/home/ann", "~"},
        {"/home/anna/Downloads", "/home/ann", "/home/anna/Downloads"},
        {"/srv/home/ann", "/home/ann", "/srv/home/ann"},
        {"/data", "/", "/data"},
    };
    for (const Case& entry : cases) {
        EXPECT_EQ(ui::homeRelative(entry.folder, entry.home), QString::fromUtf8(entry.shown)) << entry.folder;
    }
}

}  // namespace
}  // namespace qb::test
