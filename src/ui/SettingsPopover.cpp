#include "ui/SettingsPopover.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include "l10n/L.h"
#include "model/AppModel.h"
#include "model/PathText.h"
#include "ui/ElidedLabel.h"
#include "ui/ItemPicker.h"
#include "ui/Look.h"

namespace qb::ui {

namespace {

struct SettingsStyle {
    int width = 320;
    int padding = 16;
    int groupSpacing = 10;
    int captionSpacing = 4;
    int linkSpacing = 8;
    int screenMargin = 8;
    std::size_t shortKeyLength = 8;
    const char* serviceType = "_quobblefin._tcp";
};
const SettingsStyle kStyle;

struct MakerLinks {
    const char* powered = "https://kestrun.com/";
    const char* privacy = "https://kestrun.com/privacy";
    const char* desktop = "https://kestrun.com/quobblefin/download";
    const char* desktopThai = "https://kestrun.com/th/quobblefin/download";
};
constexpr MakerLinks kLinks;

QLabel* caption(std::string_view key, QWidget* parent) {
    auto* label = new QLabel(text(key), parent);
    label->setWordWrap(true);
    styleText(*label, TextStyle::caption, Tint::secondary);
    return label;
}

QLabel* note(const QString& content, QWidget* parent) {
    auto* label = new QLabel(content, parent);
    label->setWordWrap(true);
    styleText(*label, TextStyle::caption2, Tint::secondary);
    return label;
}

// A quiet link in the accent colour, so the footer reads as one line of small print.
QString link(const char* address, std::string_view key, const QColor& colour) {
    return QStringLiteral("<a style=\"color:%1; text-decoration:none\" href=\"%2\">%3</a>")
        .arg(colour.name(), QString::fromLatin1(address), text(key).toHtmlEscaped());
}

}  // namespace

QString homeRelative(const std::filesystem::path& folder, const std::filesystem::path& home) {
    const QString shown = model::toQString(folder);
    const QString prefix = model::toQString(home);
    if (prefix.isEmpty() || prefix == QStringLiteral("/")) {
        return shown;
    }
    if (shown == prefix) {
        return QStringLiteral("~");
    }
    if (shown.startsWith(prefix + QLatin1Char('/'))) {
        return QStringLiteral("~") + shown.mid(prefix.size());
    }
    return shown;
}

SettingsPopover::SettingsPopover(model::AppModel& model, const DialogHooks& dialogs, QWidget* parent)
    : QFrame(parent, Qt::Popup), model_(model), dialogs_(dialogs) {
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(kStyle.width);
    auto* layout =
        column(this, kStyle.groupSpacing, QMargins(kStyle.padding, kStyle.padding, kStyle.padding, kStyle.padding));
    auto* title = new QLabel(text("settings.title"), this);
    styleText(*title, TextStyle::headline, Tint::primary);
    layout->addWidget(title);

    const auto group = [&](std::string_view key, QWidget* content) {
        auto* box = new QVBoxLayout;
        box->setSpacing(kStyle.captionSpacing);
        box->addWidget(caption(key, this));
        box->addWidget(content);
        layout->addLayout(box);
        return box;
    };
    group("settings.name", makeNameRow());
    group("settings.folder", makeFolderRow());
    auto* receive = group("settings.receive", makeReceiveModes());
    receive->addWidget(note(text("settings.receiveHint"), this));
    const std::string shortKey = model_.ownKey().substr(0, kStyle.shortKeyLength);
    receive->addWidget(note(text("settings.key", shortKey), this));

    sound_ = new QCheckBox(text("settings.sound"), this);
    sound_->setObjectName(QStringLiteral("sound"));
    sound_->setChecked(model_.playSound());
    connect(sound_, &QCheckBox::toggled, this, [this](bool on) { model_.setPlaySound(on); });
    layout->addWidget(sound_);
    layout->addWidget(makeLanguagePicker());

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);
    footer_ = note(QString(), this);
    footer_->setObjectName(QStringLiteral("footer"));
    layout->addWidget(footer_);
    layout->addWidget(makeLinks());

    connect(&model_, &model::AppModel::changed, this, &SettingsPopover::refresh);
    refresh();
}

QWidget* SettingsPopover::makeNameRow() {
    auto* box = new QWidget(this);
    auto* line = row(box, kStyle.linkSpacing);
    name_ = new QLineEdit(QString::fromStdString(model_.deviceName()), box);
    name_->setObjectName(QStringLiteral("name"));
    name_->setPlaceholderText(text("settings.namePlaceholder"));
    name_->setClearButtonEnabled(true);
    auto* apply = new QPushButton(text("settings.apply"), box);
    apply->setObjectName(QStringLiteral("apply"));
    const auto applyName = [this] { model_.applyDeviceName(name_->text().toStdString()); };
    connect(name_, &QLineEdit::returnPressed, this, applyName);
    connect(apply, &QPushButton::clicked, this, applyName);
    line->addWidget(name_, 1);
    line->addWidget(apply);
    return box;
}

