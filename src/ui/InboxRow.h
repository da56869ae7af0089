#pragma once

#include <chrono>
#include <string>

#include <QPoint>
#include <QString>

#include "model/InboxItem.h"
#include "ui/CardFrame.h"

class QContextMenuEvent;
class QEnterEvent;
class QLabel;
class QMouseEvent;
class QToolButton;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

class ElidedLabel;

// Size or "Folder", the sender when known, and the age, joined with " · ".
QString inboxSubtitle(const model::InboxItem& item, std::chrono::system_clock::time_point now, const std::string& lang);

// One received file or folder: double-click opens it, dragging offers the file, the context menu and the
// hover buttons reveal or trash it.
class InboxRow : public CardFrame {
    Q_OBJECT

public:
    InboxRow(model::AppModel& model, QWidget* parent = nullptr);

    void setItem(const model::InboxItem& item, std::chrono::system_clock::time_point now);
    const model::InboxItem& item() const { return item_; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void setHover(bool hover);
    void reveal();
    void moveToTrash();
    void dragOut();

    model::AppModel& model_;
    model::InboxItem item_;
    QLabel* icon_ = nullptr;
    ElidedLabel* name_ = nullptr;
    ElidedLabel* subtitle_ = nullptr;
    QToolButton* revealButton_ = nullptr;
    QToolButton* trashButton_ = nullptr;
    QLabel* handle_ = nullptr;
    QPoint pressPosition_;
    bool pressed_ = false;
};

}  // namespace qb::ui
