#include "ui/PeerTile.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QToolButton>
#include <QVBoxLayout>

#include "model/AppModel.h"
#include "ui/DeviceMenu.h"
#include "ui/ElidedLabel.h"
#include "ui/ItemPicker.h"

namespace qb::ui {

namespace {

struct PeerTileStyle {
    int padding = 12;
    int spacing = 10;
    int lineSpacing = 2;
    double radius = 12.0;
    double restingFill = 0.1;
    double restingOutline = 0.35;
    double lineWidth = 1.5;
    // The tile is laid out at its grown size and drawn shrunk while resting.
    double restingScale = 1.0 / 1.02;
    int growMilliseconds = 150;
    std::size_t shortKeyLength = 8;
};
constexpr PeerTileStyle kStyle;

CardLook tileLook(bool targeted, double scale) {
    return CardLook{Tint::accent,
                    targeted ? 1.0 : kStyle.restingFill,
                    targeted ? 0.0 : kStyle.restingOutline,
                    kStyle.lineWidth,
                    kStyle.radius,
                    true,
                    scale};
}

bool carriesFiles(const QMimeData* data) {
    return data != nullptr && data->hasUrls() && !droppedFiles(data->urls()).empty();
}

}  // namespace

PeerTile::PeerTile(std::string id, model::AppModel& model, const DialogHooks& dialogs, QWidget* parent)
    : CardFrame(tileLook(false, kStyle.restingScale), parent), id_(std::move(id)), model_(model), dialogs_(dialogs) {
    setAcceptDrops(true);
    setCursor(Qt::PointingHandCursor);
    auto* line = row(this, kStyle.spacing, QMargins(kStyle.padding, kStyle.padding, kStyle.padding, kStyle.padding));
    icon_ = new QLabel(this);
    line->addWidget(icon_);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(kStyle.lineSpacing);
    auto* first = new QHBoxLayout;
    first->setSpacing(6);
    dot_ = stateDot(Tint::green, 1.0, this);
    name_ = new ElidedLabel(this);
    name_->setObjectName(QStringLiteral("peerName"));
    lock_ = new QLabel(this);
    first->addWidget(dot_);
    first->addWidget(name_, 1);
    first->addWidget(lock_);
    // The hint and the key may take two lines in a narrow panel; cutting the key short would hide it.
    hint_ = new QLabel(this);
    hint_->setObjectName(QStringLiteral("peerHint"));
    hint_->setWordWrap(true);
    texts->addLayout(first);
    texts->addWidget(hint_);
    line->addLayout(texts, 1);

    remove_ = symbolButton(Symbol::remove, Tint::red, TextStyle::title2, "peer.remove", this);
    remove_->setObjectName(QStringLiteral("removeDevice"));
    connect(remove_, &QToolButton::clicked, this, &PeerTile::confirmRemoval);
    line->addWidget(remove_);
    arrow_ = new QLabel(this);
    line->addWidget(arrow_);

    grow_.setDuration(kStyle.growMilliseconds);
    grow_.setEasingCurve(QEasingCurve::OutCubic);
    connect(&grow_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& scale) { setLook(tileLook(targeted_, scale.toDouble())); });
}

void PeerTile::setPeer(const model::Peer& peer) {
    peer_ = peer;
    name_->setText(QString::fromStdString(peer.name));
    restyle();
}

void PeerTile::restyle() {
    // While targeted everything turns white on the accent fill.
    const auto tint = [&](QWidget& widget, Tint resting, double targetedOpacity) {
        QPalette colours = widget.palette();
        QColor colour = targeted_ ? QColor(Qt::white) : tintColor(palette(), resting);
        if (targeted_) {
            colour.setAlphaF(static_cast<float>(targetedOpacity));
        }
        colours.setColor(QPalette::WindowText, colour);
        widget.setPalette(colours);
    };
    const auto symbol = [&](QLabel& label, Symbol shape, Tint resting, double restingOpacity, TextStyle size,
                            double targetedOpacity) {
        QColor colour = targeted_ ? QColor(Qt::white) : tintColor(palette(), resting, restingOpacity);
        if (targeted_) {
            colour.setAlphaF(static_cast<float>(targetedOpacity));
        }
        label.setPixmap(tintedSymbol(shape, colour, symbolSize(size), devicePixelRatioF()));
    };
    symbol(*icon_, Symbol::device, Tint::accent, 1.0, TextStyle::title2, 1.0);
    symbol(*arrow_, Symbol::send, Tint::secondary, 0.5, TextStyle::title2, 1.0);
    name_->setFont(textFont(TextStyle::body, QFont::Medium));
    tint(*name_, Tint::primary, 1.0);
    hint_->setFont(textFont(TextStyle::caption));
    tint(*hint_, Tint::secondary, 0.9);
    lock_->setVisible(peer_.key.has_value());
    symbol(*lock_, Symbol::lock, Tint::secondary, 1.0, TextStyle::caption2, 0.9);

    QString hint = text(targeted_ ? "peer.release" : "peer.hint");
    if (!targeted_ && peer_.key) {
        hint += QStringLiteral(" · ") + text("req.key", peer_.key->substr(0, kStyle.shortKeyLength));
    }
    hint_->setText(hint);
    remove_->setVisible(!targeted_);
}

void PeerTile::setTargeted(bool targeted) {
    if (targeted == targeted_) {
        return;
    }
    targeted_ = targeted;
    restyle();
    grow_.stop();
    grow_.setStartValue(look().scale);
    grow_.setEndValue(targeted ? 1.0 : kStyle.restingScale);
    grow_.start();
    setLook(tileLook(targeted_, look().scale));
}

void PeerTile::dragEnterEvent(QDragEnterEvent* event) {
    if (!carriesFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setTargeted(true);
}

void PeerTile::dragMoveEvent(QDragMoveEvent* event) {
    // Accepted again at every move, so the pointer keeps showing that a drop here sends.
    if (carriesFiles(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void PeerTile::dragLeaveEvent(QDragLeaveEvent* event) {
    event->accept();
    setTargeted(false);
}

void PeerTile::dropEvent(QDropEvent* event) {
    setTargeted(false);
    if (event->mimeData() != nullptr && handle(model_, event->mimeData()->urls(), peer_)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void PeerTile::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void PeerTile::mouseReleaseEvent(QMouseEvent* event) {
    const bool clicked = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (clicked) {
        // The dialog is modal; the tile may be rebuilt meanwhile, so work from copies.
        const model::Peer peer = peer_;
        pickAndSend(peer, model_, dialogs_, window());
    }
}

void PeerTile::contextMenuEvent(QContextMenuEvent* event) {
    showDeviceMenu(model_, id_, event->globalPos(), this);
}

void PeerTile::confirmRemoval() {
    // The dialog is modal and the tile may be rebuilt while it is open: nothing of the tile is used after it.
    model::AppModel& model = model_;
    const std::string id = model.listedId(peer_);
    if (dialogs_.confirmRemove(window(), QString::fromStdString(peer_.name))) {
        model.removeDevice(id);
    }
}

}  // namespace qb::ui
