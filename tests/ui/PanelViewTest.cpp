// The panel driven like a user would, against a model whose transfers never leave the process: request cards,
// job and inbox rows, device tiles, the share banner, the settings popover and the devices window.

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
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "WidgetApp.h"
#include "l10n/L.h"
#include "model/ModelTestSupport.h"
#include "ui/DevicesWindow.h"
#include "ui/InboxRow.h"
#include "ui/ItemPicker.h"
#include "ui/JobRow.h"
#include "ui/NearbyPeerRow.h"
#include "ui/OfflinePeerTile.h"
#include "ui/PanelView.h"
#include "ui/PeerTile.h"
#include "ui/RelativeAge.h"
#include "ui/RequestCard.h"
#include "ui/SettingsPopover.h"
#include "ui/ShareBanner.h"
#include "ui/StartAtLoginToggle.h"

namespace qb::test {
namespace {

using namespace std::chrono_literals;
using model::TransferJob;
using Paths = std::vector<std::filesystem::path>;

QStringList labelTexts(const QWidget& widget) {
    QStringList texts;
    for (const QLabel* label : widget.findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts;
}

template <class Widget = QWidget>
Widget* child(const QWidget& parent, const char* name) {
    return parent.findChild<Widget*>(QString::fromLatin1(name));
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        widgetApp();
        l10n::L::setLang("en");
        config.timings.failedLinger = 50ms;
        // Nothing leaves the process: every transfer is recorded and stays running.
        config.sender.send = [this](model::SendRequest request, auto, auto) {
            sent.push_back(request.items);
            tokens.push_back(request.cancellation);
        };
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
    void TearDown() override { delete ui::DevicesWindow::current(); }

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
    bool shows(const char* name) const { return child(*panel, name)->isVisibleTo(&*panel); }
    ui::SettingsPopover& openSettings() {
        panel->toggleSettings();
        settle();
        return *panel->settings();
    }
    void writeReceived(const std::string& name, std::chrono::system_clock::duration age) {
        const auto path = model->saveDir() / name;
        std::ofstream(path) << "hello";
        std::filesystem::last_write_time(path, std::chrono::file_clock::now() - age);
    }

    TempDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", (dir / "config").string()};
    ScopedEnv autoAccept{"QUOBBLEFIN_AUTOACCEPT", std::nullopt};
    model::ModelConfig config = loopbackConfig(dir.path());
    std::vector<Paths> sent;
    std::vector<std::shared_ptr<transfer::Cancellation>> tokens;
    int pairings = 0;
    Paths picked;
    std::vector<QString> asked;
    bool confirm = false;
    std::optional<std::filesystem::path> chosenFolder;
    ui::DialogHooks dialogs;
    std::optional<model::AppModel> model;
    std::optional<ui::PanelView> panel;
};

TEST_F(PanelTest, RequestCardsShowTheRequestAndAnswerThroughTheModel) {
    std::vector<std::string> answers;
    const std::string key = "0123456789abcdef" + std::string(48, '0');
    for (const bool pair : {false, true}) {
        const std::string from = pair ? "Sofa" : "Desk";
        model->decideIncoming({.v = 5, .name = "report.pdf", .size = 1500, .from = from, .pair = pair},
                              pair ? std::optional(key) : std::nullopt,
                              [&answers, from](bool accept) { answers.push_back(from + (accept ? " yes" : " no")); });
    }
    settle();

    auto cards = shown<ui::RequestCard>(*panel);
    ASSERT_EQ(cards.size(), 2U);
    const QStringList transfer = labelTexts(*cards[0]);
    for (const char* text : {"Desk wants to send you", "report.pdf", "1 file(s) · 1.5 KB",
                             "Unencrypted — the other device runs an older version"}) {
        EXPECT_TRUE(transfer.contains(QString::fromUtf8(text))) << transfer.join(u'|').toStdString();
    }
    const QStringList pairing = labelTexts(*cards[1]);
    EXPECT_TRUE(pairing.contains(QStringLiteral("Sofa wants to add you as a device")));
    EXPECT_TRUE(pairing.contains(QStringLiteral("Key 01234567")));

    child<QPushButton>(*cards[1], "decline")->click();
    EXPECT_EQ(answers, (std::vector<std::string>{"Sofa no"}));
    ASSERT_EQ(model->requests().size(), 1U);
    settle();
    // The declined card is gone at once; the other stays, still answerable.
    cards = shown<ui::RequestCard>(*panel);
    ASSERT_EQ(cards.size(), 1U);
    child<QPushButton>(*cards[0], "accept")->click();
    EXPECT_EQ(answers, (std::vector<std::string>{"Sofa no", "Desk yes"}));
    EXPECT_TRUE(model->requests().empty());
    settle();
    EXPECT_TRUE(shown<ui::RequestCard>(*panel).empty());
}

TEST_F(PanelTest, JobRowsFollowProgressAndFailureUntilTheJobLeaves) {
    EXPECT_TRUE(shown<ui::JobRow>(*panel).empty());
    model->appendJob(TransferJob{.id = "j1", .name = "photos", .peer = "Desk", .progress = 0.427});
    model->appendJob(TransferJob{.id = "j2", .name = "pairing", .peer = "Sofa", .pair = true});
    settle();
    auto rows = shown<ui::JobRow>(*panel);
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_TRUE(shows("jobsSection"));
    EXPECT_TRUE(labelTexts(*rows[0]).contains(QStringLiteral("42% · → Desk")));
    EXPECT_TRUE(rows[0]->findChild<QProgressBar*>()->isVisibleTo(rows[0]));
    EXPECT_TRUE(labelTexts(*rows[1]).contains(QStringLiteral("Waiting for Sofa to accept…")));

    model->setState("j1", TransferJob::State::failed("Connection refused"));
    model->setState("j2", TransferJob::State::failed("Connection refused"));
    settle();
    rows = shown<ui::JobRow>(*panel);
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_TRUE(labelTexts(*rows[0]).contains(QStringLiteral("Failed: Connection refused")));
    EXPECT_FALSE(rows[0]->findChild<QProgressBar*>()->isVisibleTo(rows[0]));

    ASSERT_TRUE(waitUntil([&] { return model->jobs().empty(); }));
    settle();
    EXPECT_TRUE(shown<ui::JobRow>(*panel).empty());
    // The whole section goes with the last job.
    EXPECT_FALSE(shows("jobsSection"));
}

TEST_F(PanelTest, ARunningJobsCancelButtonStopsThatJob) {
    const auto desk = peer("Desk", 3, std::nullopt);
    model->send({dir / "a.txt"}, desk);
    model->send({dir / "b.txt"}, desk);
    model->setState(model->jobs()[0].id, TransferJob::State::done());
    settle();
    const auto rows = shown<ui::JobRow>(*panel);
    ASSERT_EQ(rows.size(), 2U);
    auto* running = child<QToolButton>(*rows[1], "cancelJob");
    EXPECT_FALSE(child<QToolButton>(*rows[0], "cancelJob")->isVisibleTo(rows[0]));
    ASSERT_TRUE(running->isVisibleTo(rows[1]));
    EXPECT_EQ(running->toolTip(), QStringLiteral("Cancel"));
    EXPECT_FALSE(running->icon().isNull());
    running->click();
    EXPECT_FALSE(tokens[0]->isCancelled());
    EXPECT_TRUE(tokens[1]->isCancelled());
}

TEST_F(PanelTest, ABurstOfChangesRefreshesOnceAndKeepsTheRows) {
    writeReceived("a.txt", 1h);
    model->refreshInbox();
    model->appendJob(TransferJob{.id = "j1", .name = "photos", .peer = "Desk"});
    // Nothing is redrawn inside the burst; the next turn of the event loop shows its end state.
    EXPECT_TRUE(shown<ui::JobRow>(*panel).empty());
    settle();
    const auto jobRow = shown<ui::JobRow>(*panel).at(0);
    const auto inboxRow = shown<ui::InboxRow>(*panel).at(0);
    for (int step = 1; step <= 50; ++step) {
        model->setProgress("j1", step / 100.0);
    }
    settle();
    EXPECT_EQ(shown<ui::JobRow>(*panel).at(0), jobRow);
    EXPECT_EQ(shown<ui::InboxRow>(*panel).at(0), inboxRow);
    EXPECT_TRUE(labelTexts(*jobRow).contains(QStringLiteral("50% · → Desk")));
}

TEST_F(PanelTest, InboxListsTheNewestFortyFirstAndSaysWhenEmptyOrFull) {
    EXPECT_TRUE(shows("inboxEmpty"));
    EXPECT_EQ(child<QLabel>(*panel, "inboxEmpty")->text().toStdString(), l10n::L::t("inbox.empty"));

    writeReceived("old.txt", 3h);
    writeReceived("new.txt", 5s);
    model->refreshInbox();
    settle();
    EXPECT_FALSE(shows("inboxEmpty"));
    auto rows = shown<ui::InboxRow>(*panel);
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0]->item().url.filename(), "new.txt");
    EXPECT_TRUE(labelTexts(*rows[0]).contains(QStringLiteral("5 B · just now")));
    EXPECT_EQ(rows[1]->item().url.filename(), "old.txt");
    EXPECT_TRUE(labelTexts(*rows[1]).contains(QStringLiteral("5 B · 3 hr. ago")));
    EXPECT_FALSE(shows("inboxMore"));

