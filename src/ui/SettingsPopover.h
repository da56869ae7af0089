#pragma once

#include <filesystem>

#include <QFrame>
#include <QString>

class QButtonGroup;
class QComboBox;
class QCheckBox;
class QLabel;
class QLineEdit;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

class ElidedLabel;
struct DialogHooks;

// `folder` with the home folder at its start written as "~".
QString homeRelative(const std::filesystem::path& folder, const std::filesystem::path& home);

// The settings, in a popup anchored to the gear button: this device's name, the receive folder, who may
// send, the arrival sound, the language, and what this device advertises. Built afresh at each opening.
class SettingsPopover : public QFrame {
    Q_OBJECT

public:
    SettingsPopover(model::AppModel& model, const DialogHooks& dialogs, QWidget* parent);

    // Shows the popup under `anchor`, its right edge on the anchor's, kept on the anchor's screen.
    void showBelow(const QWidget& anchor);
    // Reads the model again (the footer's port, the folder, the mode) without touching the name being typed.
    void refresh();

private:
    QWidget* makeNameRow();
    QWidget* makeFolderRow();
    QWidget* makeReceiveModes();
    QWidget* makeLanguagePicker();
    QLabel* makeLinks();
    void chooseFolder();

    model::AppModel& model_;
    const DialogHooks& dialogs_;
    QLineEdit* name_ = nullptr;
    ElidedLabel* folder_ = nullptr;
    QButtonGroup* modes_ = nullptr;
    QCheckBox* sound_ = nullptr;
    QComboBox* language_ = nullptr;
    QLabel* footer_ = nullptr;
};

}  // namespace qb::ui
