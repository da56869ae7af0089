#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include <QApplication>
#include <QByteArray>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

namespace qb::test {

// One widget application for the test process, on the offscreen platform whoever runs the test. It ends
// when the tests end, before static destruction: Qt's own globals (icon and font caches) are gone by then,
// and an application ending after them crashes on its way out.
class WidgetAppEnvironment : public ::testing::Environment {
public:
    static QApplication& app() {
        if (!instance().app_) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            instance().app_ = std::make_unique<QApplication>(argc_, argv_);
        }
        return *instance().app_;
    }

    void TearDown() override { app_.reset(); }

private:
    static WidgetAppEnvironment& instance() {
        // gtest owns the environment and deletes it after TearDown.
        static WidgetAppEnvironment* const registered =
            static_cast<WidgetAppEnvironment*>(::testing::AddGlobalTestEnvironment(new WidgetAppEnvironment));
        return *registered;
    }

    static inline int argc_ = 1;
    static inline char name_[] = "widget_tests";
    static inline char* argv_[] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

inline QApplication& widgetApp() {
    return WidgetAppEnvironment::app();
}

// Lets coalesced refreshes run and replaced widgets go.
inline void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The children of type `Widget` that show within `within`, top to bottom.
template <class Widget>
std::vector<Widget*> shown(const QWidget& within) {
    std::vector<Widget*> found;
    for (Widget* widget : within.findChildren<Widget*>()) {
        if (widget->isVisibleTo(&within)) {
            found.push_back(widget);
        }
    }
    std::stable_sort(found.begin(), found.end(), [&](Widget* a, Widget* b) {
        return a->mapTo(&within, QPoint()).y() < b->mapTo(&within, QPoint()).y();
    });
    return found;
}

// Sends a whole drag over `target`: enter, then drop when it was accepted. True when the drop was taken.
inline bool dropOn(QWidget& target, const QList<QUrl>& urls, const QString& snippet = {}) {
    QMimeData data;
    data.setUrls(urls);
    if (!snippet.isEmpty()) {
        data.setText(snippet);
    }
    const QPoint middle = target.rect().center();
    QDragEnterEvent enter(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(QPointF(middle), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
    return drop.isAccepted();
}

}  // namespace qb::test
