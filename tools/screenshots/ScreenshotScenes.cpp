// Renders every main state of the interface to PNG files for review: the panel (empty, with devices and a
// drag hovering, with requests, with transfers, with a full inbox, everything at the minimum size), the
// settings popover, the devices window with and without its add-by-address form, the tray menu with its
// language submenu and the share banner.
//   screenshot_scenes <output folder> <language code> [dark]
// Each scene runs on its own model with private settings and receive folder in a temporary folder; nothing
// leaves the process but a listener on 127.0.0.1. Labels and buttons whose text does not fit are reported
// on standard error, so clipping shows up without looking.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPalette>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <asio/io_context.hpp>
#include <asio/ip/address_v4.hpp>
#include <asio/ip/tcp.hpp>

#include "app/Application.h"
#include "identity/Identity.h"
#include "model/AppModel.h"
#include "model/PathText.h"
#include "ui/AddressForm.h"
#include "ui/DevicesWindow.h"
#include "ui/ElidedLabel.h"
#include "ui/PanelView.h"
#include "ui/PanelWindow.h"
#include "ui/PeerTile.h"
#include "ui/SettingsPopover.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using qb::model::Peer;

constexpr QSize kMinimumPanel{300, 360};
constexpr int kTallestPanel = 900;

std::string key(char digit) {
    return std::string(64, digit);
}

Peer peer(const std::string& name, std::optional<std::string> peerKey) {
    return Peer{.name = name,
                .serviceName = name,
                .endpoint = qb::platform::HostPort("127.0.0.1", 9),
                .proto = peerKey ? 5 : 3,
                .key = std::move(peerKey)};
}

// Runs the event loop until `done` holds, for at most `limit`; then lets deleted widgets go.
bool pauseUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 15s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return done();
}

// Runs the event loop for a moment: layouts settle, animations end, the listener starts.
void pause(std::chrono::milliseconds time) {
    pauseUntil([] { return false; }, time);
}

// A loopback port that nothing listens on any more.
std::uint16_t closedPort() {
    asio::io_context context;
    asio::ip::tcp::acceptor acceptor(context, {asio::ip::address_v4::loopback(), 0});
    return acceptor.local_endpoint().port();
}

// Reports every visible label or button whose text is wider than the room it has.
int reportClipping(const QWidget& root, const QString& scene) {
    int clipped = 0;
    for (const QLabel* label : root.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&root) || label->wordWrap() || label->text().isEmpty() ||
            qobject_cast<const qb::ui::ElidedLabel*>(label) != nullptr || label->textFormat() == Qt::RichText) {
            continue;
        }
        if (label->fontMetrics().horizontalAdvance(label->text()) > label->contentsRect().width() + 1) {
            std::fprintf(stderr, "clipped in %s: label \"%s\"\n", qPrintable(scene), qPrintable(label->text()));
            ++clipped;
        }
    }
    for (const QAbstractButton* button : root.findChildren<QAbstractButton*>()) {
        if (button->isVisibleTo(&root) && !button->text().isEmpty() &&
            button->minimumSizeHint().width() > button->width() + 1) {
            std::fprintf(stderr, "clipped in %s: button \"%s\"\n", qPrintable(scene), qPrintable(button->text()));
            ++clipped;
        }
    }
    return clipped;
}

class Scenes {
public:
    Scenes(QString outFolder, std::string lang) : out_(std::move(outFolder)), lang_(std::move(lang)) {}