    // Another language retitles the panel at once.
    model->setLang("de");
    settle();
    EXPECT_TRUE(labelTexts(*shown<ui::InboxRow>(*panel).at(0)).contains(QStringLiteral("5 B · gerade eben")));
    EXPECT_TRUE(labelTexts(*panel).contains(QString::fromStdString(l10n::L::t("inbox.title"))));
    model->setLang("en");

    for (int index = 0; index <= 40; ++index) {
        writeReceived("file" + std::to_string(index), std::chrono::minutes(index));
    }
    model->refreshInbox();
    settle();
    EXPECT_EQ(shown<ui::InboxRow>(*panel).size(), 40U);
    EXPECT_TRUE(shows("inboxMore"));
    EXPECT_EQ(child<QLabel>(*panel, "inboxMore")->text(),
              QStringLiteral("Showing the latest 40 · open the folder for everything"));
}

// The texts the panel builds from plain values.
TEST(PanelTextTest, JobStatusInboxSubtitleAgeShareTitleAndHomeFolder) {
    l10n::L::setLang("en");
    const auto in = TransferJob::Direction::incoming;
    const std::pair<TransferJob, QString> statuses[] = {
        {{.peer = "Desk", .state = TransferJob::State::done()}, QStringLiteral("Sent → Desk")},
        {{.peer = "Desk", .direction = in, .state = TransferJob::State::done()}, QStringLiteral("Received ← Desk")},
        {{.peer = "Desk", .state = TransferJob::State::done(), .pair = true}, QStringLiteral("Added Desk")},
        {{.peer = "Desk", .direction = in, .progress = 0.999}, QStringLiteral("99% · ← Desk")},
    };
    for (const auto& [job, text] : statuses) {
        EXPECT_EQ(ui::jobStatusText(job), text);
    }

    const auto now = std::chrono::system_clock::now();
    const model::InboxItem folder{.url = "/r/Photos", .from = "Desk", .date = now - 30s, .isDir = true};
    EXPECT_EQ(ui::inboxSubtitle(folder, now, "en"), QStringLiteral("Folder · from Desk · just now"));
    const std::pair<const char*, const char*> locales[] = {{"zh-Hans", "zh_Hans"}, {"pt-BR", "pt_BR"}, {"en", "en_US"}};
    for (const auto& [lang, locale] : locales) {
        EXPECT_EQ(ui::ageLocaleName(lang), locale);
    }
    // Another language changes the unit words, not only the number's surroundings.
    EXPECT_NE(ui::relativeAge(now - 2h * 24, now, "de"), ui::relativeAge(now - 2h * 24, now, "en"));
    EXPECT_EQ(ui::relativeAge(now - 10min, now, "en"), QStringLiteral("10 min. ago"));
    const QString chinese = ui::relativeAge(now - 10min, now, "zh-Hans");
    EXPECT_TRUE(chinese.contains(QStringLiteral("10")) && chinese != ui::relativeAge(now - 10min, now, "en"));

    const std::tuple<Paths, const char*, QString> titles[] = {
        {{}, "en", QString()},
        {{"/home/u/report.pdf"}, "en", QStringLiteral("Send “report.pdf” to…")},
        {{"/home/u/a", "/home/u/b", "/home/u/c"}, "en", QStringLiteral("Send 3 items to…")},
        {{"/home/u/a", "/home/u/b"}, "de", QStringLiteral("2 Objekte senden an …")},
    };
    for (const auto& [items, lang, title] : titles) {
        l10n::L::setLang(lang);
        EXPECT_EQ(ui::shareTitle(items), title) << lang;
    }

    // Only the home folder at the start becomes a tilde.
    const std::tuple<const char*, const char*, const char*> folders[] = {
        {"/home/ann/Downloads/Quobblefin", "/home/ann", "~/Downloads/Quobblefin"},
        {"/home/ann", "/home/ann", "~"},
        {"/home/anna/Downloads", "/home/ann", "/home/anna/Downloads"},
        {"/srv/home/ann", "/home/ann", "/srv/home/ann"},
        {"/data", "/", "/data"},
    };
    for (const auto& [path, home, shownAs] : folders) {
        EXPECT_EQ(ui::homeRelative(path, home), QString::fromUtf8(shownAs)) << path;
    }
}

TEST_F(PanelTest, EachListedDeviceIsATileOrAnOfflineTileAndRemovingFromATileAsksFirst) {
    EXPECT_TRUE(shows("devicesEmpty"));
    EXPECT_TRUE(shown<ui::PeerTile>(*panel).empty());

    fillDevices();
    EXPECT_FALSE(shows("devicesEmpty"));
    ASSERT_EQ(shown<ui::PeerTile>(*panel).size(), 2U);
    ASSERT_EQ(shown<ui::OfflinePeerTile>(*panel).size(), 1U);
    EXPECT_EQ(shown<ui::OfflinePeerTile>(*panel)[0]->id(), "Attic");
    // The keyed device shows its short key beside the hint.
    EXPECT_EQ(child<QLabel>(tile(std::string(64, 'a')), "peerHint")->text(),
              QStringLiteral("Tap to send files or photos · Key aaaaaaaa"));

    // A hovering drag targets the tile, and hides its remove button, until it leaves.
    auto& desk = tile("Desk");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.path().string()))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&desk, &enter);
    EXPECT_TRUE(desk.targeted());
    EXPECT_EQ(child<QLabel>(desk, "peerHint")->text(), QStringLiteral("Release to send"));
    EXPECT_FALSE(child(desk, "removeDevice")->isVisibleTo(&desk));
    QDragLeaveEvent leave;
    QApplication::sendEvent(&desk, &leave);
    EXPECT_FALSE(desk.targeted());
    EXPECT_TRUE(child(desk, "removeDevice")->isVisibleTo(&desk));

    // A device that comes back is a tile again.
    model->setUnreachable({});
    settle();
    EXPECT_EQ(shown<ui::PeerTile>(*panel).size(), 3U);
    EXPECT_TRUE(shown<ui::OfflinePeerTile>(*panel).empty());
    model->setUnreachable({"Attic"});
    settle();

    child<QToolButton>(tile("Desk"), "removeDevice")->click();
    EXPECT_EQ(asked, std::vector<QString>{QStringLiteral("Desk")});
    EXPECT_EQ(model->myDevices().size(), 3U);
    confirm = true;
    child<QToolButton>(*shown<ui::OfflinePeerTile>(*panel).at(0), "removeDevice")->click();
    EXPECT_EQ(model->myDevices(), (std::vector<std::string>{"Desk", std::string(64, 'a')}));
}

