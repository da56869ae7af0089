#include "ui/PanelWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "model/AppModel.h"
#include "ui/PanelView.h"

namespace qb::ui {

namespace {

struct PanelStyle {
    QSize initialSize{330, 460};
    QSize minimumSize{300, 360};
    int screenMargin = 20;  // distance from the right and bottom edges of the available screen area
};
constexpr PanelStyle kStyle;

}  // namespace

PanelWindow::PanelWindow(model::AppModel& model, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), model_(model) {
    setWindowTitle(QStringLiteral("Quobblefin"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    resize(kStyle.initialSize);
    setMinimumSize(kStyle.minimumSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new PanelView(model_, this);
    layout->addWidget(view_);
}

void PanelWindow::showInFront() {
    if (!placed_) {
        placeInScreenCorner();
        placed_ = true;
    }
    show();
    raise();
}

void PanelWindow::toggle() {
    if (isVisible()) {
        hide();
    } else {
        showInFront();
    }
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

void PanelWindow::placeInScreenCorner() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    move(area.right() + 1 - width() - kStyle.screenMargin, area.bottom() + 1 - height() - kStyle.screenMargin);
}

}  // namespace qb::ui
