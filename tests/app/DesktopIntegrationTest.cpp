#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QProcess>

#include "FakeNotificationService.h"
#include "app/Application.h"
#include "app/ReopenChannel.h"
#include "l10n/L.h"
#include "model/ModelTestSupport.h"
#include "platform/desktop/DesktopNotifier.h"
#include "support/TestEnv.h"
#include "ui/PanelWindow.h"
#include "ui/WidgetApp.h"

namespace qb::test {
namespace {

using namespace std::chrono_literals;

// A byte array of a literal with its inner NUL bytes, without the closing one.
template <std::size_t N>
QByteArray bytes(const char (&literal)[N]) {
    return QByteArray(literal, N - 1);
}

TEST(ReopenChannel, MessagesCarryAbsolutePathsAndHostileOnesAreCutDown) {
    const std::vector<std::filesystem::path> items{"/home/u/a b.txt", "/home/u/line\nbreak", "/"};
    const auto decoded = app::decodeReopen(app::encodeReopen({items}));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->share, items);
    EXPECT_EQ(app::encodeReopen({}), bytes("show\0"));

    const struct {
        QByteArray message;
        std::optional<std::vector<std::filesystem::path>> share;  // nullopt: not a request at all
    } cases[] = {
        {bytes("show\0"), std::vector<std::filesystem::path>{}},
        {bytes("share\0/a\0relative\0\0/b\0/unfinish"), std::vector<std::filesystem::path>{"/a", "/b"}},
        {bytes("share\0") + QByteArray(5000, '/') + bytes("\0"), std::vector<std::filesystem::path>{}},
        {QByteArray("show\n"), std::nullopt},
        {bytes("launch\0/a\0"), std::nullopt},
        {QByteArray(), std::nullopt},
    };
    for (const auto& c : cases) {
        const auto request = app::decodeReopen(c.message);
        ASSERT_EQ(request.has_value(), c.share.has_value()) << c.message.toStdString();
        if (request) {
            EXPECT_EQ(request->share, *c.share) << c.message.toStdString();
        }
    }
}

class DesktopIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        widgetApp();
        l10n::L::setLang("en");
    }

    TempDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", (dir / "config").string()};
    ScopedEnv autoAccept{"QUOBBLEFIN_AUTOACCEPT", std::nullopt};
    model::ModelConfig config = loopbackConfig(dir.path());
};

// The file manager's "--share" reaches the running instance: the items wait in it, the process is done at once.
TEST_F(DesktopIntegrationTest, ShareWithARunningInstanceStagesTheItemsThereAndExitsAtOnce) {
    app::AppDelegate delegate(app::LaunchOptions{.hidden = true, .trayAvailable = false}, config);
    delegate.launch();
    app::ReopenListener listener(app::reopenChannelName(),
                                 [&delegate](app::ReopenRequest request) { delegate.share(std::move(request.share)); });
    std::ofstream(dir / "a.txt") << "a";
    std::filesystem::create_directories(dir / "pics");

    QProcess share;
    share.setWorkingDirectory(QString::fromStdString(dir.path().string()));
    const auto runShare = [&share](const QStringList& items) {
        share.start(QStringLiteral(QB_EXECUTABLE), QStringList{QStringLiteral("--share")} + items);
        return waitUntil([&] { return share.state() == QProcess::NotRunning; }, 10s);
    };
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(runShare({QStringLiteral("a.txt"), QStringLiteral("pics/"), QStringLiteral("gone")}));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(share.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(share.exitCode(), 0);
    EXPECT_TRUE(share.readAllStandardError().contains("cannot share gone"));
    ASSERT_TRUE(waitUntil([&] { return !delegate.model().sharedItems().empty(); }));
    EXPECT_EQ(delegate.model().sharedItems(), (std::vector<std::filesystem::path>{dir / "a.txt", dir / "pics"}));
    EXPECT_TRUE(delegate.panel()->isVisible());

    // Nothing that exists: an error, and the instance is not disturbed.
    ASSERT_TRUE(runShare({QStringLiteral("/nonexistent/x"), QString()}));
    EXPECT_EQ(share.exitCode(), 1);
    EXPECT_EQ(delegate.model().sharedItems().size(), 2u);
}

// A private session bus with its own daemon and its own configuration (the distribution's session.conf is
// not always installed), stopped with the test.
class PrivateBus {
public:
    PrivateBus() {
        const auto config = dir_ / "bus.conf";
        std::ofstream(config)
            << "<busconfig><type>session</type><listen>unix:dir=" << dir_.path().string()
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
               "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--config-file=") + QString::fromStdString(config.string()),
                       QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (daemon_.waitForStarted(5000) &&
            waitUntil([this] { return daemon_.canReadLine() || daemon_.state() == QProcess::NotRunning; })) {
            address_ = QString::fromUtf8(daemon_.readLine().trimmed());
        }
    }
    ~PrivateBus() {
        daemon_.terminate();
        daemon_.waitForFinished(5000);
    }
    QString address() const { return address_; }

private:
    TempDir dir_;
    QProcess daemon_;
    QString address_;
};

