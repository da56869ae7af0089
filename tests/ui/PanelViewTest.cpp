#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include "WidgetApp.h"
#include "l10n/L.h"
#include "model/ModelTestSupport.h"
#include "ui/InboxRow.h"
#include "ui/JobRow.h"
#include "ui/PanelView.h"
#include "ui/RelativeAge.h"
#include "ui/RequestCard.h"

namespace qb::test {
namespace {

using namespace std::chrono_literals;
using model::TransferJob;

QStringList labelTexts(const QWidget& widget) {
    QStringList texts;
    for (const QLabel* label : widget.findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts;
}

class PanelViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        widgetApp();
        l10n::L::setLang("en");
        config.timings.failedLinger = 50ms;
        model.emplace(config);
        std::filesystem::create_directories(model->saveDir());
        panel.emplace(*model);
        panel->resize(330, 600);
        panel->show();
        settle();
    }

    static transfer::FileHeader header(const std::string& from, bool pair) {
        return {.v = 5, .name = "report.pdf", .size = 1500, .from = from, .pair = pair};
    }

    void writeReceived(const std::string& name, std::chrono::system_clock::duration age) {
        const auto path = model->saveDir() / name;
        std::ofstream(path) << "hello";
        const auto date = std::chrono::file_clock::now() - age;
        std::filesystem::last_write_time(path, date);
    }

    TempDir dir;
    ScopedEnv autoAccept{"QUOBBLEFIN_AUTOACCEPT", std::nullopt};
    model::ModelConfig config = loopbackConfig(dir.path());
    std::optional<model::AppModel> model;
    std::optional<ui::PanelView> panel;
};

QString deviceLine(const QWidget& panel) {
    return panel.findChild<QLabel*>(QStringLiteral("deviceLine"))->text();
}

TEST_F(PanelViewTest, HeaderNamesThisDeviceOnceTheListenerIsAdvertised) {
    EXPECT_EQ(deviceLine(*panel), QStringLiteral("Starting…"));
    model->start();
    ASSERT_TRUE(waitUntil([&] { return !model->registeredName().empty(); }));
    settle();
    EXPECT_EQ(deviceLine(*panel), QStringLiteral("This device: ") + QString::fromStdString(model->deviceName()));
}

TEST_F(PanelViewTest, RequestCardsShowTheRequestAndAnswerThroughTheModel) {
    std::vector<std::string> answers;
    const std::string key = "0123456789abcdef" + std::string(48, '0');
    model->decideIncoming(header("Desk", false), std::nullopt,
                          [&](bool accept) { answers.push_back(accept ? "Desk yes" : "Desk no"); });
    model->decideIncoming(header("Sofa", true), key,
                          [&](bool accept) { answers.push_back(accept ? "Sofa yes" : "Sofa no"); });
    settle();

    auto cards = shown<ui::RequestCard>(*panel);
    ASSERT_EQ(cards.size(), 2U);
    const QStringList transfer = labelTexts(*cards[0]);
    EXPECT_TRUE(transfer.contains(QStringLiteral("Desk wants to send you"))) << transfer.join(u'|').toStdString();
    EXPECT_TRUE(transfer.contains(QStringLiteral("report.pdf")));
    EXPECT_TRUE(transfer.contains(QStringLiteral("1 file(s) · 1.5 KB")));
    EXPECT_TRUE(transfer.contains(QStringLiteral("Unencrypted — the other device runs an older version")));
    const QStringList pairing = labelTexts(*cards[1]);
    EXPECT_TRUE(pairing.contains(QStringLiteral("Sofa wants to add you as a device")));
    EXPECT_TRUE(pairing.contains(QStringLiteral("Key 01234567")));

    cards[1]->findChild<QPushButton*>(QStringLiteral("decline"))->click();
    EXPECT_EQ(answers, (std::vector<std::string>{"Sofa no"}));
    ASSERT_EQ(model->requests().size(), 1U);
    settle();
    // The declined card is gone at once; the other stays, still answerable.
    cards = shown<ui::RequestCard>(*panel);
    ASSERT_EQ(cards.size(), 1U);
    cards[0]->findChild<QPushButton*>(QStringLiteral("accept"))->click();
    EXPECT_EQ(answers, (std::vector<std::string>{"Sofa no", "Desk yes"}));
    EXPECT_TRUE(model->requests().empty());
    settle();
    EXPECT_TRUE(shown<ui::RequestCard>(*panel).empty());
}

TEST_F(PanelViewTest, JobRowsFollowProgressAndFailureUntilTheJobLeaves) {
    EXPECT_TRUE(shown<ui::JobRow>(*panel).empty());
    model->appendJob(TransferJob{.id = "j1", .name = "photos", .peer = "Desk", .progress = 0.427});
    model->appendJob(TransferJob{.id = "j2", .name = "pairing", .peer = "Sofa", .pair = true});
    settle();
    auto rows = shown<ui::JobRow>(*panel);
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_TRUE(panel->findChild<QWidget*>(QStringLiteral("jobsSection"))->isVisibleTo(&*panel));
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
    EXPECT_FALSE(panel->findChild<QWidget*>(QStringLiteral("jobsSection"))->isVisibleTo(&*panel));
}

TEST_F(PanelViewTest, ARunningJobsCancelButtonStopsThatJob) {
    std::vector<std::shared_ptr<transfer::Cancellation>> tokens;
    config.sender.send = [&](model::SendRequest request, auto, auto) { tokens.push_back(request.cancellation); };
    panel.reset();
    model.emplace(config);
    panel.emplace(*model);
    panel->show();
    const auto desk = peer("Desk", 3, std::nullopt);
    model->send({dir / "a.txt"}, desk);
    model->send({dir / "b.txt"}, desk);
    model->setState(model->jobs()[0].id, TransferJob::State::done());
    settle();
    const auto rows = shown<ui::JobRow>(*panel);
    ASSERT_EQ(rows.size(), 2U);
    auto* finished = rows[0]->findChild<QToolButton*>(QStringLiteral("cancelJob"));
    auto* running = rows[1]->findChild<QToolButton*>(QStringLiteral("cancelJob"));
    EXPECT_FALSE(finished->isVisibleTo(rows[0]));
    ASSERT_TRUE(running->isVisibleTo(rows[1]));
    EXPECT_EQ(running->toolTip(), QStringLiteral("Cancel"));
    EXPECT_FALSE(running->icon().isNull());
    running->click();
    EXPECT_FALSE(tokens[0]->isCancelled());
    EXPECT_TRUE(tokens[1]->isCancelled());
}

TEST_F(PanelViewTest, ABurstOfChangesRefreshesOnceAndKeepsTheRows) {
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

TEST(JobStatusTextTest, FinishedJobsNameThePeerByDirectionAndKind) {
    l10n::L::setLang("en");
    EXPECT_EQ(ui::jobStatusText({.peer = "Desk", .state = TransferJob::State::done()}), QStringLiteral("Sent → Desk"));
    EXPECT_EQ(ui::jobStatusText(
                  {.peer = "Desk", .direction = TransferJob::Direction::incoming, .state = TransferJob::State::done()}),
              QStringLiteral("Received ← Desk"));
    EXPECT_EQ(ui::jobStatusText({.peer = "Desk", .state = TransferJob::State::done(), .pair = true}),
              QStringLiteral("Added Desk"));
    EXPECT_EQ(ui::jobStatusText({.peer = "Desk", .direction = TransferJob::Direction::incoming, .progress = 0.999}),
              QStringLiteral("99% · ← Desk"));
}

TEST_F(PanelViewTest, InboxListsNewestFirstAndSaysWhenEmpty) {
    const auto* empty = panel->findChild<QLabel*>(QStringLiteral("inboxEmpty"));
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->isVisibleTo(&*panel));
    EXPECT_EQ(empty->text().toStdString(), l10n::L::t("inbox.empty"));

    writeReceived("old.txt", 3h);
    writeReceived("new.txt", 5s);
    model->refreshInbox();
    settle();
    EXPECT_FALSE(empty->isVisibleTo(&*panel));
    const auto rows = shown<ui::InboxRow>(*panel);
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0]->item().url.filename(), "new.txt");
    EXPECT_TRUE(labelTexts(*rows[0]).contains(QStringLiteral("5 B · just now")));
    EXPECT_EQ(rows[1]->item().url.filename(), "old.txt");
    EXPECT_TRUE(labelTexts(*rows[1]).contains(QStringLiteral("5 B · 3 hr. ago")));
    EXPECT_FALSE(panel->findChild<QLabel*>(QStringLiteral("inboxMore"))->isVisibleTo(&*panel));

    // Another language retitles the panel at once.
    model->setLang("de");
    settle();
    EXPECT_TRUE(labelTexts(*shown<ui::InboxRow>(*panel).at(0)).contains(QStringLiteral("5 B · gerade eben")));
    EXPECT_TRUE(labelTexts(*panel).contains(QString::fromStdString(l10n::L::t("inbox.title"))));
    model->setLang("en");
}