QWidget* SettingsPopover::makeFolderRow() {
    auto* box = new QWidget(this);
    auto* line = row(box, kStyle.linkSpacing);
    folder_ = new ElidedLabel(box);
    folder_->setObjectName(QStringLiteral("folder"));
    folder_->setFont(textFont(TextStyle::caption));
    auto* choose = new QPushButton(text("settings.choose"), box);
    choose->setObjectName(QStringLiteral("chooseFolder"));
    connect(choose, &QPushButton::clicked, this, &SettingsPopover::chooseFolder);
    line->addWidget(folder_, 1);
    line->addWidget(choose);
    return box;
}

QWidget* SettingsPopover::makeReceiveModes() {
    // A segmented control: three joined, exclusive buttons of equal width.
    auto* box = new QWidget(this);
    box->setObjectName(QStringLiteral("receiveModes"));
    auto* line = row(box, 0);
    modes_ = new QButtonGroup(box);
    int index = 0;
    for (model::ReceiveMode mode : model::allReceiveModes) {
        auto* segment = new QToolButton(box);
        segment->setText(text(model::labelKey(mode)));
        segment->setCheckable(true);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        segment->setFont(textFont(TextStyle::caption));
        modes_->addButton(segment, index++);
        line->addWidget(segment, 1);
    }
    connect(modes_, &QButtonGroup::idClicked, this,
            [this](int id) { model_.setReceiveMode(model::allReceiveModes.at(static_cast<std::size_t>(id))); });
    return box;
}

QWidget* SettingsPopover::makeLanguagePicker() {
    auto* box = new QWidget(this);
    auto* line = row(box, kStyle.linkSpacing);
    auto* label = new QLabel(text("settings.language"), box);
    language_ = new QComboBox(box);
    language_->setObjectName(QStringLiteral("language"));
    for (const l10n::Language& language : l10n::languages()) {
        language_->addItem(
            QString::fromUtf8(language.displayName.data(), static_cast<qsizetype>(language.displayName.size())),
            QString::fromLatin1(language.code.data(), static_cast<qsizetype>(language.code.size())));
    }
    language_->setCurrentIndex(language_->findData(QString::fromStdString(model_.lang())));
    connect(language_, &QComboBox::activated, this,
            [this](int index) { model_.setLang(language_->itemData(index).toString().toStdString()); });
    line->addWidget(label);
    line->addStretch(1);
    line->addWidget(language_);
    return box;
}

QLabel* SettingsPopover::makeLinks() {
    const QString separator = QStringLiteral(" · ");
    const bool thai = l10n::L::lang() == "th";
    const QColor accent = tintColor(palette(), Tint::accent);
    const QString line = text("settings.version", QB_VERSION, QB_BUILD_NUMBER).toHtmlEscaped() + separator +
                         link(kLinks.powered, "settings.powered", accent) + separator +
                         link(kLinks.privacy, "settings.privacy", accent) + separator +
                         link(thai ? kLinks.desktopThai : kLinks.desktop, "settings.desktop", accent);
    auto* links = note(line, this);
    links->setTextFormat(Qt::RichText);
    links->setOpenExternalLinks(true);
    return links;
}

void SettingsPopover::refresh() {
    folder_->setText(homeRelative(model_.saveDir(), model::toPath(QDir::homePath())));
    folder_->setToolTip(model::toQString(model_.saveDir()));
    const auto mode = static_cast<int>(model_.receiveMode());
    for (QAbstractButton* segment : modes_->buttons()) {
        const bool chosen = modes_->id(segment) == mode;
        segment->setChecked(chosen);
        // The chosen segment is filled with the accent colour, as a segmented control shows its choice.
        QPalette colours = palette();
        if (chosen) {
            colours.setColor(QPalette::Button, colours.color(QPalette::Highlight));
            colours.setColor(QPalette::ButtonText, colours.color(QPalette::HighlightedText));
        }
        segment->setPalette(colours);
    }
    sound_->setChecked(model_.playSound());
    footer_->setText(text("settings.footer", std::to_string(model_.port()), kStyle.serviceType));
}

void SettingsPopover::chooseFolder() {
    // The chooser is a window of its own; a popup would close under it and leave it without a parent.
    model::AppModel& model = model_;
    const DialogHooks& dialogs = dialogs_;
    QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
    const std::filesystem::path start = model.saveDir();
    close();
    if (const auto chosen = dialogs.chooseFolder(owner, start)) {
        model.setSaveDir(*chosen);
    }
}

void SettingsPopover::showBelow(const QWidget& anchor) {
    // Wrapped notes need their height for the fixed width, which adjustSize() does not ask for.
    resize(width(), layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width()) : sizeHint().height());
    const QPoint corner = anchor.mapToGlobal(QPoint(anchor.width(), anchor.height()));
    QRect frame(QPoint(corner.x() - width(), corner.y()), size());
    if (const QScreen* screen = anchor.screen(); screen != nullptr) {
        const QRect area = screen->availableGeometry().adjusted(kStyle.screenMargin, kStyle.screenMargin,
                                                                -kStyle.screenMargin, -kStyle.screenMargin);
        frame.moveLeft(std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() - frame.width())));
        frame.moveTop(std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() - frame.height())));
    }
    move(frame.topLeft());
    show();
}

}  // namespace qb::ui
