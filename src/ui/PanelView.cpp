#include "ui/PanelView.h"

#include <algorithm>
#include <chrono>

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include "l10n/L.h"
#include "model/AppModel.h"
#include "model/Inbox.h"
#include "ui/DevicesWindow.h"
#include "ui/FileManager.h"
#include "ui/InboxRow.h"
#include "ui/JobRow.h"
#include "ui/OfflinePeerTile.h"
#include "ui/PanelHeader.h"
#include "ui/PeerTile.h"
#include "ui/RequestCard.h"
#include "ui/SettingsPopover.h"
#include "ui/ShareBanner.h"

namespace qb::ui {

namespace {

struct PanelViewStyle {
    int padding = 14;
    int sectionSpacing = 14;
    int jobSpacing = 6;
    int inboxSpacing = 8;
    int deviceSpacing = 8;
    int placeholderPadding = 12;
    CardLook placeholder{Tint::secondary, 0.08, 0.0, 1.0, 10.0};
    std::chrono::seconds ageTick{30};
};
const PanelViewStyle kStyle;

// A rounded, faintly filled box with one line of secondary text: what a list shows while it is empty.
CardFrame* placeholder(QWidget* parent, QLabel*& textLabel) {
    auto* box = new CardFrame(kStyle.placeholder, parent);
    const int pad = kStyle.placeholderPadding;
    auto* layout = column(box, 0, QMargins(pad, pad, pad, pad));
    textLabel = new QLabel(box);
    textLabel->setWordWrap(true);
    styleText(*textLabel, TextStyle::caption, Tint::secondary);
    layout->addWidget(textLabel);
    return box;
}

template <class Row>
void discard(std::vector<Row*>& rows) {
    for (Row* row : rows) {
        row->hide();
        row->deleteLater();
    }
    rows.clear();
}

// Keeps one row per entry, in the entries' order. When the entries are the same ones as before, each row
// is only updated; otherwise the rows are made anew.
template <class Row, class Entry, class SameEntry, class MakeRow, class UpdateRow>
void syncRows(QVBoxLayout& layout, std::vector<Row*>& rows, const std::vector<Entry>& entries, SameEntry same,
              MakeRow make, UpdateRow update) {
    const bool unchanged = rows.size() == entries.size() && std::equal(rows.begin(), rows.end(), entries.begin(), same);
    if (!unchanged) {
        discard(rows);
        for (const Entry& entry : entries) {
            rows.push_back(make(entry));
            layout.addWidget(rows.back());
            // Shown now rather than by the layout's queued show, so the row is there within this turn.
            rows.back()->show();
        }
    }
    for (std::size_t index = 0; index < rows.size(); ++index) {
        update(*rows[index], entries[index]);
    }
}

}  // namespace

PanelView::PanelView(model::AppModel& model, DialogHooks dialogs, QWidget* parent)
    : QWidget(parent), model_(model), dialogs_(withRealDialogs(std::move(dialogs))) {
    auto* layout = column(this, 0);
    header_ = new PanelHeader(this);
    layout->addWidget(header_);
    connect(header_->settingsButton(), &QToolButton::clicked, this, &PanelView::toggleSettings);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    auto* sections = column(content, kStyle.sectionSpacing);
    sections->setContentsMargins(kStyle.padding, kStyle.padding, kStyle.padding, kStyle.padding);
    // Items handed over from the file manager are offered first, until sent or dropped.
    sections->addWidget(new ShareBanner(model_, content));
    requests_ = new QWidget(content);
    requestList_ = column(requests_, kStyle.sectionSpacing);
    sections->addWidget(requests_);
    sections->addWidget(makeDevicesSection(content));
    sections->addWidget(makeJobsSection(content));
    sections->addWidget(makeInboxSection(content));
    sections->addStretch(1);
    scroll->setWidget(content);
    layout->addWidget(scroll, 1);

    refreshSoon_.setSingleShot(true);
    refreshSoon_.setInterval(0);
    connect(&refreshSoon_, &QTimer::timeout, this, &PanelView::refresh);
    connect(&model_, &model::AppModel::changed, this, [this] { refreshSoon_.start(); });
    ageTicker_.setInterval(kStyle.ageTick);
    connect(&ageTicker_, &QTimer::timeout, this, &PanelView::refreshInbox);
    ageTicker_.start();
    refresh();
}

QWidget* PanelView::makeDevicesSection(QWidget* parent) {
    auto* section = new QWidget(parent);
    auto* layout = column(section, kStyle.deviceSpacing);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(0);
    localised(addSectionTitle(*titleRow, Symbol::devices, section), "peers.mine");
    titleRow->addStretch(1);
    auto* add = localised(new QToolButton(section), "peer.addDevice");
    add->setObjectName(QStringLiteral("addDevice"));
    add->setAutoRaise(true);
    add->setCursor(Qt::PointingHandCursor);
    add->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    styleText(*add, TextStyle::caption, Tint::accent, QFont::DemiBold);
    const int iconSize = symbolSize(TextStyle::caption);
    add->setIconSize(QSize(iconSize, iconSize));
    add->setIcon(QIcon(tintedSymbol(Symbol::add, tintColor(palette(), Tint::accent), iconSize, devicePixelRatioF())));
    connect(add, &QToolButton::clicked, this, [this] { DevicesWindow::present(model_, window()); });
    titleRow->addWidget(add);
    layout->addLayout(titleRow);

    QLabel* emptyText = nullptr;
    devicesEmpty_ = placeholder(section, emptyText);
    emptyText->setObjectName(QStringLiteral("devicesEmpty"));
    localised(emptyText, "peers.empty");
    layout->addWidget(devicesEmpty_);
    auto* tiles = new QWidget(section);
    deviceList_ = column(tiles, kStyle.deviceSpacing);
    layout->addWidget(tiles);
    return section;
}

QWidget* PanelView::makeJobsSection(QWidget* parent) {
    jobsSection_ = new QWidget(parent);
    jobsSection_->setObjectName(QStringLiteral("jobsSection"));
    auto* layout = column(jobsSection_, kStyle.jobSpacing);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(0);
    localised(addSectionTitle(*titleRow, Symbol::transfers, jobsSection_), "jobs.title");
    titleRow->addStretch(1);
    layout->addLayout(titleRow);
    auto* rows = new QWidget(jobsSection_);
    jobList_ = column(rows, kStyle.jobSpacing);
    layout->addWidget(rows);
    return jobsSection_;
}

QWidget* PanelView::makeInboxSection(QWidget* parent) {
    auto* section = new QWidget(parent);
    auto* layout = column(section, kStyle.inboxSpacing);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(0);
    localised(addSectionTitle(*titleRow, Symbol::inbox, section), "inbox.title");
    titleRow->addStretch(1);
    auto* openFolder = localised(new QPushButton(section), "inbox.openFolder");
    openFolder->setFlat(true);
    openFolder->setCursor(Qt::PointingHandCursor);
    styleText(*openFolder, TextStyle::caption, Tint::accent);
    connect(openFolder, &QPushButton::clicked, this, [this] { openWithDefaultApp(model_.saveDir()); });
    titleRow->addWidget(openFolder);
    layout->addLayout(titleRow);

    QLabel* emptyText = nullptr;
    inboxEmpty_ = placeholder(section, emptyText);
    emptyText->setObjectName(QStringLiteral("inboxEmpty"));
    localised(emptyText, "inbox.empty");
    layout->addWidget(inboxEmpty_);

    auto* rows = new QWidget(section);
    inboxList_ = column(rows, kStyle.inboxSpacing);
    layout->addWidget(rows);
    inboxMore_ = localised(new QLabel(section), "inbox.more", std::to_string(model::kInboxLimit));
    inboxMore_->setObjectName(QStringLiteral("inboxMore"));
    inboxMore_->setWordWrap(true);
    styleText(*inboxMore_, TextStyle::caption2, Tint::secondary);
    layout->addWidget(inboxMore_);
    return section;
}

template <class Widget>
Widget* PanelView::localised(Widget* widget, std::string_view key, std::string argument) {
    auto retitle = [widget, key, argument] { widget->setText(argument.empty() ? text(key) : text(key, argument)); };
    retitle();
    retitles_.push_back(retitle);
    return widget;
}

void PanelView::refresh() {
    if (l10n::L::lang() != shownLang_) {
        // Rows build their texts once, so a new language rebuilds them all.
        shownLang_ = l10n::L::lang();
        for (const auto& retitle : retitles_) {
            retitle();
        }
        discard(requestCards_);
        discard(deviceTiles_);
        shownDevices_.clear();
        discard(jobRows_);
        discard(inboxRows_);
        // An open settings popup is built in one language; it comes back in the new one.
        if (settings_ && settings_->isVisible()) {
            settings_->close();
            toggleSettings();
        }
    }
    header_->refresh(model_);
    refreshRequests();
    refreshDevices();
    refreshJobs();
    refreshInbox();
}

void PanelView::refreshRequests() {
    // An empty list would still take a gap in the column.
    requests_->setVisible(!model_.requests().empty());
    syncRows(
        *requestList_, requestCards_, model_.requests(),
        [](const RequestCard* card, const model::IncomingRequest& request) { return card->requestId() == request.id; },
        [this](const model::IncomingRequest& request) { return new RequestCard(request, model_, this); },
        [](RequestCard&, const model::IncomingRequest&) {});
}

void PanelView::refreshDevices() {
    std::vector<std::pair<std::string, bool>> listed;
    std::vector<std::optional<model::Peer>> reachable;
    for (const std::string& id : model_.listedDevices()) {
        auto peer = model_.onlinePeer(id);
        listed.emplace_back(id, peer.has_value());
        reachable.push_back(std::move(peer));
    }
    devicesEmpty_->setVisible(listed.empty());
    if (listed != shownDevices_) {
        discard(deviceTiles_);
        for (const auto& [id, online] : listed) {
            QWidget* tile = online ? static_cast<QWidget*>(new PeerTile(id, model_, dialogs_, this))
                                   : new OfflinePeerTile(id, model_, dialogs_, this);
            deviceList_->addWidget(tile);
            tile->show();
            deviceTiles_.push_back(tile);
        }
        shownDevices_ = std::move(listed);
    }
    for (std::size_t index = 0; index < deviceTiles_.size(); ++index) {
        if (auto* tile = qobject_cast<PeerTile*>(deviceTiles_[index]); tile != nullptr && reachable[index]) {
            tile->setPeer(*reachable[index]);
        }
    }
}

SettingsPopover* PanelView::settings() const {
    return settings_;
}

void PanelView::toggleSettings() {
    if (settings_ && settings_->isVisible()) {
        settings_->close();
        return;
    }
    // Built afresh each time, so the name field starts from the current name.
    settings_ = new SettingsPopover(model_, dialogs_, this);
    settings_->showBelow(*header_->settingsButton());
}

void PanelView::refreshJobs() {
    jobsSection_->setVisible(!model_.jobs().empty());
    // Job rows show no per-row state, so any same-length list can be updated in place.
    syncRows(
        *jobList_, jobRows_, model_.jobs(), [](const JobRow*, const model::TransferJob&) { return true; },
        [this](const model::TransferJob&) { return new JobRow(model_, this); },
        [](JobRow& row, const model::TransferJob& job) { row.setJob(job); });
}

void PanelView::refreshInbox() {
    const auto& inbox = model_.inbox();
    const auto now = std::chrono::system_clock::now();
    inboxEmpty_->setVisible(inbox.empty());
    inboxMore_->setVisible(inbox.size() >= model::kInboxLimit);
    syncRows(
        *inboxList_, inboxRows_, inbox,
        [](const InboxRow* row, const model::InboxItem& item) { return row->item().url == item.url; },
        [this](const model::InboxItem&) { return new InboxRow(model_, this); },
        [now](InboxRow& row, const model::InboxItem& item) { row.setItem(item, now); });
}

}  // namespace qb::ui
