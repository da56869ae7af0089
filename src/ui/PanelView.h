#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "ui/ItemPicker.h"

class QLabel;
class QVBoxLayout;

namespace qb::model {
class AppModel;
}

namespace qb::ui {

class CardFrame;
class InboxRow;
class JobRow;
class PanelHeader;
class RequestCard;
class SettingsPopover;

// The whole content of the panel: the header, then one scrolling column with the waiting requests, my
// devices, the transfers and the received files. Everything shown is read from the model at each refresh; rows whose
// entries are unchanged are updated in place, so hover state and scroll position survive progress updates.
class PanelView : public QWidget {
    Q_OBJECT

public:
    // Dialogs that `dialogs` leaves unset are the real ones.
    explicit PanelView(model::AppModel& model, DialogHooks dialogs = {}, QWidget* parent = nullptr);

    // Brings every part up to date with the model at once.
    void refresh();
    // Opens the settings popover under the gear button, or closes it when it is open.
    void toggleSettings();
    SettingsPopover* settings() const;
    const DialogHooks& dialogs() const { return dialogs_; }

private:
    QWidget* makeDevicesSection(QWidget* parent);
    QWidget* makeJobsSection(QWidget* parent);
    QWidget* makeInboxSection(QWidget* parent);
    // Sets the text of `key` now and again whenever the language changes.
    template <class Widget>
    Widget* localised(Widget* widget, std::string_view key, std::string argument = {});
    void refreshRequests();
    void refreshDevices();
    void refreshJobs();
    void refreshInbox();

    model::AppModel& model_;
    DialogHooks dialogs_;
    // Coalesces bursts of model changes into one refresh per turn of the event loop.
    QTimer refreshSoon_;
    // Ages in the inbox move on even when the model does not change.
    QTimer ageTicker_;
    std::vector<std::function<void()>> retitles_;
    std::string shownLang_;
    PanelHeader* header_ = nullptr;
    QWidget* requests_ = nullptr;
    QVBoxLayout* requestList_ = nullptr;
    std::vector<RequestCard*> requestCards_;
    CardFrame* devicesEmpty_ = nullptr;
    QVBoxLayout* deviceList_ = nullptr;
    std::vector<QWidget*> deviceTiles_;
    // What the tiles show: each listed id and whether it was online, so an unchanged list keeps its tiles.
    std::vector<std::pair<std::string, bool>> shownDevices_;
    QPointer<SettingsPopover> settings_;
    QWidget* jobsSection_ = nullptr;
    QVBoxLayout* jobList_ = nullptr;
    std::vector<JobRow*> jobRows_;
    CardFrame* inboxEmpty_ = nullptr;
    QVBoxLayout* inboxList_ = nullptr;
    std::vector<InboxRow*> inboxRows_;
    QLabel* inboxMore_ = nullptr;
};

}  // namespace qb::ui
