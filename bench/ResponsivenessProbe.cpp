// A receiving instance as the application builds it (delegate, model, panel shown offscreen), with a 10 ms
// timer beside it on the main thread. It prints "port N", takes one transfer, and prints how late the timer
// fired at worst while the transfer ran, and when: "lateness <ms> ticks <n> worst <ms> ms after the start, arrival
// <ms> ms after" (the arrival's own work counts too). The environment chooses settings, key store,
// receive folder and automatic acceptance, as for the application itself.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "app/Application.h"
#include "model/AppModel.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    qb::app::AppDelegate delegate(qb::app::LaunchOptions{.hidden = false, .trayAvailable = std::nullopt});
    delegate.launch();

    constexpr int kPeriodMs = 10;
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 worstLateMs = 0;
    qint64 worstAtMs = 0;
    long ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        const qint64 now = clock.elapsed();
        if (now - lastTick - kPeriodMs > worstLateMs) {
            worstLateMs = now - lastTick - kPeriodMs;
            worstAtMs = now;
        }
        lastTick = now;
        ++ticks;
    });
    auto& model = delegate.model();
    bool announced = false;
    QObject::connect(&model, &qb::model::AppModel::changed, &ticker, [&] {
        if (!announced && model.port() != 0) {
            announced = true;
            std::printf("port %u\n", static_cast<unsigned>(model.port()));
            std::fflush(stdout);
            clock.start();
            ticker.start(kPeriodMs);
        }
    });
    model.setOnReceived([&](const qb::model::InboxItem&) {
        const qint64 arrivedAtMs = clock.elapsed();
        delegate.showPanel();
        // The arrival's own work (inbox, panel) counts too: the report waits one more turn of the loop.
        QTimer::singleShot(2 * kPeriodMs, &ticker, [&, arrivedAtMs] {
            std::printf("lateness %lld ticks %ld worst %lld ms after the start, arrival %lld ms after\n",
                        static_cast<long long>(worstLateMs), ticks, static_cast<long long>(worstAtMs),
                        static_cast<long long>(arrivedAtMs));
            std::fflush(stdout);
            QApplication::quit();
        });
    });
    QApplication::exec();
    return 0;
}
