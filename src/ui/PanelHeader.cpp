#include "ui/PanelHeader.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "model/AppModel.h"
#include "ui/ElidedLabel.h"
#include "ui/Look.h"

namespace qb::ui {

namespace {

struct HeaderStyle {
    QMargins insets{14, 12, 14, 10};
    int iconSize = 34;
    int spacing = 10;
};
constexpr HeaderStyle kStyle;

// The icon installed with the desktop entry, else the window icon the application set.
QIcon applicationIcon() {
    QIcon themed = QIcon::fromTheme(QGuiApplication::desktopFileName());
    return themed.isNull() ? QGuiApplication::windowIcon() : themed;
}

}  // namespace

PanelHeader::PanelHeader(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kStyle.insets);
    row->setSpacing(kStyle.spacing);
    auto* icon = new QLabel(this);
    icon->setFixedSize(kStyle.iconSize, kStyle.iconSize);
    icon->setPixmap(applicationIcon().pixmap(kStyle.iconSize, kStyle.iconSize));
    row->addWidget(icon);

    auto* column = new QVBoxLayout;
    column->setSpacing(0);
    auto* title = new QLabel(QStringLiteral("Quobblefin"), this);
    styleText(*title, TextStyle::headline, Tint::primary);
    deviceLine_ = new ElidedLabel(this);
    deviceLine_->setObjectName(QStringLiteral("deviceLine"));
    styleText(*deviceLine_, TextStyle::caption, Tint::secondary);
    column->addWidget(title);
    column->addWidget(deviceLine_);
    row->addLayout(column, 1);
}

void PanelHeader::refresh(const model::AppModel& model) {
    deviceLine_->setText(model.registeredName().empty() ? text("header.starting")
                                                        : text("header.thisDevice", model.deviceName()));
}

}  // namespace qb::ui
