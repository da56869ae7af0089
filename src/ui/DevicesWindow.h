#pragma once

#include <vector>

#include <QDialog>
#include <QTimer>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

class AddressForm;

// My devices with their state, the devices found nearby to add, and adding one by its address. One window at a
// time, modal over the panel; "Done" (or Return) closes it.
class DevicesWindow : public QDialog {
    Q_OBJECT

public:
    // Shows the window over `parent`'s window unless one is open already; without a parent it does nothing.
    static void present(model::AppModel& model, QWidget* parent);
    // The window now shown, if any.
    static DevicesWindow* current();
    AddressForm& addressForm() const { return *addressForm_; }

    DevicesWindow(model::AppModel& model, QWidget* parent);

    void refresh();

private:
    QWidget* makeMyDeviceRow(const std::string& id);

    model::AppModel& model_;
    QTimer refreshSoon_;
    QLabel* title_ = nullptr;
    QPushButton* done_ = nullptr;
    QLabel* mineHeading_ = nullptr;
    QLabel* nearbyHeading_ = nullptr;
    QVBoxLayout* mine_ = nullptr;
    QVBoxLayout* nearby_ = nullptr;
    AddressForm* addressForm_ = nullptr;
    std::vector<QWidget*> rows_;
};

}  // namespace qb::ui
