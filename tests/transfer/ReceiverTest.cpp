#include <gtest/gtest.h>

#include "ServerHarness.h"
#include "l10n/L.h"
#include "transfer/Receiver.h"

namespace qb::transfer {
namespace {

namespace fs = std::filesystem;
using test::ServerEvents;
using test::ServerHarness;
using test::treeOf;
using Tree = std::set<std::string>;

class ReceiverTest : public ::testing::Test {
protected:
    ReceiverTest() {
        harness.start();
        harness.run();
    }

    // Sends one transfer and returns what the server reported at its end.
    ServerEvents::Finish receive(const FileHeader& header, const std::string& body,
                                 const std::string& expectedReply = "GO\nOK\n") {
        const std::size_t before = harness.events.read([](auto& e) { return e.finished.size(); });
        EXPECT_EQ(harness.send(header, platform::toBytes(body)).reply, expectedReply);
        auto finish = harness.events.waitFinish(before + 1);
        EXPECT_TRUE(finish) << "no onFinish";
        return finish.value_or(ServerEvents::Finish{"", TransferError(TransferErrc::badHeader)});
    }

    std::vector<fs::path> inInbox(std::initializer_list<const char*> names) const {
        std::vector<fs::path> paths;
        for (const char* name : names) {
            paths.push_back(harness.inbox / name);
        }
        return paths;
    }

    ServerHarness harness;
};

TEST_F(ReceiverTest, SingleFilesGetNumberedNamesAndSafeTopNames) {
    for (int round = 0; round < 3; ++round) {
        const auto finish = receive(test::fileHeader("report.pdf", 6), "report");
        ASSERT_TRUE(finish.result.ok());
        EXPECT_EQ(finish.result.items().size(), 1u);
    }
    EXPECT_EQ(test::readText(harness.inbox / "report 3.pdf"), "report");

    EXPECT_EQ(receive(test::fileHeader(".bashrc", 2), "rc").result.items(), inInbox({"file.bashrc"}));
    EXPECT_EQ(receive(test::fileHeader("", 1), "e").result.items(), inInbox({"file"}));
    EXPECT_EQ(receive(test::fileHeader("a/b/c.txt", 1), "c").result.items(), inInbox({"c.txt"}));
    EXPECT_EQ(treeOf(harness.inbox),
              (Tree{"report.pdf", "report 2.pdf", "report 3.pdf", "file.bashrc", "file", "c.txt"}));
}

TEST_F(ReceiverTest, EmptyFilesAreMadeWithoutReadingOrProgress) {
    const auto single = receive(test::fileHeader("empty.txt", 0), "");
    ASSERT_TRUE(single.result.ok());
    EXPECT_EQ(fs::file_size(harness.inbox / "empty.txt"), 0u);

    const auto folder =
        receive(test::treeHeader("Empties",
                                 {{.p = "a", .s = 0}, {.p = "sub", .s = 0, .d = true}, {.p = "sub/b", .s = 0}}, false),
                "");
    ASSERT_TRUE(folder.result.ok());
    EXPECT_EQ(treeOf(harness.inbox / "Empties"), (Tree{"a", "sub/", "sub/b"}));
    EXPECT_TRUE(harness.events.read([](auto& e) { return e.progress.empty(); }));
}

TEST_F(ReceiverTest, FolderWithAnEmptySubfolderArrivesWhole) {
    const auto header = test::treeHeader("Album",
                                         {{.p = "x", .s = 3},
                                          {.p = "e", .s = 0},
                                          {.p = "empty", .s = 0, .d = true},
                                          {.p = "s", .s = 0, .d = true},
                                          {.p = "s/y", .s = 2},
                                          {.p = "/abs/z", .s = 1}},
                                         false);
    const auto finish = receive(header, "xxxyyz");
    ASSERT_TRUE(finish.result.ok());
    EXPECT_EQ(finish.result.items(), inInbox({"Album"}));
    EXPECT_EQ(treeOf(harness.inbox / "Album"), (Tree{"x", "e", "empty/", "s/", "s/y", "abs/", "abs/z"}));
    EXPECT_EQ(test::readText(harness.inbox / "Album/x"), "xxx");
    EXPECT_EQ(test::readText(harness.inbox / "Album/s/y"), "yy");
    EXPECT_EQ(test::readText(harness.inbox / "Album/abs/z"), "z");
}

TEST_F(ReceiverTest, BatchNamesAreUniqueAgainstTheDiskAndAmongThemselves) {
    fs::create_directory(harness.inbox / "x");
    test::writeText(harness.inbox / "f", "old");
    const auto header = test::treeHeader("4 items",
                                         {{.p = "x/1.txt", .s = 1},
                                          {.p = "x/2.txt", .s = 1},
                                          {.p = "y.txt", .s = 1},
                                          {.p = "f", .s = 1},
                                          {.p = "f 2", .s = 1}},
                                         true);
    const auto finish = receive(header, "12yFG");
    ASSERT_TRUE(finish.result.ok());
    EXPECT_EQ(finish.result.items(), inInbox({"x 2", "y.txt", "f 2", "f 2 2"}));
    EXPECT_EQ(test::readText(harness.inbox / "x 2/2.txt"), "2");
    EXPECT_EQ(test::readText(harness.inbox / "f"), "old");
    EXPECT_EQ(test::readText(harness.inbox / "f 2"), "F");
    EXPECT_EQ(test::readText(harness.inbox / "f 2 2"), "G");
    EXPECT_EQ(treeOf(harness.inbox / "x"), Tree{});
}

TEST_F(ReceiverTest, ProgressCountsWholePiecesUpToOne) {
    const std::size_t size = 3 * kReceivePiece + 5;
    const auto finish = receive(test::fileHeader("big.bin", static_cast<std::int64_t>(size)), std::string(size, 'b'));
    ASSERT_TRUE(finish.result.ok());
    EXPECT_EQ(fs::file_size(harness.inbox / "big.bin"), size);
    const auto progress = harness.events.read([](auto& e) { return e.progress; });
    ASSERT_EQ(progress.size(), 4u) << "one report per filled piece, whatever the network delivered";
    for (std::size_t i = 0; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].first, finish.id);
        EXPECT_GT(progress[i].second, i == 0 ? 0.0 : progress[i - 1].second);
    }
    EXPECT_EQ(progress.back().second, 1.0);
    EXPECT_EQ(harness.events.read([](auto& e) { return e.begun.front().first; }), finish.id);
}

