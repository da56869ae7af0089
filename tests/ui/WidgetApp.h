#pragma once

#include <memory>

#include <QApplication>
#include <QByteArray>

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

}  // namespace qb::test
