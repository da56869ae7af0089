#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include <QFileDialog>
#include <QList>
#include <QStringList>
#include <QUrl>

class QWidget;

#include "model/Peer.h"

namespace qb::model {
class AppModel;
}  // namespace qb::model

namespace qb::ui {

// The dialogs the interface runs, filled with the real ones unless a test or a scene fills them first.
struct DialogHooks {
    // Files and folders to send, several at once; empty when cancelled.
    std::function<std::vector<std::filesystem::path>(QWidget* parent)> chooseItems;
    // A receive folder, starting in `start`; none when cancelled.
    std::function<std::optional<std::filesystem::path>(QWidget* parent, const std::filesystem::path& start)>
        chooseFolder;
    // Asks before a device is removed; `title` is its name. True removes it.
    std::function<bool(QWidget* parent, const QString& title)> confirmRemove;
};

// The hooks with every unset one replaced by the real dialog.
DialogHooks withRealDialogs(DialogHooks hooks);

// Qt's own widget-based file dialog, taught to choose files and folders together: the views allow several
// rows, and the accept button takes every selected row, folders included, where the stock dialog would
// step into a selected folder instead.
class ItemPicker : public QFileDialog {
    Q_OBJECT

public:
    ItemPicker(QWidget* parent, const QString& prompt);

    std::vector<std::filesystem::path> chosenItems() const { return chosen_; }

public Q_SLOTS:
    void accept() override;

private:
    void replaceAcceptButton(const QString& prompt);
    QStringList selectedRows() const;

    std::vector<std::filesystem::path> chosen_;
};

// The local files among dropped URLs, in their order; everything else (text, remote links) is left out.
std::vector<std::filesystem::path> droppedFiles(const QList<QUrl>& urls);

// A drop on a device: sends the dropped files as one transfer; true when there was anything to send.
bool handle(model::AppModel& model, const QList<QUrl>& urls, const model::Peer& peer);

// Lets the user choose files and folders and sends them to `peer`; a cancelled dialog sends nothing.
void pickAndSend(const model::Peer& peer, model::AppModel& model, const DialogHooks& dialogs, QWidget* parent);

}  // namespace qb::ui
