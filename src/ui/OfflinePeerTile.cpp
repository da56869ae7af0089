#include "ui/OfflinePeerTile.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "model/AppModel.h"
#include "ui/DeviceMenu.h"
#include "ui/ElidedLabel.h"
#include "ui/ItemPicker.h"

namespace qb::ui {

namespace {

struct OfflineTileStyle {
    // Drawn at the size of a resting online tile, which is inset so that it can grow.
    CardLook look{Tint::secondary, 0.06, 0.2, 1.0, 12.0, false, 1.0 / 1.02};
    int padding = 12;
    int spacing = 10;
    int lineSpacing = 2;
    double iconOpacity = 0.45;
    double dotOpacity = 0.5;
    double removeOpacity = 0.8;
};
const OfflineTileStyle kStyle;

}  // namespace

OfflinePeerTile::OfflinePeerTile(std::string id, model::AppModel& model, const DialogHooks& dialogs, QWidget* parent)
    : CardFrame(kStyle.look, parent), id_(std::move(id)), model_(model), dialogs_(dialogs) {
    auto* line = row(this, kStyle.spacing, QMargins(kStyle.padding, kStyle.padding, kStyle.padding, kStyle.padding));
    line->addWidget(symbolLabel(Symbol::device, Tint::secondary, TextStyle::title2, this, kStyle.iconOpacity));

    auto* texts = new QVBoxLayout;
    texts->setSpacing(kStyle.lineSpacing);
    auto* first = new QHBoxLayout;
    first->setSpacing(6);
    first->addWidget(stateDot(Tint::secondary, kStyle.dotOpacity, this));
    auto* name = new ElidedLabel(this);
    name->setObjectName(QStringLiteral("peerName"));
    name->setText(QString::fromStdString(model_.displayName(id_)));
    styleText(*name, TextStyle::body, Tint::secondary, QFont::Medium);
    first->addWidget(name, 1);
    auto* state = new ElidedLabel(this);
    state->setText(text("peer.offline"));
    state->setFont(textFont(TextStyle::caption));
    QPalette faded = state->palette();
    faded.setColor(QPalette::WindowText, tintColor(palette(), Tint::secondary, 0.8));
    state->setPalette(faded);
    texts->addLayout(first);
    texts->addWidget(state);
    line->addLayout(texts, 1);

    auto* remove =
        symbolButton(Symbol::remove, Tint::red, TextStyle::title2, "peer.remove", this, kStyle.removeOpacity);
    remove->setObjectName(QStringLiteral("removeDevice"));
    connect(remove, &QToolButton::clicked, this, &OfflinePeerTile::confirmRemoval);
    line->addWidget(remove);
}

void OfflinePeerTile::contextMenuEvent(QContextMenuEvent* event) {
    showDeviceMenu(model_, id_, event->globalPos(), this);
}

void OfflinePeerTile::confirmRemoval() {
    model::AppModel& model = model_;
    const std::string id = id_;
    if (dialogs_.confirmRemove(window(), QString::fromStdString(model.displayName(id)))) {
        model.removeDevice(id);
    }
}

}  // namespace qb::ui
