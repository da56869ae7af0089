#pragma once

#include <QTimer>
#include <QWidget>

namespace qb::ui {

// A small turning arc for work of unknown length: the search for devices, a connection being made.
class Spinner : public QWidget {
public:
    explicit Spinner(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer ticker_;
    int angle_ = 0;
};

}  // namespace qb::ui
