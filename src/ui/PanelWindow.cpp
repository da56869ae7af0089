#include "ui/PanelWindow.h"

#include <algorithm>
#include <sstream>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "model/AppModel.h"
#include "ui/PanelView.h"

namespace qb::ui {

namespace {

struct PanelStyle {
    QSize initialSize{330, 460};
    QSize minimumSize{300, 360};
    int screenMargin = 20;  // distance from the right and bottom edges of the available screen area
    std::chrono::milliseconds saveDelay{400};
};
const PanelStyle kStyle;

std::string frameText(const QRect& frame) {
    return std::to_string(frame.x()) + ',' + std::to_string(frame.y()) + ',' + std::to_string(frame.width()) + ',' +
           std::to_string(frame.height());
}

std::optional<QRect> frameFromText(const std::string& text) {
    std::istringstream input(text);
    int values[4] = {};
    char comma = 0;
    input >> values[0] >> comma >> values[1] >> comma >> values[2] >> comma >> values[3];
    if (!input || values[2] <= 0 || values[3] <= 0) {
        return std::nullopt;
    }
    return QRect(values[0], values[1], values[2], values[3]);
}

std::vector<QRect> availableAreas() {
    std::vector<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        areas.push_back(screen->availableGeometry());
    }
    return areas;
}

}  // namespace

std::optional<QRect> clampOntoScreens(const QRect& frame, const std::vector<QRect>& areas, QSize minimum) {
    const QRect* best = nullptr;
    long bestOverlap = 0;
    for (const QRect& area : areas) {
        const QRect overlap = area.intersected(frame);
        const long size = overlap.isEmpty() ? 0 : static_cast<long>(overlap.width()) * overlap.height();
        if (size > bestOverlap) {
            bestOverlap = size;
            best = &area;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    QRect placed(frame.topLeft(), frame.size().boundedTo(best->size()).expandedTo(minimum));
    placed.moveLeft(
        std::clamp(placed.left(), best->left(), std::max(best->left(), best->right() + 1 - placed.width())));
    placed.moveTop(std::clamp(placed.top(), best->top(), std::max(best->top(), best->bottom() + 1 - placed.height())));
    return placed;
}

PanelWindow::PanelWindow(model::AppModel& model, PanelOptions options, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), model_(model) {
    setWindowTitle(QStringLiteral("Quobblefin"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    resize(kStyle.initialSize);
    setMinimumSize(kStyle.minimumSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new PanelView(model_, std::move(options.dialogs), this);
    layout->addWidget(view_);
    saveSoon_.setSingleShot(true);
    saveSoon_.setInterval(kStyle.saveDelay);
    connect(&saveSoon_, &QTimer::timeout, this, &PanelWindow::saveFrame);
    placed_ = restoreFrame();
}

PanelWindow::~PanelWindow() {
    if (saveSoon_.isActive()) {
        saveFrame();
    }
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

void PanelWindow::hideEvent(QHideEvent* event) {
    if (saveSoon_.isActive()) {
        saveSoon_.stop();
        saveFrame();
    }
    QWidget::hideEvent(event);
}

void PanelWindow::moveEvent(QMoveEvent* event) {
    if (isVisible()) {
        saveSoon_.start();
    }
    QWidget::moveEvent(event);
}

void PanelWindow::resizeEvent(QResizeEvent* event) {
    if (isVisible()) {
        saveSoon_.start();
    }
    QWidget::resizeEvent(event);
}

void PanelWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The window manager moves the window where it can; elsewhere the panel follows the pointer itself.
    if (windowHandle() == nullptr || !windowHandle()->startSystemMove()) {
        dragOffset_ = event->globalPosition().toPoint() - pos();
    }
    event->accept();
}

void PanelWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragOffset_) {
        move(event->globalPosition().toPoint() - *dragOffset_);
    }
    event->accept();
}

void PanelWindow::mouseReleaseEvent(QMouseEvent* event) {
    dragOffset_.reset();
    event->accept();
}

void PanelWindow::placeInScreenCorner() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    move(area.right() + 1 - width() - kStyle.screenMargin, area.bottom() + 1 - height() - kStyle.screenMargin);
}

bool PanelWindow::restoreFrame() {
    const auto frame = frameFromText(model_.panelFrame());
    const auto placed = frame ? clampOntoScreens(*frame, availableAreas(), kStyle.minimumSize) : std::nullopt;
    if (!placed) {
        return false;
    }
    setGeometry(*placed);
    return true;
}

void PanelWindow::saveFrame() {
    model_.setPanelFrame(frameText(geometry()));
}

}  // namespace qb::ui
