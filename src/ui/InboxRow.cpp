#include "ui/InboxRow.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "l10n/L.h"
#include "model/AppModel.h"
#include "model/Inbox.h"
#include "model/PathText.h"
#include "ui/ElidedLabel.h"
#include "ui/FileManager.h"
#include "ui/RelativeAge.h"

namespace qb::ui {

namespace {

struct InboxRowStyle {
    CardLook look{Tint::secondary, 0.07, 0.0, 1.0, 8.0};
    double hoverFillOpacity = 0.14;
    int padding = 8;
    int iconSize = 32;
    int lineSpacing = 2;
};
constexpr InboxRowStyle kStyle;

}  // namespace

QString inboxSubtitle(const model::InboxItem& item, std::chrono::system_clock::time_point now,
                      const std::string& lang) {
    QStringList parts;
    parts << (item.isDir ? text("inbox.folder") : QString::fromStdString(model::formatBytes(item.size)));
    if (!item.from.empty()) {
        parts << text("inbox.from", item.from);
    }
    parts << relativeAge(item.date, now, lang);
    return parts.join(QStringLiteral(" · "));
}

InboxRow::InboxRow(model::AppModel& model, QWidget* parent) : CardFrame(kStyle.look, parent), model_(model) {
    setToolTip(text("inbox.help"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kStyle.padding, kStyle.padding, kStyle.padding, kStyle.padding);
    row->setSpacing(kStyle.padding);
    icon_ = new QLabel(this);
    icon_->setFixedSize(kStyle.iconSize, kStyle.iconSize);
    row->addWidget(icon_);

    auto* column = new QVBoxLayout;
    column->setSpacing(kStyle.lineSpacing);
    name_ = new ElidedLabel(this);
    styleText(*name_, TextStyle::callout, Tint::primary, QFont::Medium);
    subtitle_ = new ElidedLabel(this);
    styleText(*subtitle_, TextStyle::caption2, Tint::secondary);
    column->addWidget(name_);
    column->addWidget(subtitle_);
    row->addLayout(column, 1);

    revealButton_ = symbolButton(Symbol::reveal, Tint::primary, TextStyle::body, "inbox.reveal", this, 0.8);
    connect(revealButton_, &QToolButton::clicked, this, &InboxRow::reveal);
    trashButton_ = symbolButton(Symbol::trash, Tint::primary, TextStyle::body, "inbox.trash", this, 0.8);
    connect(trashButton_, &QToolButton::clicked, this, &InboxRow::moveToTrash);
    handle_ = symbolLabel(Symbol::dragHandle, Tint::secondary, TextStyle::body, this);
    row->addWidget(revealButton_);
    row->addWidget(trashButton_);
    row->addWidget(handle_);
    setHover(false);
}

void InboxRow::setItem(const model::InboxItem& item, std::chrono::system_clock::time_point now) {
    // The icon lookup reads the file, so it runs only when the row shows a new path.
    if (item.url != item_.url || name_->text().isEmpty()) {
        const QFileInfo file(model::toQString(item.url));
        icon_->setPixmap(QFileIconProvider().icon(file).pixmap(kStyle.iconSize, kStyle.iconSize));
        name_->setText(file.fileName());
    }
    item_ = item;
    subtitle_->setText(inboxSubtitle(item, now, l10n::L::lang()));
}

void InboxRow::setHover(bool hover) {
    CardLook look = kStyle.look;
    look.fillOpacity = hover ? kStyle.hoverFillOpacity : kStyle.look.fillOpacity;
    setLook(look);
    revealButton_->setVisible(hover);
    trashButton_->setVisible(hover);
    handle_->setVisible(!hover);
}

void InboxRow::enterEvent(QEnterEvent*) {
    setHover(true);
}

void InboxRow::leaveEvent(QEvent*) {
    setHover(false);
}

void InboxRow::mouseDoubleClickEvent(QMouseEvent*) {
    openWithDefaultApp(item_.url);
}

void InboxRow::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    pressPosition_ = event->position().toPoint();
}

void InboxRow::mouseMoveEvent(QMouseEvent* event) {
    const bool farEnough =
        (event->position().toPoint() - pressPosition_).manhattanLength() >= QApplication::startDragDistance();
    if (pressed_ && (event->buttons() & Qt::LeftButton) && farEnough) {
        pressed_ = false;
        dragOut();
    }
}

void InboxRow::dragOut() {
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls({QUrl::fromLocalFile(model::toQString(item_.url))});
    auto* drag = new QDrag(this);
    drag->setMimeData(mime.release());
    drag->setPixmap(icon_->pixmap());
    drag->exec(Qt::CopyAction);
}

void InboxRow::contextMenuEvent(QContextMenuEvent* event) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const std::filesystem::path folder = item_.url.parent_path();
    menu->addAction(text("inbox.openFolder"), this, [folder] { openWithDefaultApp(folder); });
    menu->addAction(text("inbox.reveal"), this, &InboxRow::reveal);
    menu->addSeparator();
    menu->addAction(text("inbox.trash"), this, &InboxRow::moveToTrash);
    menu->popup(event->globalPos());
}

void InboxRow::reveal() {
    revealInFileManager(item_.url, this);
}

void InboxRow::moveToTrash() {
    model_.trash(item_);
}

}  // namespace qb::ui
