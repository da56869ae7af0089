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
    const QRectF area = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    QPainterPath shape;
    shape.addRoundedRect(area, look_.radius, look_.radius);
    painter.fillPath(shape, tintColor(palette(), look_.tint, look_.fillOpacity));
    if (look_.outlineOpacity > 0) {
        painter.setPen(QPen(tintColor(palette(), look_.tint, look_.outlineOpacity), look_.lineWidth));
        painter.drawPath(shape);
    }
}

}  // namespace qb::ui
