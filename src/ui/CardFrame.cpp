#include "ui/CardFrame.h"

#include <QPainter>
#include <QPainterPath>

namespace qb::ui {

CardFrame::CardFrame(CardLook look, QWidget* parent) : QWidget(parent), look_(look) {}

void CardFrame::setLook(CardLook look) {
    look_ = look;
    update();
}

void CardFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Inset by half the line so the outline is not clipped at the widget's edge.
    const double inset = look_.outlineOpacity > 0 ? look_.lineWidth / 2 : 0.0;
    const QRectF full = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    const QSizeF size = full.size() * look_.scale;
    const QRectF area(full.center() - QPointF(size.width(), size.height()) / 2, size);
    QPainterPath shape;
    shape.addRoundedRect(area, look_.radius, look_.radius);
    painter.fillPath(shape, tintColor(palette(), look_.tint, look_.fillOpacity));
    if (look_.outlineOpacity > 0) {
        QPen pen(tintColor(palette(), look_.tint, look_.outlineOpacity), look_.lineWidth);
        if (look_.dashed) {
            // Dash lengths are in line widths.
            pen.setDashPattern({5.0 / look_.lineWidth, 4.0 / look_.lineWidth});
        }
        painter.setPen(pen);
        painter.drawPath(shape);
    }
}

}  // namespace qb::ui
