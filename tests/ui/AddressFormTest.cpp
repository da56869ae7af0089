// The "Add by address…" form driven like a user would, against a second model listening on loopback: what the
// connect button allows, each outcome's text, the key comparison, pairing, and the tile the device then gets.

#include <gtest/gtest.h>

#include <chrono>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <asio/io_context.hpp>
#include <asio/ip/address_v4.hpp>
#include <asio/ip/tcp.hpp>

#include "WidgetApp.h"
#include "l10n/L.h"
#include "model/TwoDevices.h"
#include "ui/AddressForm.h"
#include "ui/DevicesWindow.h"
#include "ui/ItemPicker.h"
#include "ui/OfflinePeerTile.h"
#include "ui/PanelView.h"
#include "ui/PeerTile.h"

namespace qb::test {
namespace {

using namespace std::chrono_literals;
using Step = ui::AddressForm::Step;

// A loopback port that nothing listens on any more.
std::uint16_t closedPort() {
    asio::io_context context;
    asio::ip::tcp::acceptor acceptor(context, {asio::ip::address_v4::loopback(), 0});
    return acceptor.local_endpoint().port();
}

template <class Tile>
Tile* tileOf(const QWidget& panel, const std::string& id) {
    for (Tile* tile : panel.findChildren<Tile*>()) {
        if (tile->id() == id && tile->isVisibleTo(&panel)) {
            return tile;
        }
    }
    return nullptr;
}

// Made before the models, which would otherwise make an application of their own without widgets.
struct WidgetAppFirst {
    QApplication& app = widgetApp();
};

class AddressFormTest : public ::testing::Test, private WidgetAppFirst, protected TwoDevices {
protected:
    void SetUp() override {
        l10n::L::setLang("en");
        receiver().setDeviceName("Receiver");
        listen();
        sending.config.discovery.presence = {50ms, 3s, 2};
        sender().setDeviceName("Sender");
        sender().setReceiveMode(model::ReceiveMode::off);
        sender().start();
        panel.emplace(sender(), dialogs);
        panel->resize(330, 600);
        panel->show();
        ui::DevicesWindow::present(sender(), &*panel);
        form = &ui::DevicesWindow::current()->addressForm();
        form->open();
    }
    void TearDown() override { delete ui::DevicesWindow::current(); }

    void type(const QString& host, const QString& port) {
        field("host")->setText(host);
        field("port")->setText(port);
    }
    // Return as pressed in the host field: the field passes it on to the form.
    void pressReturn() { QTest::keyClick(field("host"), Qt::Key_Return); }
    QLineEdit* field(const char* name) const { return form->findChild<QLineEdit*>(QString::fromLatin1(name)); }
    QPushButton* button(const char* name) const { return form->findChild<QPushButton*>(QString::fromLatin1(name)); }
    std::string label(const char* name) const {
        return form->findChild<QLabel*>(QString::fromLatin1(name))->text().toStdString();
    }
    bool waitForStep(Step step) {
        return waitUntil([&] { return form->step() == step; }, 30s);
    }

    ui::DialogHooks dialogs;
    std::optional<ui::PanelView> panel;
    ui::AddressForm* form = nullptr;
};

// Connect waits for a sensible host and port; the key is compared before pairing, and the device then gets a tile
// that takes drops.
TEST_F(AddressFormTest, ConnectWaitsForAnAddressThenTheKeyIsComparedBeforePairing) {
    struct Case {
        const char* host;
        const char* port;
        bool allowed;
    };
    for (const auto& [host, port, allowed] :
         {Case{"192.168.1.20", "51234", true}, Case{" studio.local ", "1", true}, Case{"fe80::1%eth0", "65535", true},
          Case{"[::1]", "80", true}, Case{"", "80", false}, Case{"studio", "", false}, Case{"studio", "0", false},
          Case{"studio", "65536", false}, Case{"my studio", "80", false}, Case{"http://studio", "80", false},
          Case{"studio:80", "80", false}}) {
        type(QString::fromUtf8(host), QString::fromUtf8(port));
        EXPECT_EQ(button("connectAddress")->isEnabled(), allowed) << host << " " << port;
    }
    // An address pasted whole is split when the field is left.
    type(QStringLiteral("[fe80::1]:51234"), {});
    Q_EMIT field("host")->editingFinished();
    EXPECT_EQ(field("host")->text(), QStringLiteral("fe80::1"));
    EXPECT_EQ(field("port")->text(), QStringLiteral("51234"));

    const std::string key = receiverKey();
    type(QStringLiteral("127.0.0.1"), QString::number(closedPort()));
    pressReturn();
    EXPECT_EQ(form->step(), Step::checking);
    EXPECT_FALSE(button("connectAddress")->isEnabled());
    ASSERT_TRUE(waitForStep(Step::entry));
    EXPECT_EQ(label("addressMessage"), l10n::L::t("addr.refused"));

    type(QStringLiteral("127.0.0.1"), QString::number(receiver().port()));
    pressReturn();
    ASSERT_TRUE(waitForStep(Step::compare));
    EXPECT_EQ(label("keyPrefix"), key.substr(0, 8));
    EXPECT_EQ(label("compareText"), l10n::L::format(l10n::L::t("addr.compare"), {key.substr(0, 8)}));
    QTest::keyClick(form, Qt::Key_Escape);
    EXPECT_EQ(form->step(), Step::entry);
    EXPECT_TRUE(receiver().requests().empty()) << "reading the key asks nobody";

    // Declined first, then accepted.
    for (const bool accept : {false, true}) {
        pressReturn();
        ASSERT_TRUE(waitForStep(Step::compare));
        QTest::keyClick(form, Qt::Key_Return);
        EXPECT_EQ(form->step(), Step::pairing);
        ASSERT_TRUE(waitUntil([&] { return receiver().requests().size() == 1; }));
        receiver().respond(receiver().requests().front(), accept, false);
        ASSERT_TRUE(waitForStep(accept ? Step::closed : Step::entry));
        EXPECT_EQ(label("addressMessage"),
                  l10n::L::format(l10n::L::t(accept ? "pair.added" : "pair.declined"), {"127.0.0.1"}));
    }
    EXPECT_EQ(sender().myDevices(), std::vector<std::string>{key});

    // The device is not advertised; its tile stands for the stored address and takes drops (what they send
    // arriving there is the model's test).
    ui::PeerTile* tile = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (tile = tileOf<ui::PeerTile>(*panel, key)) != nullptr; }));
    const auto file = sending.dir / "by-address.txt";
    writeFile(file, "dropped");
    ASSERT_TRUE(dropOn(*tile, {QUrl::fromLocalFile(QString::fromStdString(file.string()))}));
    EXPECT_EQ(sender().jobs().back().name, "by-address.txt");

    receiver().setReceiveMode(model::ReceiveMode::off);
    EXPECT_TRUE(waitUntil([&] { return tileOf<ui::OfflinePeerTile>(*panel, key) != nullptr; }));

    form->open();
    // Escape steps back and closes; the window itself stays.
    QTest::keyClick(field("host"), Qt::Key_Escape);
    EXPECT_EQ(form->step(), Step::closed);
    EXPECT_NE(ui::DevicesWindow::current(), nullptr);
}

}  // namespace
}  // namespace qb::test
