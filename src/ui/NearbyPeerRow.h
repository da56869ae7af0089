#pragma once

#include "model/Peer.h"
#include "ui/CardFrame.h"

class QMouseEvent;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

// A device found on the network that is not mine yet; the "Add" button or a click on the row asks it to pair.
class NearbyPeerRow : public CardFrame {
    Q_OBJECT

public:
    NearbyPeerRow(model::Peer peer, model::AppModel& model, QWidget* parent = nullptr);

    const model::Peer& peer() const { return peer_; }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void pair();

    model::Peer peer_;
    model::AppModel& model_;
};

}  // namespace qb::ui