    int run() {
        panelScene("01-empty", [](qb::model::AppModel&, qb::ui::PanelView&) {});
        panelScene("02-devices", [this](qb::model::AppModel& model, qb::ui::PanelView& panel) {
            addDevices(model);
            pause(50ms);
            hoverDrag(panel);
        });
        panelScene("03-requests", [this](qb::model::AppModel& model, qb::ui::PanelView&) { addRequests(model); });
        panelScene("04-transfers", [this](qb::model::AppModel& model, qb::ui::PanelView&) {
            addDevices(model);
            addJobs(model);
        });
        // Scrolled to its end, where the note about the rest of the folder is.
        panelScene(
            "05-inbox", [this](qb::model::AppModel& model, qb::ui::PanelView&) { addInbox(model, 45); }, std::nullopt,
            true);
        panelScene(
            "06-minimum-size",
            [this](qb::model::AppModel& model, qb::ui::PanelView&) {
                addRequests(model);
                addDevices(model);
                addJobs(model);
                addInbox(model, 3);
            },
            kMinimumPanel);
        settingsScene();
        devicesWindowScene();
        addressScenes();
        trayMenuScene();
        // Two items handed over by the file manager, waiting above the devices for a click on one.
        panelScene("10-share", [this](qb::model::AppModel& model, qb::ui::PanelView&) {
            addDevices(model);
            model.stageShare({model.saveDir() / "Quarterly report.pdf", model.saveDir() / "Holiday photos"});
        });
        return clipped_;
    }

private:
    struct Stage {
        QTemporaryDir dir;
        std::optional<qb::model::AppModel> model;
    };

    // Settings in `dir`; received files there too, or in the home folder's Downloads when asked.
    static qb::model::ModelConfig configIn(const QTemporaryDir& dir, bool homeDownloads = false) {
        const fs::path root = qb::model::toPath(dir.path());
        qb::model::ModelConfig config;
        config.settingsFile = root / "settings.json";
        config.sources.downloadsFolder =
            homeDownloads ? qb::model::toPath(QDir::homePath()) / "Downloads" : root / "Downloads";
        config.ownKey = [] { return std::string("3fa91c07") + std::string(56, '0'); };
        config.server.options.identity = nullptr;
        config.server.options.bindAddress = asio::ip::address_v4::loopback();
        config.desktop.playSound = [](std::string_view) {};
        config.sender.send = [](qb::model::SendRequest, auto, auto) {};
        config.sender.pair = [](qb::platform::Endpoint, std::string, std::string, auto, auto) {};
        return config;
    }

    // A model of its own, started on loopback, in the scene's language.
    std::unique_ptr<Stage> stage(bool homeDownloads = false) {
        auto made = std::make_unique<Stage>();
        made->model.emplace(configIn(made->dir, homeDownloads));
        made->model->setLang(lang_);
        made->model->start();
        return made;
    }

    void save(const QPixmap& picture, const char* scene) {
        const QString file =
            out_ + QStringLiteral("/%1-%2.png").arg(QString::fromLatin1(scene), QString::fromStdString(lang_));
        if (!picture.save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            ++clipped_;
            return;
        }
        std::printf("saved %s\n", qPrintable(file));
    }

    void panelScene(const char* name, const std::function<void(qb::model::AppModel&, qb::ui::PanelView&)>& fill,
                    std::optional<QSize> fixedSize = std::nullopt, bool scrollToEnd = false) {
        auto scene = stage();
        qb::ui::PanelView panel(*scene->model);
        panel.resize(kMinimumPanel);
        panel.show();
        pause(300ms);
        fill(*scene->model, panel);
        pause(400ms);
        if (!fixedSize) {
            // At the narrowest width, tall enough to show everything the scene holds.
            const auto* content = panel.findChild<QScrollArea*>()->widget();
            const int height = std::clamp(content->sizeHint().height() + 80, kMinimumPanel.height(), kTallestPanel);
            panel.resize(kMinimumPanel.width(), height);
            pause(200ms);
        }
        if (scrollToEnd) {
            auto* scroll = panel.findChild<QScrollArea*>();
            scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
            pause(100ms);
        }
        clipped_ += reportClipping(panel, QString::fromLatin1(name));
        save(panel.grab(), name);
    }

    void addDevices(qb::model::AppModel& model) {
        model.setMyDevices({"Studio Laptop", key('7'), "Attic PC"});
        model.setDeviceNames({{"Attic PC", "Attic PC"}});
        model.setPeers({peer("Studio Laptop", std::nullopt), peer("Kitchen Mac mini", key('7')),
                        peer("Attic PC", std::nullopt), peer("Garden Tablet", key('c')),
                        peer("Guest phone", std::nullopt)});
        model.setUnreachable({"Attic PC"});
    }

    void hoverDrag(qb::ui::PanelView& panel) {
        auto tiles = panel.findChildren<qb::ui::PeerTile*>();
        if (tiles.isEmpty()) {
            return;
        }
        drag_.setUrls({QUrl::fromLocalFile(QDir::homePath())});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &drag_, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(tiles.back(), &enter);
    }

