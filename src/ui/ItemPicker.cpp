#include "ui/ItemPicker.h"

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPushButton>

#include "model/AppModel.h"
#include "model/PathText.h"
#include "ui/Look.h"

namespace qb::ui {

namespace {

std::vector<std::filesystem::path> runItemPicker(QWidget* parent) {
    ItemPicker picker(parent, text("peer.hint"));
    if (picker.exec() != QDialog::Accepted) {
        return {};
    }
    return picker.chosenItems();
}

std::optional<std::filesystem::path> runFolderChooser(QWidget* parent, const std::filesystem::path& start) {
    QFileDialog chooser(parent);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    chooser.setDirectory(model::toQString(start));
    chooser.setLabelText(QFileDialog::Accept, text("settings.useFolder"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return model::toPath(chooser.selectedFiles().front());
}

bool askToRemove(QWidget* parent, const QString& title) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quobblefin"), title, QMessageBox::NoButton, parent);
    QPushButton* remove = box.addButton(text("peer.remove"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(text("pick.cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.exec();
    return box.clickedButton() == remove;
}

}  // namespace

DialogHooks withRealDialogs(DialogHooks hooks) {
    if (!hooks.chooseItems) {
        hooks.chooseItems = runItemPicker;
    }
    if (!hooks.chooseFolder) {
        hooks.chooseFolder = runFolderChooser;
    }
    if (!hooks.confirmRemove) {
        hooks.confirmRemove = askToRemove;
    }
    return hooks;
}

ItemPicker::ItemPicker(QWidget* parent, const QString& prompt) : QFileDialog(parent) {
    // The platform's native dialog cannot be extended; Qt's widget dialog can.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFiles);
    setLabelText(QFileDialog::Accept, prompt);
    for (auto* view : findChildren<QAbstractItemView*>()) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    replaceAcceptButton(prompt);
}

void ItemPicker::replaceAcceptButton(const QString& prompt) {
    // The stock button says "Open" and steps into a selected folder, and turns itself off for a folder and a
    // file chosen together. Ours keeps the prompt and takes whatever is selected; the stock one leaves the
    // button box but stays a hidden child of the dialog, which still updates it.
    auto* box = findChild<QDialogButtonBox*>();
    QPushButton* stock = box != nullptr ? box->button(QDialogButtonBox::Open) : nullptr;
    if (stock == nullptr) {
        return;
    }
    box->removeButton(stock);
    stock->setParent(this);
    stock->hide();
    box->addButton(prompt, QDialogButtonBox::AcceptRole)->setDefault(true);
}

QStringList ItemPicker::selectedRows() const {
    QStringList paths;
    // The dialog's list and detail views share one selection; the one on show names every chosen row. Other
    // views of the dialog (the places sidebar, the completer) hold no files.
    for (const char* name : {"listView", "treeView"}) {
        const auto* view = findChild<QAbstractItemView*>(QLatin1String(name));
        if (view == nullptr || !view->isVisible() || view->selectionModel() == nullptr) {
            continue;
        }
        for (const QModelIndex& index : view->selectionModel()->selectedIndexes()) {
            const QString path = index.data(QFileSystemModel::FilePathRole).toString();
            if (index.column() == 0 && !path.isEmpty()) {
                paths << path;
            }
        }
        break;
    }
    return paths;
}

void ItemPicker::accept() {
    const QStringList rows = selectedRows();
    if (rows.isEmpty()) {
        // A typed name, or nothing selected: the stock behaviour.
        QFileDialog::accept();
        chosen_.clear();
        for (const QString& file : selectedFiles()) {
            chosen_.push_back(model::toPath(file));
        }
        return;
    }
    chosen_.clear();
    for (const QString& path : rows) {
        chosen_.push_back(model::toPath(path));
    }
    QDialog::accept();
}

std::vector<std::filesystem::path> droppedFiles(const QList<QUrl>& urls) {
    std::vector<std::filesystem::path> files;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
            files.push_back(model::toPath(url.toLocalFile()));
        }
    }
    return files;
}

bool handle(model::AppModel& model, const QList<QUrl>& urls, const model::Peer& peer) {
    const auto files = droppedFiles(urls);
    if (files.empty()) {
        return false;
    }
    model.send(files, peer);
    return true;
}

void pickAndSend(const model::Peer& peer, model::AppModel& model, const DialogHooks& dialogs, QWidget* parent) {
    const auto items = dialogs.chooseItems(parent);
    if (!items.empty()) {
        model.send(items, peer);
    }
}

}  // namespace qb::ui
