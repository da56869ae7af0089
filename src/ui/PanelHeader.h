#pragma once

#include <QWidget>

class QLabel;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

// The application's icon and name, and under the name this device's name once the listener is advertised.
class PanelHeader : public QWidget {
    Q_OBJECT

public:
    explicit PanelHeader(QWidget* parent = nullptr);

    void refresh(const model::AppModel& model);

private:
    QLabel* deviceLine_ = nullptr;
};

}  // namespace qb::ui
