#pragma once

#include <memory>

#include <QObject>

#include "model/ModelServices.h"

class QMenu;
class QSystemTrayIcon;

namespace qb::model {
class AppModel;
}  // namespace qb::model
namespace qb::ui {
class PanelWindow;
}
namespace qb::platform::desktop {
class DesktopNotifier;
class EventSounds;
}  // namespace qb::platform::desktop

namespace qb::app {

// Runs the tray application until it quits and returns 0. A second start with the same settings folder only
// asks the running instance to show its panel and returns at once. "--hidden" keeps the panel closed until
// it is asked for. Runs headless under QT_QPA_PLATFORM=offscreen (no tray there).
int runApplication(int argc, char** argv);

// Owns the model, the panel and the tray icon for the life of the process.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // Creates the model, which loads the settings; nothing starts before launch(). Desktop services that
    // `config` leaves unset are the real ones.
    explicit AppDelegate(bool hidden, model::ModelConfig config = {}, QObject* parent = nullptr);
    ~AppDelegate() override;

    // Starts the model, builds the panel and the tray icon, wires the model's callbacks, shows the panel
    // unless hidden.
    void launch();
    void showPanel();
    void togglePanel();

    model::AppModel& model() { return *model_; }
    ui::PanelWindow* panel() { return panel_.get(); }

private:
    void createStatusItem();
    void rebuildMenu();

    bool hidden_;
    // Declared before the model: the model's hooks use them until the model is gone.
    std::unique_ptr<platform::desktop::DesktopNotifier> notifier_;
    std::unique_ptr<platform::desktop::EventSounds> sounds_;
    std::unique_ptr<model::AppModel> model_;
    std::unique_ptr<ui::PanelWindow> panel_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
};

}  // namespace qb::app