// Drops and clicks send only files, and only to online devices; items handed over from the file manager wait
// under a banner until a click sends them or the banner's close button or Escape drops them.
TEST_F(PanelTest, DropsClicksAndTheShareBannerSendOnlyFilesToOnlineDevices) {
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
    EXPECT_EQ(sent, (std::vector<Paths>{{a, b}}));

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

    auto* banner = panel->findChild<ui::ShareBanner*>();
    ASSERT_NE(banner, nullptr);
    EXPECT_FALSE(banner->isVisible());
    picked = {};
    model->stageShare({a, b});
    EXPECT_TRUE(banner->isVisible());
    EXPECT_NE(banner->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly), nullptr);
    QTest::mouseClick(&tile("Desk"), Qt::LeftButton);
    ASSERT_EQ(model->jobs().size(), 3U);
    EXPECT_EQ(sent.back(), (Paths{a, b}));
    EXPECT_TRUE(model->sharedItems().empty());

    model->stageShare({a, b});
    auto* close = banner->findChild<QToolButton*>();
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->toolTip(), QStringLiteral("Don’t send"));
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_TRUE(model->sharedItems().empty());
    EXPECT_FALSE(banner->isVisible());

    model->stageShare({a});
    QApplication::setActiveWindow(&*panel);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&*panel, 2000));
    QTest::keyClick(&*panel, Qt::Key_Escape);
    EXPECT_TRUE(model->sharedItems().empty());
    EXPECT_EQ(model->jobs().size(), 3U);
}

