#include "ui/DeviceMenu.h"

#include <QMenu>

#include "model/AppModel.h"
#include "ui/Look.h"

namespace qb::ui {

void showDeviceMenu(model::AppModel& model, const std::string& id, const QPoint& globalPosition, QWidget* parent) {
    QMenu menu(parent);
    const QIcon icon(tintedSymbol(Symbol::remove, tintColor(menu.palette(), Tint::red), 16, menu.devicePixelRatioF()));
    const QAction* remove = menu.addAction(icon, text("peer.remove"));
    // The id is a copy: the tile that asked may be rebuilt while the menu is open.
    if (menu.exec(globalPosition) == remove) {
        model.removeDevice(id);
    }
}

}  // namespace qb::ui
