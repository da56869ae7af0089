#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include <QObject>

#include "model/ModelServices.h"
#include "ui/ItemPicker.h"

class QMenu;
class QSystemTrayIcon;
class QTranslator;

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

struct LaunchOptions {
    // "--hidden": the panel stays closed until it is asked for.
    bool hidden = false;
    // Whether the desktop shows tray icons; unset asks the desktop.
    std::optional<bool> trayAvailable;
};

// Owns the model, the panel and the tray icon for the life of the process.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // Creates the model, which loads the settings; nothing starts before launch(). Desktop services and
    // dialogs left unset are the real ones.
    explicit AppDelegate(LaunchOptions launch, model::ModelConfig config = {}, ui::DialogHooks dialogs = {},
                         QObject* parent = nullptr);
    ~AppDelegate() override;

    // Starts the model, builds the panel and the tray icon, wires the model's callbacks, shows the panel
    // unless hidden. Without a system tray the panel is the only way in, so it is shown even when hidden.
    void launch();
    void showPanel();
    void togglePanel();
    void openFolder();
    void setLang(const QString& code);

    model::AppModel& model() { return *model_; }
    ui::PanelWindow* panel() { return panel_.get(); }
    // The tray menu, built also where no tray shows it.
    QMenu* menu() { return menu_.get(); }

private:
    void createStatusItem();
    void rebuildMenu();
    // Qt's own texts (the file dialog's buttons and labels) in the model's language, where installed.
    void loadQtTexts();

    LaunchOptions launch_;
    ui::DialogHooks dialogs_;
    // Declared before the model: the model's hooks use them until the model is gone.
    std::unique_ptr<platform::desktop::DesktopNotifier> notifier_;
    std::unique_ptr<platform::desktop::EventSounds> sounds_;
    std::unique_ptr<model::AppModel> model_;
    std::unique_ptr<ui::PanelWindow> panel_;
    std::unique_ptr<QTranslator> qtTexts_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
};

}  // namespace qb::app
