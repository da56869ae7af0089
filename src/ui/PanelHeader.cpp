#include "ui/PanelHeader.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>
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

// A plain drawn mark for a build that runs without its installed icon, so the header never shows a hole.
QPixmap drawnMark(const QPalette& palette) {
    QPixmap mark(kStyle.iconSize, kStyle.iconSize);
    mark.fill(Qt::transparent);
    QPainter painter(&mark);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette.color(QPalette::Highlight));
    painter.drawRoundedRect(QRectF(1, 1, kStyle.iconSize - 2, kStyle.iconSize - 2), 8, 8);
    QFont glyph = painter.font();
    glyph.setPixelSize(kStyle.iconSize / 2);
    glyph.setBold(true);
    painter.setFont(glyph);
    painter.setPen(palette.color(QPalette::HighlightedText));
    painter.drawText(mark.rect(), Qt::AlignCenter, QStringLiteral("⇄"));
    return mark;
}

// The icon installed with the desktop entry, else the window icon the application set, else a drawn mark.
QPixmap applicationIcon(const QPalette& palette) {
    QIcon icon = QIcon::fromTheme(QGuiApplication::desktopFileName());
    if (icon.isNull()) {
        icon = QGuiApplication::windowIcon();
    }
    return icon.isNull() ? drawnMark(palette) : icon.pixmap(kStyle.iconSize, kStyle.iconSize);
}

}  // namespace

PanelHeader::PanelHeader(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kStyle.insets);
    row->setSpacing(kStyle.spacing);
    auto* icon = new QLabel(this);
    icon->setFixedSize(kStyle.iconSize, kStyle.iconSize);
    icon->setPixmap(applicationIcon(palette()));
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

    settings_ = symbolButton(Symbol::settings, Tint::secondary, TextStyle::title2, "settings.title", this);
    settings_->setObjectName(QStringLiteral("settingsButton"));
    row->addWidget(settings_, 0, Qt::AlignVCenter);
}

void PanelHeader::refresh(const model::AppModel& model) {
    deviceLine_->setText(model.registeredName().empty() ? text("header.starting")
                                                        : text("header.thisDevice", model.deviceName()));
}

}  // namespace qb::ui