TEST_F(PanelViewTest, AFullInboxSaysWhereTheRestIs) {
    for (int index = 0; index <= 40; ++index) {
        writeReceived("file" + std::to_string(index), std::chrono::minutes(index));
    }
    model->refreshInbox();
    settle();
    EXPECT_EQ(shown<ui::InboxRow>(*panel).size(), 40U);
    const auto* more = panel->findChild<QLabel*>(QStringLiteral("inboxMore"));
    EXPECT_TRUE(more->isVisibleTo(&*panel));
    EXPECT_EQ(more->text(), QStringLiteral("Showing the latest 40 · open the folder for everything"));
}

TEST(InboxSubtitleTest, FolderSenderAndLocalisedAge) {
    const auto now = std::chrono::system_clock::now();
    l10n::L::setLang("en");
    const model::InboxItem folder{.url = "/r/Photos", .from = "Desk", .date = now - 30s, .isDir = true};
    EXPECT_EQ(ui::inboxSubtitle(folder, now, "en"), QStringLiteral("Folder · from Desk · just now"));
    EXPECT_EQ(ui::ageLocaleName("zh-Hans"), "zh_Hans");
    EXPECT_EQ(ui::ageLocaleName("pt-BR"), "pt_BR");
    EXPECT_EQ(ui::ageLocaleName("en"), "en_US");
    // Another language changes the unit words, not only the number's surroundings.
    EXPECT_NE(ui::relativeAge(now - 2h * 24, now, "de"), ui::relativeAge(now - 2h * 24, now, "en"));
    EXPECT_EQ(ui::relativeAge(now - 10min, now, "en"), QStringLiteral("10 min. ago"));
    const QString chinese = ui::relativeAge(now - 10min, now, "zh-Hans");
    EXPECT_TRUE(chinese.contains(QStringLiteral("10")) && chinese != ui::relativeAge(now - 10min, now, "en"));
}

}  // namespace
}  // namespace qb::test
