// Failures inside the receiving side: a file system that fails at close, and callbacks that throw. Each
// ends only its own transfer, leaves nothing in the receive folder, and the server goes on serving.
#include <gtest/gtest.h>

#include <stdexcept>

#include "CloseShim.h"
#include "ServerHarness.h"

namespace qb::transfer {
namespace {

using namespace test;
using Tree = std::set<std::string>;

TEST(ServerFailuresTest, AFileWhoseCloseFailsEndsTheConnectionWithoutReplyAndLeavesNothing) {
    ServerHarness harness;
    harness.create().start();
    const CloseFailure failing("broken.bin");
    const std::vector<FileEntry> album{{.p = "a.txt", .s = 3}, {.p = "broken.bin", .s = 2}, {.p = "c", .s = 1}};
    // A failure while writing is no refusal: the sender hears nothing after the go-ahead.
    EXPECT_EQ(harness.send(header("Album", 6, 3, album), "aaabbc").reply, "GO\n");
    EXPECT_EQ(harness.send(header("broken.bin", 0), "").reply, "GO\n");
    for (std::size_t n = 1; n <= 2; ++n) {
        const auto result = harness.reports.finish(n);
        ASSERT_FALSE(result.ok()) << n;
        EXPECT_EQ(result.error().code(), std::errc::io_error) << n;
    }
    EXPECT_EQ(treeOf(harness.inbox), Tree{});
    harness.expectStillServes();
}

TEST(ServerFailuresTest, ThrowingCallbacksEndOnlyTheirOwnTransferAndAreReported) {
    ServerHarness harness;
    // The decision runs on the server's own pool thread here, where an escaping exception would end the process.
    harness.options.mainQueue = platform::MainQueue::runInline();
    harness.create().decide = [](const FileHeader& asked, const auto&, TransferServer::Answer answer) {
        if (asked.name == "decide throws") {
            throw std::runtime_error("decision broke");
        }
        answer(true);
    };
    const auto recordBegin = harness.server->onBegin;
    harness.server->onBegin = [recordBegin](const std::string& id, const FileHeader& started) {
        if (started.name == "begin throws") {
            throw std::runtime_error("begin broke");
        }
        recordBegin(id, started);
    };
    harness.server->start();

    testing::internal::CaptureStderr();
    EXPECT_EQ(harness.send(header("decide throws", 1), "d").reply, "NO\n");
    const std::vector<FileEntry> folder{{.p = "x", .s = 1}};
    const auto cut = harness.send(header("begin throws", 1, 3, folder), "x");
    // The strand is serial: once a later transfer has finished, the earlier failures have been reported.
    harness.expectStillServes();
    const std::string log = testing::internal::GetCapturedStderr();

    EXPECT_EQ(cut.reply, "GO\n");
    EXPECT_TRUE(cut.closed);
    EXPECT_NE(log.find("[quobblefin] decide ended by an exception: decision broke"), std::string::npos) << log;
    EXPECT_NE(log.find("[quobblefin] connection ended by an exception: begin broke"), std::string::npos) << log;
    EXPECT_EQ(treeOf(harness.inbox), Tree{}) << "the folder made before the throw is gone";
}

}  // namespace
}  // namespace qb::transfer
