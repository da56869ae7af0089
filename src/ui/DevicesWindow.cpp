#include "ui/DevicesWindow.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include "model/AppModel.h"
#include "ui/AddressForm.h"
#include "ui/CardFrame.h"
#include "ui/ElidedLabel.h"
#include "ui/NearbyPeerRow.h"
#include "ui/Spinner.h"

namespace qb::ui {

namespace {

struct DevicesWindowStyle {
    QSize size{340, 400};
    int padding = 16;
    int rowSpacing = 6;
    int headingGap = 8;
    CardLook rowLook{Tint::secondary, 0.08, 0.0, 1.0, 8.0};
    QMargins rowPadding{12, 8, 12, 8};
    std::size_t shortKeyLength = 8;
};
const DevicesWindowStyle kStyle;

QPointer<DevicesWindow>& shown() {
    static QPointer<DevicesWindow> window;
    return window;
}

QLabel* heading(QWidget* parent) {
    auto* label = new QLabel(parent);
    styleText(*label, TextStyle::caption, Tint::secondary, QFont::DemiBold);
    return label;
}

QLabel* emptyNote(std::string_view key, QWidget* parent) {
    auto* label = new QLabel(text(key), parent);
    label->setWordWrap(true);
    styleText(*label, TextStyle::caption, Tint::secondary);
    return label;
}

}  // namespace

void DevicesWindow::present(model::AppModel& model, QWidget* parent) {
    if (shown() || parent == nullptr) {
        return;
    }
    auto* window = new DevicesWindow(model, parent->window());
    shown() = window;
    window->open();
}

DevicesWindow* DevicesWindow::current() {
    return shown();
}

DevicesWindow::DevicesWindow(model::AppModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    resize(kStyle.size);
    auto* layout =
        column(this, kStyle.headingGap, QMargins(kStyle.padding, kStyle.padding, kStyle.padding, kStyle.padding));
    auto* titleRow = new QHBoxLayout;
    title_ = new QLabel(this);
    styleText(*title_, TextStyle::headline, Tint::primary, QFont::DemiBold);
    done_ = new QPushButton(this);
    done_->setObjectName(QStringLiteral("done"));
    done_->setDefault(true);
    connect(done_, &QPushButton::clicked, this, &QDialog::accept);
    titleRow->addWidget(title_, 1);
    titleRow->addWidget(done_);
    layout->addLayout(titleRow);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    auto* sections = column(content, kStyle.rowSpacing);
    mineHeading_ = heading(content);
    sections->addWidget(mineHeading_);
    auto* mine = new QWidget(content);
    mine_ = column(mine, kStyle.rowSpacing);
    sections->addWidget(mine);
    sections->addSpacing(kStyle.headingGap);
    auto* nearbyTitle = new QHBoxLayout;
    nearbyTitle->setSpacing(kStyle.headingGap);
    nearbyHeading_ = heading(content);
    nearbyTitle->addWidget(nearbyHeading_);
    nearbyTitle->addWidget(new Spinner(content));
    nearbyTitle->addStretch(1);
    sections->addLayout(nearbyTitle);
    auto* nearby = new QWidget(content);
    nearby_ = column(nearby, kStyle.rowSpacing);
    sections->addWidget(nearby);
    // Below the nearby devices, where a user looks when theirs does not show up.
    sections->addSpacing(kStyle.headingGap);
    addressForm_ = new AddressForm(model_, content);
    sections->addWidget(addressForm_);
    sections->addStretch(1);
    scroll->setWidget(content);
    layout->addWidget(scroll, 1);
    // The form grows below the fold when many devices are listed; each step it shows is brought into view.
    connect(addressForm_, &AddressForm::stepShown, scroll, [scroll, form = addressForm_] {
        // After the layout has made room for what the step shows.
        QTimer::singleShot(0, form, [scroll, form] {
            if (form->step() != AddressForm::Step::closed) {
                scroll->ensureWidgetVisible(form);
            }
        });
    });

    refreshSoon_.setSingleShot(true);
    refreshSoon_.setInterval(0);
    connect(&refreshSoon_, &QTimer::timeout, this, &DevicesWindow::refresh);
    connect(&model_, &model::AppModel::changed, this, [this] { refreshSoon_.start(); });
    refresh();
}

void DevicesWindow::refresh() {
    // Every text is set here, so a language chosen while the window is open shows at once.
    setWindowTitle(text("peers.manage"));
    title_->setText(text("peers.manage"));
    done_->setText(text("settings.done"));
    mineHeading_->setText(text("peers.mine"));
    nearbyHeading_->setText(text("peers.nearby"));
    addressForm_->retranslate();
    for (QWidget* old : rows_) {
        old->hide();
        old->deleteLater();
    }
    rows_.clear();
    const auto add = [this](QVBoxLayout& list, QWidget* entry) {
        list.addWidget(entry);
        entry->show();
        rows_.push_back(entry);
    };
    const auto listed = model_.listedDevices();
    if (listed.empty()) {
        add(*mine_, emptyNote("peers.empty", this));
    }
    for (const std::string& id : listed) {
        add(*mine_, makeMyDeviceRow(id));
    }
    const auto nearby = model_.nearbyPeers();
    if (nearby.empty()) {
        add(*nearby_, emptyNote("peers.scanning", this));
    }
    for (const model::Peer& peer : nearby) {
        add(*nearby_, new NearbyPeerRow(peer, model_, this));
    }
}

QWidget* DevicesWindow::makeMyDeviceRow(const std::string& id) {
    const auto peer = model_.onlinePeer(id);
    const bool online = peer.has_value();
    auto* entry = new CardFrame(kStyle.rowLook, this);
    entry->setObjectName(QStringLiteral("myDevice"));
    auto* line = row(entry, kStyle.rowSpacing, kStyle.rowPadding);
    line->addWidget(online ? stateDot(Tint::green, 1.0, entry) : stateDot(Tint::secondary, 0.5, entry));
    auto* name = new ElidedLabel(entry);
    name->setText(QString::fromStdString(model_.displayName(id)));
    styleText(*name, TextStyle::callout, online ? Tint::primary : Tint::secondary);
    line->addWidget(name, 1);
    QString detail;
    if (online && peer->key) {
        detail = QString::fromStdString(peer->key->substr(0, kStyle.shortKeyLength));
    } else if (!online) {
        detail = text("peer.offline");
    }
    if (!detail.isEmpty()) {
        auto* state = new QLabel(detail, entry);
        styleText(*state, TextStyle::caption2, Tint::secondary);
        if (online) {
            QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
            mono.setPointSizeF(state->font().pointSizeF());
            state->setFont(mono);
        }
        line->addWidget(state);
    }
    auto* remove = symbolButton(Symbol::remove, Tint::red, TextStyle::headline, "peer.remove", entry);
    remove->setObjectName(QStringLiteral("removeDevice"));
    // No confirmation here: this window is where devices are managed.
    connect(remove, &QToolButton::clicked, this, [this, id] { model_.removeDevice(id); });
    line->addWidget(remove);
    return entry;
}

}  // namespace qb::ui