TEST_F(PanelTest, TheDevicesWindowOpensOnceAndAgainAfterDone) {
    fillDevices();
    auto* add = child<QToolButton>(*panel, "addDevice");
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
    child<QToolButton>(*nearby[0], "addPeer")->click();
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

// The header names this device once its listener is advertised; the settings apply a name, choose a folder
// and stop receiving.
TEST_F(PanelTest, TheHeaderAndSettingsFollowTheNameFolderAndReceiveMode) {
    EXPECT_EQ(child<QLabel>(*panel, "deviceLine")->text(), QStringLiteral("Starting…"));
    model->start();
    ASSERT_TRUE(waitUntil([&] { return !model->registeredName().empty() && model->port() != 0; }));
    settle();
    EXPECT_EQ(child<QLabel>(*panel, "deviceLine")->text(),
              QStringLiteral("This device: ") + QString::fromStdString(model->deviceName()));

    auto& settings = openSettings();
    const std::string before = model->deviceName();
    auto* name = child<QLineEdit>(settings, "name");
    EXPECT_EQ(name->text().toStdString(), before);
    name->setText(QStringLiteral("   "));
    child<QPushButton>(settings, "apply")->click();
    EXPECT_EQ(model->deviceName(), before);
    name->setText(QStringLiteral("  Studio  "));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(model->deviceName(), "Studio");

    auto* footer = child<QLabel>(settings, "footer");
    EXPECT_TRUE(footer->text().startsWith(QStringLiteral("Port ") + QString::number(model->port()) + u' '));
    child(settings, "receiveModes")->findChildren<QToolButton*>().at(2)->click();
    EXPECT_EQ(model->receiveMode(), model::ReceiveMode::off);
    settle();
    EXPECT_TRUE(footer->text().startsWith(QStringLiteral("Port 0 · "))) << footer->text().toStdString();

    chosenFolder = dir / "Elsewhere";
    child<QPushButton>(settings, "chooseFolder")->click();
    EXPECT_EQ(model->saveDir(), dir / "Elsewhere");
}

// The start-at-login toggle writes the setting and follows it; a language chosen in the settings retitles them
// at once.
TEST_F(PanelTest, TheSettingsToggleStartAtLoginAndChangeTheLanguageAtOnce) {
    auto& settings = openSettings();
    auto* toggle = child<ui::StartAtLoginToggle>(settings, "startAtLogin");
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->text(), QStringLiteral("Start at login"));
    EXPECT_FALSE(toggle->isChecked());
    toggle->click();
    EXPECT_TRUE(model->startAtLogin());
    model->setStartAtLogin(false);
    EXPECT_FALSE(toggle->isChecked());

    auto* language = child<QComboBox>(settings, "language");
    EXPECT_EQ(language->count(), 13);
    EXPECT_EQ(language->currentData().toString(), QStringLiteral("en"));
    Q_EMIT language->activated(language->findData(QStringLiteral("de")));
    settle();
    EXPECT_EQ(model->lang(), "de");
    ASSERT_NE(panel->settings(), nullptr);
    EXPECT_TRUE(panel->settings()->isVisible());
    EXPECT_EQ(child<QComboBox>(*panel->settings(), "language")->currentData().toString(), QStringLiteral("de"));
    EXPECT_EQ(child<QPushButton>(*panel->settings(), "apply")->text().toStdString(), l10n::L::t("settings.apply"));

    l10n::L::setLang("fr");
    model->setLang("fr");
    settle();
    EXPECT_EQ(child<ui::StartAtLoginToggle>(*panel->settings(), "startAtLogin")->text(),
              QStringLiteral("Ouvrir à l’ouverture de session"));
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
    auto* list = child<QListView>(picker, "listView");
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
    EXPECT_EQ(chosen, (Paths{dir / "Photos", dir / "a.txt"}));
}

}  // namespace
}  // namespace qb::test
