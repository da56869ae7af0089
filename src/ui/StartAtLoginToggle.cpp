#include "ui/StartAtLoginToggle.h"

#include <QSignalBlocker>

#include "model/AppModel.h"
#include "ui/Look.h"

namespace qb::ui {

StartAtLoginToggle::StartAtLoginToggle(model::AppModel& model, QWidget* parent) : QCheckBox(parent), model_(model) {
    connect(this, &QCheckBox::toggled, this, [this](bool on) { model_.setStartAtLogin(on); });
    connect(&model_, &model::AppModel::changed, this, &StartAtLoginToggle::refresh);
    refresh();
}

void StartAtLoginToggle::refresh() {
    setText(ui::text("settings.startAtLogin"));
    const QSignalBlocker quiet(this);
    setChecked(model_.startAtLogin());
}

}  // namespace qb::ui
