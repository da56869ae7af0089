#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>

#include <QSignalSpy>
#include <QThread>

#include "model/Inbox.h"
#include "model/ModelTestSupport.h"
#include "model/ProgressRelay.h"

namespace qb::test {
namespace {

using model::InboxItem;
using State = model::TransferJob::State;

bool listed(const model::AppModel& m, const std::string& id) {
    return std::any_of(m.jobs().begin(), m.jobs().end(), [&](const auto& job) { return job.id == id; });
}

TEST(JobsTest, FinishedJobsLeaveByTheirOwnTimers) {
    ModelHarness h;
    auto& m = h.make();
    for (const char* id : {"done", "failed", "running"}) {
        m.appendJob({.id = id, .name = "a.txt", .peer = "Desk"});
    }
    m.setState("failed", State::failed("Write failed"));
    m.setState("done", State::done());
    EXPECT_EQ(m.jobs()[0].progress, 1.0);
    EXPECT_EQ(m.jobs()[1].state, State::failed("Write failed"));
    // A late progress report still moves a finished job while it is listed; unknown ids change nothing.
    m.setProgress("done", 0.5);
    EXPECT_EQ(m.jobs()[0].progress, 0.5);
    QSignalSpy changes(&m, &model::AppModel::changed);
    m.setState("nope", State::done());
    m.setProgress("nope", 0.3);
    EXPECT_EQ(changes.count(), 0);

    ASSERT_TRUE(waitUntil([&] { return !listed(m, "done"); }));
    EXPECT_TRUE(listed(m, "failed"));
    ASSERT_TRUE(waitUntil([&] { return !listed(m, "failed"); }));
    EXPECT_TRUE(listed(m, "running"));
}

void touch(const std::filesystem::path& path, std::chrono::minutes age) {
    writeFile(path, "x");
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - age);
}

TEST(InboxTest, RebuildListsTheFortyNewestVisibleItemsAndKeepsKnownSenders) {
    ModelHarness h;
    const auto folder = h.dir / "in";
    for (int i = 0; i < 41; ++i) {
        touch(folder / ("f" + std::to_string(i)), std::chrono::minutes(i + 1));
    }
    touch(folder / ".hidden", std::chrono::minutes(0));
    std::filesystem::create_directories(folder / "sub");

    const std::vector<InboxItem> previous{{.url = folder / "f1", .from = "Studio"},
                                          {.url = folder / "gone", .from = "Old"}};
    const auto items = model::listInbox(folder, previous);
    ASSERT_EQ(items.size(), 40u);
    EXPECT_EQ(items[0].url, folder / "sub");
    EXPECT_TRUE(items[0].isDir);
    EXPECT_EQ(items[0].size, 0) << "a rebuilt folder has no size";
    EXPECT_EQ(items[1].url, folder / "f0");
    EXPECT_EQ(items[1].size, 1);
    EXPECT_EQ(items[2].from, "Studio");
    EXPECT_EQ(items[1].from, "");
    EXPECT_EQ(items.back().url, folder / "f38");
    EXPECT_TRUE(model::listInbox(h.dir / "missing", previous).empty());
}

TEST(InboxTest, EqualDatesKeepTheFolderListingOrder) {
    ModelHarness h;
    const auto folder = h.dir / "in";
    const auto when = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (const char* name : {"c", "a", "b", "d"}) {
        writeFile(folder / name, "x");
        std::filesystem::last_write_time(folder / name, when);
    }
    std::vector<std::filesystem::path> urls, listingOrder;
    for (const auto& item : model::listInbox(folder, {})) {
        urls.push_back(item.url);
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        listingOrder.push_back(entry.path());
    }
    EXPECT_EQ(urls, listingOrder);
}

TEST(InboxTest, ArrivalsGoFirstInTransferOrderReplacingTheSamePath) {
    std::vector<InboxItem> inbox;
    for (int i = 0; i < 40; ++i) {
        inbox.push_back({.url = "/r/old" + std::to_string(i)});
    }
    inbox[5].url = "/r/b";
    model::addArrivals(inbox, {{.url = "/r/a"}, {.url = "/r/b", .size = 2}, {.url = "/r/c"}});
    ASSERT_EQ(inbox.size(), 40u);
    EXPECT_EQ(inbox[0].url, "/r/a");
    EXPECT_EQ(inbox[1].size, 2);
    EXPECT_EQ(inbox[2].url, "/r/c");
    EXPECT_EQ(inbox[3].url, "/r/old0");
    // The older entry with the same path is gone, so the kept older items run to old37.
    EXPECT_EQ(inbox.back().url, "/r/old37");
}

TEST(InboxTest, TrashMovesTheItemAwayAndDropsItEvenWhenTheMoveFails) {
    ModelHarness h;
    ScopedEnv data("XDG_DATA_HOME", (h.dir / "data").string());
    ScopedEnv folder("QUOBBLEFIN_SAVEDIR", (h.dir / "in").string());
    writeFile(h.dir / "in" / "a.txt", "a");
    writeFile(h.dir / "in" / "gone.txt", "g");
    auto& m = h.make();
    m.refreshInbox();
    ASSERT_EQ(m.inbox().size(), 2u);
    const bool goneFirst = m.inbox()[0].url.filename() == "gone.txt";
    const InboxItem gone = m.inbox()[goneFirst ? 0 : 1];
    const InboxItem kept = m.inbox()[goneFirst ? 1 : 0];
    std::filesystem::remove(gone.url);  // its move to the trash now fails
    m.trash(gone);
    ASSERT_EQ(m.inbox().size(), 1u);
    EXPECT_EQ(m.inbox()[0].url, kept.url);
    m.trash(kept);
    EXPECT_TRUE(m.inbox().empty());
    EXPECT_FALSE(std::filesystem::exists(kept.url));
    EXPECT_EQ(readFile(h.dir / "data" / "Trash" / "files" / "a.txt"), "a");
}

TEST(InboxTest, FormatBytesUsesDecimalUnitsAndOneDecimalBelowTen) {
    // clang-format off
    const std::pair<std::int64_t, const char*> cases[] = {
        {-1, "-1 B"}, {0, "0 B"}, {999, "999 B"}, {1000, "1.0 KB"}, {1536, "1.5 KB"}, {9950, "9.9 KB"},
        {9960, "10.0 KB"}, {10000, "10 KB"}, {999999, "1000 KB"}, {1048576, "1.0 MB"},
        {5'000'000'000'000'000, "5000 TB"}};
    // clang-format on
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(model::formatBytes(bytes), text) << bytes;
    }
}

TEST(ProgressRelayTest, CoalescesReportsFromAnyThreadToTheLatestPerJobOnTheMainThread) {
    testApp();
    std::map<std::string, double> latest;
    int deliveries = 0;
    auto relay = std::make_unique<model::ProgressRelay>(
        [&](const std::string& jobId, double fraction) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            latest[jobId] = fraction;
            ++deliveries;
        },
        std::chrono::milliseconds(0));
    const auto report = relay->reporter();
    // Everything is reported before the main thread turns its loop once: one delivery per job remains.
    std::thread([&] {
        for (int step = 1; step <= 1000; ++step) {
            report("a", step / 1000.0);
            report("b", step / 2000.0);
        }
    }).join();
    ASSERT_TRUE(waitUntil([&] { return deliveries >= 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(deliveries, 2);
    EXPECT_EQ(latest, (std::map<std::string, double>{{"a", 1.0}, {"b", 0.5}}));

    // Later reports start a new delivery; once the relay is gone, the reporter it gave out does nothing.
    report("a", 1.0);
    ASSERT_TRUE(waitUntil([&] { return deliveries == 3; }));
    report("b", 1.0);
    relay.reset();
    QCoreApplication::processEvents();
    report("b", 1.0);
    QCoreApplication::processEvents();
    EXPECT_EQ(deliveries, 3);
}

}  // namespace
}  // namespace qb::test
