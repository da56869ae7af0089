#pragma once

#include <QWidget>

class QCloseEvent;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

class PanelView;

// The one floating panel: a tool window above normal windows that never takes a taskbar entry. Closing it
// only hides it; every show brings back the same window with its state intact.
class PanelWindow : public QWidget {
    Q_OBJECT

public:
    explicit PanelWindow(model::AppModel& model, QWidget* parent = nullptr);

    // Shows the panel in front without taking the keyboard focus from the active application.
    void showInFront();
    // Hides a visible panel, shows a hidden one.
    void toggle();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void placeInScreenCorner();

    model::AppModel& model_;
    PanelView* view_ = nullptr;
    bool placed_ = false;
};

}  // namespace qb::ui