// Clicking a request notification's buttons answers the request exactly as its card would.
TEST_F(DesktopIntegrationTest, NotificationButtonsAnswerRequestsOverTheNotificationService) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    FakeNotificationService service(QDBusConnection::connectToBus(bus.address(), QStringLiteral("service")),
                                    {QStringLiteral("body"), QStringLiteral("actions")});
    platform::desktop::DesktopNotifier notifier(QDBusConnection::connectToBus(bus.address(), QStringLiteral("app")));
    ASSERT_TRUE(waitUntil([&] { return notifier.offersActions(); }));
    config.desktop.notify = [&notifier](const std::string& title, const std::string& body,
                                        std::vector<platform::NotificationAction> actions) {
        return notifier.notify(title, body, std::move(actions));
    };
    config.desktop.withdrawNotification = [&notifier](platform::NotificationTicket ticket) {
        notifier.withdraw(ticket);
    };
    model::AppModel model(config);

    std::vector<std::string> answers;
    for (const std::string from : {"Desk", "Laptop", "Phone"}) {
        model.decideIncoming({.v = 3, .name = from + ".jpg", .from = from}, std::nullopt,
                             [&answers, from](bool accept) { answers.push_back(from + (accept ? " yes" : " no")); });
    }
    ASSERT_TRUE(waitUntil([&] { return service.posted.size() == 3; }));
    EXPECT_EQ(service.posted[0].summary, QStringLiteral("Desk wants to send you"));
    EXPECT_EQ(service.posted[0].actions, (QStringList{QStringLiteral("0"), QStringLiteral("Accept"),
                                                      QStringLiteral("1"), QStringLiteral("Decline")}));

    service.click(service.posted[0], QStringLiteral("Accept"));
    service.click(service.posted[1], QStringLiteral("Decline"));
    ASSERT_TRUE(waitUntil([&] { return answers.size() == 2; }));
    EXPECT_EQ(answers, (std::vector<std::string>{"Desk yes", "Laptop no"}));
    ASSERT_EQ(model.requests().size(), 1u);

    // Closing changes nothing, and a closed notification's buttons are gone.
    service.close(service.posted[2]);
    service.click(service.posted[2], QStringLiteral("Accept"));
    service.click(service.posted[0], QStringLiteral("Decline"));
    waitUntil([] { return false; }, 300ms);
    EXPECT_EQ(answers.size(), 2u);
    ASSERT_EQ(model.requests().size(), 1u);

    // Answered from its card first, a request takes its notification down, and its buttons do nothing.
    model.decideIncoming({.v = 3, .name = "Pad.jpg", .from = "Pad"}, std::nullopt,
                         [&answers](bool accept) { answers.push_back(accept ? "Pad yes" : "Pad no"); });
    ASSERT_TRUE(waitUntil([&] { return service.posted.size() == 4; }));
    model.respond(model.requests()[1], false, false);
    EXPECT_TRUE(waitUntil([&] { return service.closed == std::vector<uint>{service.posted[3].id}; }));
    service.click(service.posted[3], QStringLiteral("Accept"));
    waitUntil([] { return false; }, 300ms);
    EXPECT_EQ(answers.back(), "Pad no");
}

// Without the "actions" capability notifications are posted as before, without buttons.
TEST_F(DesktopIntegrationTest, ServiceWithoutActionsGetsPlainNotifications) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    FakeNotificationService service(QDBusConnection::connectToBus(bus.address(), QStringLiteral("plain-service")),
                                    {QStringLiteral("body")});
    platform::desktop::DesktopNotifier notifier(
        QDBusConnection::connectToBus(bus.address(), QStringLiteral("plain-app")));
    bool asked = false;
    waitUntil([] { return false; }, 300ms);
    notifier.notify("Title", "Body", {{"Accept", [&asked] { asked = true; }}});
    ASSERT_TRUE(waitUntil([&] { return service.posted.size() == 1; }));
    EXPECT_TRUE(service.posted[0].actions.isEmpty());
    EXPECT_FALSE(notifier.offersActions());
}

}  // namespace
}  // namespace qb::test
