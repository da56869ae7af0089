#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

#include <QThread>

#include "model/ModelTestSupport.h"
#include "model/ProgressRelay.h"

namespace qb::model {
namespace {

using namespace std::chrono_literals;

struct Delivery {
    std::string jobId;
    double fraction;
    bool onMainThread;
};

TEST(ProgressRelayTest, CoalescesReportsFromAnyThreadToTheLatestPerJobOnTheMainThread) {
    test::testApp();
    std::vector<Delivery> deliveries;
    auto relay = std::make_unique<ProgressRelay>(
        [&](const std::string& jobId, double fraction) {
            deliveries.push_back({jobId, fraction, QThread::currentThread() == QCoreApplication::instance()->thread()});
        },
        0ms);
    const auto report = relay->reporter();
    // Everything is reported before the main thread turns its loop once: one delivery per job remains.
    std::thread worker([&] {
        for (int step = 1; step <= 1000; ++step) {
            report("a", step / 1000.0);
            report("b", step / 2000.0);
        }
    });
    worker.join();
    ASSERT_TRUE(test::waitUntil([&] { return deliveries.size() >= 2; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(deliveries.size(), 2u);
    std::map<std::string, double> latest;
    for (const auto& delivery : deliveries) {
        EXPECT_TRUE(delivery.onMainThread);
        latest[delivery.jobId] = delivery.fraction;
    }
    EXPECT_EQ(latest, (std::map<std::string, double>{{"a", 1.0}, {"b", 0.5}}));

    // Later reports start a new delivery; once the relay is gone, the reporter it gave out does nothing.
    report("a", 1.0);
    ASSERT_TRUE(test::waitUntil([&] { return deliveries.size() == 3; }));
    report("b", 1.0);
    relay.reset();
    QCoreApplication::processEvents();
    report("b", 1.0);
    QCoreApplication::processEvents();
    EXPECT_EQ(deliveries.size(), 3u);
}

}  // namespace
}  // namespace qb::model