    void addRequests(qb::model::AppModel& model) {
        model.decideIncoming(
            {.v = 3, .name = "Quarterly report – final version.pdf", .size = 2'400'000, .from = "Kitchen Mac mini"},
            std::nullopt, [](bool) {});
        model.decideIncoming({.v = 5, .from = "Garden Tablet", .pair = true}, key('c'), [](bool) {});
    }

    void addJobs(qb::model::AppModel& model) {
        using Job = qb::model::TransferJob;
        model.appendJob(Job{.id = "1", .name = "Holiday photos", .peer = "Studio Laptop", .progress = 0.427});
        model.appendJob(Job{.id = "2",
                            .name = "Site plan.dwg",
                            .peer = "Kitchen Mac mini",
                            .direction = Job::Direction::incoming,
                            .progress = 1.0,
                            .state = Job::State::done()});
        model.appendJob(Job{.id = "3",
                            .name = "Budget 2027.xlsx",
                            .peer = "Studio Laptop",
                            .state = Job::State::failed(
                                qb::transfer::TransferError::of(qb::transfer::TransferErrc::declined).description())});
        model.appendJob(Job{.id = "4", .name = "Garden Tablet", .peer = "Garden Tablet", .pair = true});
    }

    void addInbox(qb::model::AppModel& model, int files) {
        const fs::path folder = model.saveDir();
        fs::create_directories(folder / "Holiday photos");
        const auto now = fs::file_time_type::clock::now();
        for (int index = 0; index < files; ++index) {
            const fs::path file = folder / ("Scan " + std::to_string(index + 1) + (index % 3 == 0 ? ".pdf" : ".jpg"));
            std::ofstream(file) << std::string(static_cast<std::size_t>(1000 * (index + 1)), 'x');
            fs::last_write_time(file, now - std::chrono::minutes(5 + index * 37));
        }
        fs::last_write_time(folder / "Holiday photos", now - 20s);
        model.refreshInbox();
    }

    void settingsScene() {
        auto scene = stage(true);
        qb::ui::PanelView panel(*scene->model);
        panel.resize(330, 460);
        panel.show();
        pause(300ms);
        panel.toggleSettings();
        pause(300ms);
        auto* popover = panel.settings();
        clipped_ += reportClipping(*popover, QStringLiteral("settings"));
        save(popover->grab(), "07-settings");
        popover->close();
    }

    void devicesWindowScene() {
        auto scene = stage();
        qb::ui::PanelView panel(*scene->model);
        const auto window = devicesWindowOver(*scene, panel);
        pause(300ms);
        clipped_ += reportClipping(*window, QStringLiteral("devices window"));
        save(window->grab(), "08-devices-window");
    }

    // The add-device window over a panel that lists the scene's devices; the scene closes it.
    std::unique_ptr<qb::ui::DevicesWindow> devicesWindowOver(Stage& scene, qb::ui::PanelView& panel) {
        addDevices(*scene.model);
        panel.resize(330, 460);
        panel.show();
        pause(200ms);
        qb::ui::DevicesWindow::present(*scene.model, &panel);
        return std::unique_ptr<qb::ui::DevicesWindow>(qb::ui::DevicesWindow::current());
    }