TEST_F(ReceiverTest, ConnectionCutInTheSecondFileLeavesNothing) {
    for (const bool batch : {false, true}) {
        SCOPED_TRACE(batch ? "batch" : "folder");
        const auto header = test::treeHeader("Two", {{.p = "one", .s = 4}, {.p = "two", .s = 6}}, batch);
        const auto finish = receive(header, "1111222", "GO\n");
        ASSERT_FALSE(finish.result.ok());
        EXPECT_TRUE(finish.result.error().is(TransferErrc::connectionClosed));
        EXPECT_EQ(treeOf(harness.inbox), Tree{});
    }
    harness.expectStillServes();
}

TEST_F(ReceiverTest, DanglingLinkOnTheWayIsRefusedBeforeAnyFileIsMade) {
    fs::create_symlink(harness.temp / "nowhere", harness.inbox / "photo.jpg");
    fs::create_symlink(harness.temp / "nowhere-either", harness.inbox / "x");
    const Tree links{"photo.jpg@", "x@"};

    const auto single = receive(test::fileHeader("photo.jpg", 3), "abc", "GO\nERR\n");
    ASSERT_FALSE(single.result.ok());
    EXPECT_EQ(single.result.error(), TransferError::io(l10n::L::t("err.createFile")));

    const auto batch = test::treeHeader("2 items", {{.p = "ok.txt", .s = 1}, {.p = "x/1.txt", .s = 1}}, true);
    EXPECT_FALSE(receive(batch, "ab", "GO\nERR\n").result.ok());

    const auto folder = receive(test::treeHeader("x", {{.p = "1.txt", .s = 1}}, false), "a", "GO\nERR\n");
    EXPECT_EQ(folder.result.error(), TransferError::io(l10n::L::t("err.createFolder")));

    EXPECT_EQ(treeOf(harness.inbox), links);
    EXPECT_FALSE(fs::exists(harness.temp / "nowhere"));
    harness.expectStillServes();
}

TEST_F(ReceiverTest, ReceiveFolderThatIsNoFolderFailsWithTheCreateTexts) {
    fs::remove(harness.inbox);
    test::writeText(harness.inbox, "a file where the folder should be");
    const auto folder = receive(test::treeHeader("F", {{.p = "a", .s = 1}}, false), "a", "GO\nERR\n");
    EXPECT_EQ(folder.result.error(), TransferError::io(l10n::L::t("err.createFolder")));
    const auto single = receive(test::fileHeader("a.txt", 1), "a", "GO\n");
    EXPECT_EQ(single.result.error(), TransferError::io(l10n::L::t("err.createFile")));
    EXPECT_EQ(test::readText(harness.inbox), "a file where the folder should be");
}

// Every way a connection can be cut short ends with exactly one report and nothing on the disk.
TEST_F(ReceiverTest, CutAfterAnyNumberOfBytesLeavesNothingBehind) {
    const auto header = test::treeHeader(
        "Cut", {{.p = "a", .s = 3}, {.p = "empty", .s = 0}, {.p = "sub", .s = 0, .d = true}, {.p = "sub/b", .s = 4}},
        false, Wire::generationNoWait);
    const auto whole = test::concat(Wire::encodePrefix(header), platform::toBytes("aaabbbb"));
    const std::size_t bodyStart = whole.size() - 7;
    std::size_t reports = 0;
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
        const auto outcome = harness.exchange({whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)});
        EXPECT_EQ(outcome.reply, "");
        EXPECT_TRUE(outcome.closedByServer());
        if (cut >= bodyStart) {
            const auto finish = harness.events.waitFinish(++reports);
            ASSERT_TRUE(finish);
            EXPECT_TRUE(finish->result.error().is(TransferErrc::connectionClosed));
        }
        EXPECT_EQ(treeOf(harness.inbox), Tree{});
    }
    EXPECT_EQ(harness.events.read([](auto& e) { return e.finished.size(); }), reports);
    EXPECT_EQ(harness.events.read([](auto& e) { return e.begun.size(); }), reports);
    EXPECT_EQ(harness.exchange(whole).reply, "OK\n");
    EXPECT_EQ(test::readText(harness.inbox / "Cut/sub/b"), "bbbb");
}

}  // namespace
}  // namespace qb::transfer
