#pragma once

#include <filesystem>
#include <vector>

#include <QString>

#include "ui/CardFrame.h"

class QLabel;
class QToolButton;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

// "Send N items to…", or with one item "Send “name” to…"; empty for no items.
QString shareTitle(const std::vector<std::filesystem::path>& items);

// Stands above the device tiles while items handed over from the file manager wait for a device: "Send N
// items to…" (or the one item's name) and a close button. The close button, and Escape anywhere in the
// panel, drop the items. Hidden while nothing waits; follows the model and the language by itself.
class ShareBanner : public CardFrame {
    Q_OBJECT

public:
    explicit ShareBanner(model::AppModel& model, QWidget* parent = nullptr);

private:
    void refresh();

    model::AppModel& model_;
    QLabel* title_ = nullptr;
    QToolButton* close_ = nullptr;
};

}  // namespace qb::ui