    // The form filled in, with the text for a port where nothing answers, then the key to compare, read from a
    // second listener of ours on loopback with a key of its own.
    void addressScenes() {
        QTemporaryDir otherDir;
        const fs::path otherRoot = qb::model::toPath(otherDir.path());
        qb::identity::Identity otherIdentity({false, otherRoot / "keys", otherRoot / "identity.json", nullptr});
        auto otherConfig = configIn(otherDir);
        otherConfig.server.options.identity = &otherIdentity;
        qb::model::AppModel other(otherConfig);
        other.start();

        auto scene = stage();
        qb::ui::PanelView panel(*scene->model);
        const auto window = devicesWindowOver(*scene, panel);
        auto& form = window->addressForm();
        form.open();
        const auto checkAt = [&](std::uint16_t port, qb::ui::AddressForm::Step until) {
            form.findChild<QLineEdit*>(QStringLiteral("host"))->setText(QStringLiteral("127.0.0.1"));
            form.findChild<QLineEdit*>(QStringLiteral("port"))->setText(QString::number(port));
            form.check();
            if (!pauseUntil([&] { return form.step() == until; })) {
                std::fprintf(stderr, "the address form did not reach its step\n");
                ++clipped_;
            }
            pause(300ms);
        };
        checkAt(closedPort(), qb::ui::AddressForm::Step::entry);
        clipped_ += reportClipping(*window, QStringLiteral("add by address"));
        save(window->grab(), "11-add-by-address");
        if (!pauseUntil([&] { return other.port() != 0; })) {
            std::fprintf(stderr, "the second listener did not start\n");
            ++clipped_;
        }
        checkAt(other.port(), qb::ui::AddressForm::Step::compare);
        clipped_ += reportClipping(*window, QStringLiteral("add by address, compare"));
        save(window->grab(), "12-add-by-address-compare");
    }

    void trayMenuScene() {
        QTemporaryDir dir;
        qb::app::AppDelegate delegate({.hidden = true, .trayAvailable = false}, configIn(dir));
        delegate.launch();
        delegate.setLang(QString::fromStdString(lang_));
        delegate.panel()->hide();
        QMenu& menu = *delegate.menu();
        QAction* languages = menu.actions().at(2);
        menu.popup(QPoint(40, 40));
        pause(150ms);
        menu.setActiveAction(languages);
        QMenu& submenu = *languages->menu();
        const QRect item = menu.actionGeometry(languages);
        submenu.popup(menu.mapToGlobal(QPoint(menu.width() - 4, item.top())));
        pause(300ms);
        clipped_ += reportClipping(menu, QStringLiteral("tray menu"));
        const QPixmap main = menu.grab();
        const QPixmap sub = submenu.grab();
        const QPoint subAt = submenu.pos() - menu.pos();
        QPixmap canvas(QSize(std::max(main.width(), subAt.x() + sub.width()) + 24,
                             std::max(main.height(), subAt.y() + sub.height()) + 24));
        canvas.fill(QApplication::palette().color(QPalette::Dark));
        QPainter painter(&canvas);
        painter.drawPixmap(12, 12, main);
        painter.drawPixmap(subAt + QPoint(12, 12), sub);
        painter.end();
        save(canvas, "09-tray-menu");
        submenu.close();
        menu.close();
    }

    QString out_;
    std::string lang_;
    QMimeData drag_;
    int clipped_ = 0;
};

// A dark desktop's colours, to see that everything drawn follows the palette.
QPalette darkPalette() {
    const std::pair<QPalette::ColorRole, QRgb> roles[] = {
        {QPalette::Window, 0x2b2b2b},
        {QPalette::WindowText, 0xeeeeee},
        {QPalette::Base, 0x1e1e1e},
        {QPalette::AlternateBase, 0x333333},
        {QPalette::Text, 0xeeeeee},
        {QPalette::Button, 0x3a3a3a},
        {QPalette::ButtonText, 0xeeeeee},
        {QPalette::Highlight, 0x3d8be0},
        {QPalette::HighlightedText, 0xffffff},
        {QPalette::Link, 0x6ab0ff},
        {QPalette::PlaceholderText, 0x999999},
        {QPalette::Light, 0x4a4a4a},
        {QPalette::Midlight, 0x404040},
        {QPalette::Mid, 0x363636},
        {QPalette::Dark, 0x1c1c1c},
        {QPalette::Shadow, 0x101010},
    };
    QPalette dark;
    for (const auto& [role, colour] : roles) {
        dark.setColor(role, QColor(colour));
    }
    return dark;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s <output folder> <language code> [dark]\n", argv[0]);
        return 2;
    }
    QApplication application(argc, argv);
    if (argc == 4 && std::string(argv[3]) == "dark") {
        application.setPalette(darkPalette());
    }
    QApplication::setQuitOnLastWindowClosed(false);
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    const int clipped = Scenes(out, argv[2]).run();
    if (clipped > 0) {
        std::fprintf(stderr, "%d texts do not fit\n", clipped);
    }
    return clipped > 0 ? 1 : 0;
}
