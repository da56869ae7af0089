#pragma once

#include <string>

#include "ui/CardFrame.h"

class QContextMenuEvent;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

struct DialogHooks;

// A device of mine that cannot be reached now: shown faded, takes no click and no drop.
class OfflinePeerTile : public CardFrame {
    Q_OBJECT

public:
    OfflinePeerTile(std::string id, model::AppModel& model, const DialogHooks& dialogs, QWidget* parent = nullptr);

    const std::string& id() const { return id_; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void confirmRemoval();

    std::string id_;
    model::AppModel& model_;
    const DialogHooks& dialogs_;
};

}  // namespace qb::ui
