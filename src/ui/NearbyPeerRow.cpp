#include "ui/NearbyPeerRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>

#include "model/AppModel.h"
#include "ui/ElidedLabel.h"

namespace qb::ui {

namespace {

struct NearbyRowStyle {
    CardLook look{Tint::secondary, 0.08, 0.0, 1.0, 8.0};
    QMargins padding{12, 8, 12, 8};
    int spacing = 8;
};
const NearbyRowStyle kStyle;

}  // namespace

NearbyPeerRow::NearbyPeerRow(model::Peer peer, model::AppModel& model, QWidget* parent)
    : CardFrame(kStyle.look, parent), peer_(std::move(peer)), model_(model) {
    setCursor(Qt::PointingHandCursor);
    auto* line = row(this, kStyle.spacing, kStyle.padding);
    line->addWidget(stateDot(Tint::green, 1.0, this));
    auto* name = new ElidedLabel(this);
    name->setText(QString::fromStdString(peer_.name));
    styleText(*name, TextStyle::callout, Tint::primary);
    line->addWidget(name, 1);
    if (peer_.key) {
        line->addWidget(symbolLabel(Symbol::lock, Tint::secondary, TextStyle::caption2, this));
    }
    auto* add = symbolButton(Symbol::add, Tint::accent, TextStyle::headline, "peer.add", this);
    add->setObjectName(QStringLiteral("addPeer"));
    connect(add, &QToolButton::clicked, this, &NearbyPeerRow::pair);
    line->addWidget(add);
}

void NearbyPeerRow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        pair();
    }
    event->accept();
}

void NearbyPeerRow::pair() {
    model_.pairDevice(peer_);
}

}  // namespace qb::ui
