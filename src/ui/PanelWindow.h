#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include <QPoint>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include "ui/ItemPicker.h"

class QCloseEvent;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

class PanelView;

struct PanelOptions {
    // Dialogs left unset are the real ones.
    DialogHooks dialogs;
};

// Where a remembered frame goes on the screens there are now: onto the screen it overlaps most, moved and
// shrunk to fit inside that screen's available area; none when it overlaps no screen.
std::optional<QRect> clampOntoScreens(const QRect& frame, const std::vector<QRect>& availableAreas, QSize minimum);

// The one floating panel: a tool window above normal windows that never takes a taskbar entry. Closing it
// only hides it; every show brings back the same window with its state intact. Its frame is remembered in
// the settings store on every move and resize and restored at the next start; dragging its background moves
// it.
class PanelWindow : public QWidget {
    Q_OBJECT

public:
    explicit PanelWindow(model::AppModel& model, PanelOptions options = {}, QWidget* parent = nullptr);
    ~PanelWindow() override;

    // Shows the panel in front without taking the keyboard focus from the active application.
    void showInFront();
    // Hides a visible panel, shows a hidden one.
    void toggle();
    PanelView& view() const { return *view_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void placeInScreenCorner();
    bool restoreFrame();
    void saveFrame();

    model::AppModel& model_;
    PanelView* view_ = nullptr;
    bool placed_ = false;
    // Moves come in bursts while the user drags; the frame is written once the burst is over.
    QTimer saveSoon_;
    std::optional<QPoint> dragOffset_;
};

}  // namespace qb::ui
