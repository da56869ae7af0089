#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

// The application's icon and name, under the name this device's name once the listener is advertised, and
// the gear button that opens the settings.
class PanelHeader : public QWidget {
    Q_OBJECT

public:
    explicit PanelHeader(QWidget* parent = nullptr);

    void refresh(const model::AppModel& model);
    QToolButton* settingsButton() const { return settings_; }

private:
    QLabel* deviceLine_ = nullptr;
    QToolButton* settings_ = nullptr;
};

}  // namespace qb::ui
