#pragma once

#include <string>

#include <QPoint>

class QWidget;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

// The context menu of a device tile: one destructive "Remove" that removes the device at once.
void showDeviceMenu(model::AppModel& model, const std::string& id, const QPoint& globalPosition, QWidget* parent);

}  // namespace qb::ui
