#include "ui/Spinner.h"

#include <chrono>

#include <QPainter>

#include "ui/Look.h"

namespace qb::ui {

namespace {

struct SpinnerStyle {
    int size = 12;
    std::chrono::milliseconds step{80};
    int stepDegrees = 30;
    int arcDegrees = 100;
    double lineWidth = 2.0;
    double trackOpacity = 0.25;
};
const SpinnerStyle kStyle;

}  // namespace

Spinner::Spinner(QWidget* parent) : QWidget(parent) {
    setFixedSize(kStyle.size, kStyle.size);
    ticker_.setInterval(kStyle.step);
    connect(&ticker_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + kStyle.stepDegrees) % 360;
        update();
    });
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    painter.setPen(QPen(tintColor(palette(), Tint::secondary, kStyle.trackOpacity), kStyle.lineWidth));
    painter.drawEllipse(area);
    painter.setPen(QPen(tintColor(palette(), Tint::secondary), kStyle.lineWidth, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(area, -angle_ * 16, kStyle.arcDegrees * 16);
}

// A hidden spinner costs no timer wake-ups.
void Spinner::showEvent(QShowEvent*) {
    ticker_.start();
}

void Spinner::hideEvent(QHideEvent*) {
    ticker_.stop();
}

}  // namespace qb::ui
