#pragma once

#include <QWidget>

#include "ui/Look.h"

class QPaintEvent;

namespace qb::ui {

// How a card is drawn: a rounded rectangle tinted by meaning, so the palette decides the actual colours.
struct CardLook {
    Tint tint = Tint::secondary;
    double fillOpacity = 0.08;
    double outlineOpacity = 0.0;  // 0 draws no outline
    double lineWidth = 1.0;
    double radius = 10.0;
    bool dashed = false;  // 5 on, 4 off
    // Below 1 the card is drawn shrunk about its centre, so a card can grow without moving its neighbours.
    double scale = 1.0;
};

// A plain container that paints its card background behind the child widgets.
class CardFrame : public QWidget {
    Q_OBJECT

public:
    explicit CardFrame(CardLook look, QWidget* parent = nullptr);

    void setLook(CardLook look);
    const CardLook& look() const { return look_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CardLook look_;
};

}  // namespace qb::ui
