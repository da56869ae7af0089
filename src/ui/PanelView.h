#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <QTimer>
#include <QWidget>

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

// The whole content of the panel: the header, then one scrolling column with the waiting requests, the
// transfers and the received files. Everything shown is read from the model at each refresh; rows whose
// entries are unchanged are updated in place, so hover state and scroll position survive progress updates.
class PanelView : public QWidget {
    Q_OBJECT

public:
    explicit PanelView(model::AppModel& model, QWidget* parent = nullptr);

    // Brings every part up to date with the model at once.
    void refresh();

private:
    QWidget* makeJobsSection(QWidget* parent);
    QWidget* makeInboxSection(QWidget* parent);
    // Sets the text of `key` now and again whenever the language changes.
    template <class Widget>
    Widget* localised(Widget* widget, std::string_view key, std::string argument = {});
    void refreshRequests();
    void refreshJobs();
    void refreshInbox();

    model::AppModel& model_;
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
    QWidget* jobsSection_ = nullptr;
    QVBoxLayout* jobList_ = nullptr;
    std::vector<JobRow*> jobRows_;
    CardFrame* inboxEmpty_ = nullptr;
    QVBoxLayout* inboxList_ = nullptr;
    std::vector<InboxRow*> inboxRows_;
    QLabel* inboxMore_ = nullptr;
};

}  // namespace qb::ui
