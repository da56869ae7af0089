#include <gtest/gtest.h>

#include <QSignalSpy>

#include "model/Inbox.h"
#include "model/ModelTestSupport.h"

namespace qb::test {
namespace {

using model::InboxItem;
using model::TransferJob;
using State = model::TransferJob::State;

TransferJob job(std::string id) {
    TransferJob j;
    j.id = std::move(id);
    j.name = "a.txt";
    j.peer = "Desk";
    return j;
}

bool listed(const model::AppModel& m, const std::string& id) {
    return std::any_of(m.jobs().begin(), m.jobs().end(), [&](const TransferJob& j) { return j.id == id; });
}

TEST(JobsTest, FinishedJobsLeaveByTheirOwnTimers) {
    ModelHarness h;
    auto& m = h.make();
    m.appendJob(job("done"));
    m.appendJob(job("failed"));
    m.appendJob(job("running"));
    m.setState("failed", State::failed("Write failed"));
    m.setState("done", State::done());
    EXPECT_EQ(m.jobs()[0].progress, 1.0);
    EXPECT_EQ(m.jobs()[1].state, State::failed("Write failed"));

    // A late progress report still moves a finished job that is listed.
    m.setProgress("done", 0.5);
    EXPECT_EQ(m.jobs()[0].progress, 0.5);

    ASSERT_TRUE(waitUntil([&] { return !listed(m, "done"); }));
    EXPECT_TRUE(listed(m, "failed"));
    ASSERT_TRUE(waitUntil([&] { return !listed(m, "failed"); }));
    EXPECT_TRUE(listed(m, "running"));
}

TEST(JobsTest, ReportsForUnknownJobsChangeNothing) {
    ModelHarness h;
    auto& m = h.make();
    m.appendJob(job("a"));
    QSignalSpy changes(&m, &model::AppModel::changed);
    m.setState("nope", State::done());
    m.setProgress("nope", 0.3);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(m.jobs()[0].state, State::running());
}

void touch(const std::filesystem::path& path, int minutesAgo) {
    writeFile(path, "x");
    std::filesystem::last_write_time(path,
                                     std::filesystem::file_time_type::clock::now() - std::chrono::minutes(minutesAgo));
}

TEST(InboxTest, RebuildListsTheFortyNewestVisibleItemsAndKeepsKnownSenders) {
    ModelHarness h;
    const auto folder = h.dir / "in";
    for (int i = 0; i < 41; ++i) {
        touch(folder / ("f" + std::to_string(i)), i);
    }
    touch(folder / ".hidden", 0);
    std::filesystem::create_directories(folder / "sub");
    std::filesystem::last_write_time(folder / "sub",
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(10));

    std::vector<InboxItem> previous{{folder / "f1", "Studio", {}, 1, false}, {folder / "gone", "Old", {}, 1, false}};
    const auto items = model::listInbox(folder, previous);
    ASSERT_EQ(items.size(), 40u);
    EXPECT_EQ(items.front().url, folder / "f0");
    EXPECT_EQ(items.back().url, folder / "f39");
    EXPECT_EQ(items[1].from, "Studio");
    EXPECT_EQ(items[0].from, "");
    EXPECT_EQ(items[0].size, 1);
    EXPECT_TRUE(model::listInbox(h.dir / "missing", previous).empty());
}

TEST(InboxTest, RebuildGivesFoldersNoSizeAndKeepsListingOrderForEqualDates) {
    ModelHarness h;
    const auto folder = h.dir / "in";
    const auto when = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (const char* name : {"c", "a", "b", "d"}) {
        writeFile(folder / name, "xyz");
        std::filesystem::last_write_time(folder / name, when);
    }
    std::filesystem::create_directories(folder / "dir");
    const auto items = model::listInbox(folder, {});
    ASSERT_EQ(items.size(), 5u);
    EXPECT_TRUE(items[0].isDir);
    EXPECT_EQ(items[0].size, 0);
    std::vector<std::filesystem::path> listingOrder;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_directory()) {
            listingOrder.push_back(entry.path());
        }
    }
    for (std::size_t i = 0; i < listingOrder.size(); ++i) {
        EXPECT_EQ(items[i + 1].url, listingOrder[i]);
    }
}

TEST(InboxTest, ArrivalsGoFirstInTransferOrderReplacingTheSamePath) {
    std::vector<InboxItem> inbox;
    for (int i = 0; i < 40; ++i) {
        inbox.push_back({"/r/old" + std::to_string(i), "", {}, 1, false});
    }
    inbox[5].url = "/r/b";
    model::addArrivals(
        inbox, {{"/r/a", "Desk", {}, 1, false}, {"/r/b", "Desk", {}, 2, false}, {"/r/c", "Desk", {}, 3, false}});
    ASSERT_EQ(inbox.size(), 40u);
    EXPECT_EQ(inbox[0].url, "/r/a");
    EXPECT_EQ(inbox[1].url, "/r/b");
    EXPECT_EQ(inbox[1].size, 2);
    EXPECT_EQ(inbox[2].url, "/r/c");
    EXPECT_EQ(inbox[3].url, "/r/old0");
    // The older entry with the same path is gone, so the 37 kept older items run to old37.
    EXPECT_EQ(inbox.back().url, "/r/old37");
    EXPECT_EQ(std::count_if(inbox.begin(), inbox.end(), [](const InboxItem& i) { return i.url == "/r/b"; }), 1);
}

TEST(InboxTest, TrashMovesTheItemAwayAndDropsItEvenWhenTheMoveFails) {
    ModelHarness h;
    ScopedEnv data("XDG_DATA_HOME", (h.dir / "data").string());
    ScopedEnv folder("QUOBBLEFIN_SAVEDIR", (h.dir / "in").string());
    writeFile(h.dir / "in" / "a.txt", "a");
    auto& m = h.make();
    m.refreshInbox();
    ASSERT_EQ(m.inbox().size(), 1u);
    const InboxItem item = m.inbox()[0];
    m.trash(item);
    EXPECT_TRUE(m.inbox().empty());
    EXPECT_FALSE(std::filesystem::exists(h.dir / "in" / "a.txt"));
    m.trash(item);
    EXPECT_TRUE(m.inbox().empty());
}

TEST(InboxTest, FormatBytesUsesDecimalUnitsAndOneDecimalBelowTen) {
    const std::vector<std::pair<std::int64_t, std::string>> cases{{-1, "-1 B"},
                                                                  {0, "0 B"},
                                                                  {999, "999 B"},
                                                                  {1000, "1.0 KB"},
                                                                  {1536, "1.5 KB"},
                                                                  {9950, "9.9 KB"},
                                                                  {9960, "10.0 KB"},
                                                                  {10000, "10 KB"},
                                                                  {999999, "1000 KB"},
                                                                  {1048576, "1.0 MB"},
                                                                  {5'000'000'000'000'000, "5000 TB"}};
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(model::formatBytes(bytes), text) << bytes;
    }
}

}  // namespace
}  // namespace qb::test
