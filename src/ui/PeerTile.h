#pragma once

#include <string>

#include <QVariantAnimation>

#include "model/Peer.h"
#include "ui/CardFrame.h"

class QDragEnterEvent;
class QDragLeaveEvent;
class QDragMoveEvent;
class QDropEvent;
class QLabel;
class QMouseEvent;
class QToolButton;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

class ElidedLabel;
struct DialogHooks;

// A device of mine that is reachable now: a click picks files to send to it, a drop of files sends them.
// While a drag with files hovers, the tile fills with the accent colour, grows a little and says
// "Release to send".
class PeerTile : public CardFrame {
    Q_OBJECT

public:
    PeerTile(std::string id, model::AppModel& model, const DialogHooks& dialogs, QWidget* parent = nullptr);

    const std::string& id() const { return id_; }
    void setPeer(const model::Peer& peer);
    bool targeted() const { return targeted_; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void setTargeted(bool targeted);
    void restyle();
    void confirmRemoval();

    std::string id_;
    model::AppModel& model_;
    const DialogHooks& dialogs_;
    model::Peer peer_;
    bool targeted_ = false;
    bool pressed_ = false;
    QVariantAnimation grow_;
    QLabel* icon_ = nullptr;
    QLabel* dot_ = nullptr;
    ElidedLabel* name_ = nullptr;
    QLabel* lock_ = nullptr;
    QLabel* hint_ = nullptr;
    QToolButton* remove_ = nullptr;
    QLabel* arrow_ = nullptr;
};

}  // namespace qb::ui
