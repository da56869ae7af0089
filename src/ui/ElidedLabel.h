#pragma once

#include <QLabel>

class QPaintEvent;

namespace qb::ui {

// A one-line label that shortens its text with an ellipsis instead of widening the panel.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace qb::ui
