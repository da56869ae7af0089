#pragma once

#include <QCheckBox>

namespace qb::model {
class AppModel;
}

namespace qb::ui {

// "Start at login" for the settings view: shows the model's setting and changes it. When the entry cannot be
// written the model keeps the old value, and the box follows it back.
class StartAtLoginToggle : public QCheckBox {
    Q_OBJECT

public:
    explicit StartAtLoginToggle(model::AppModel& model, QWidget* parent = nullptr);

private:
    void refresh();

    model::AppModel& model_;
};

}  // namespace qb::ui
