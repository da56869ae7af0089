#include <gtest/gtest.h>

#include <map>

#include "ServerHarness.h"
#include "transfer/FileSender.h"

namespace qb::transfer {
namespace {

using namespace test;

// A file's bytes, or every item below a folder with its bytes ("/" for a folder).
std::map<std::string, std::string> snapshot(const fs::path& item) {
    if (!fs::is_directory(item)) {
        return {{"", readFile(item)}};
    }
    std::map<std::string, std::string> items;
    for (const auto& entry : fs::recursive_directory_iterator(item)) {
        items[fs::relative(entry.path(), item).string()] = entry.is_directory() ? "/" : readFile(entry.path());
    }
    return items;
}

// The real sender against the real server. The parameter is the generation the sender speaks; the server
// declines "Stranger".
class EndToEndTest : public ::testing::TestWithParam<int> {
protected:
    EndToEndTest() : harness(GetParam() == Wire::generationTls) {
        harness.options.mainQueue = platform::MainQueue::runInline();
        harness.create().decide = [this](const FileHeader& header, const std::optional<std::string>& key,
                                         TransferServer::Answer answer) {
            keys.push_back(key);
            answer(header.from != "Stranger");
        };
        harness.server->start();
    }

    TransferResult send(const std::vector<fs::path>& items, const std::string& from = "Sender") {
        PendingResult done;
        FileSender::send(items, harness.address(), from, GetParam() != Wire::generationNoWait, harness.key(), false, {},
                         done.completion(), {&harness.runtime, &sender, &console, {}});
        return done.wait();
    }

    ServerHarness harness;
    identity::Identity sender{keysIn(harness.temp / "sender")};
    std::ostringstream console;
    std::vector<std::optional<std::string>> keys;  // written by `decide` on the server's strand before onFinish
};

TEST_P(EndToEndTest, ItemsArriveByteIdenticalAndDeclinedOnesNotAtAll) {
    const fs::path source = harness.temp / "source";
    for (const char* folder : {"Folder/sub-empty", "Folder/.config", "a", "b"}) {
        fs::create_directories(source / folder);
    }
    std::string bytes;
    for (unsigned i = 0; i < 2'500'000; ++i) {
        bytes.push_back(static_cast<char>((i * 7919u) >> 3));
    }
    writeFile(source / "one.bin", bytes);
    for (const char* empty : {"empty", "Folder/empty"}) {
        writeFile(source / empty, "");
    }
    writeFile(source / "Folder/.hidden", "h");
    writeFile(source / "Folder/.config/x", "config");
    writeFile(source / "a/same.txt", "from a");
    writeFile(source / "b/same.txt", "from b");

    const std::vector<std::vector<fs::path>> transfers{
        {source / "one.bin"},
        {source / "empty"},
        {source / "Folder"},
        {source / "a/same.txt", source / "b/same.txt", source / "Folder"}};
    for (std::size_t n = 1; n <= transfers.size(); ++n) {
        const auto& items = transfers[n - 1];
        ASSERT_TRUE(send(items).ok()) << items.front();
        const auto result = harness.reports.finish(n);
        ASSERT_TRUE(result.ok()) << items.front();
        ASSERT_EQ(result.items().size(), items.size()) << items.front();
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(snapshot(result.items()[i]), snapshot(items[i])) << items[i];
        }
    }
    EXPECT_TRUE(fs::exists(harness.inbox / "same 2.txt"));
    EXPECT_TRUE(fs::exists(harness.inbox / "Folder 2"));
    const auto expectedKey = harness.receiver ? std::optional(sender.ownFingerprint()) : std::nullopt;
    EXPECT_EQ(keys, std::vector(transfers.size(), expectedKey));

    const auto before = treeOf(harness.inbox);
    const auto declined = send({source / "one.bin"}, "Stranger");
    ASSERT_FALSE(declined.ok());
    if (GetParam() != Wire::generationNoWait) {  // the oldest sender hears no answer, only the close
        EXPECT_TRUE(declined.error().is(TransferErrc::declined)) << declined.error().description();
    }
    EXPECT_EQ(treeOf(harness.inbox), before);
}

INSTANTIATE_TEST_SUITE_P(Generations, EndToEndTest, ::testing::Values(2, 3, 5),
                         [](const ::testing::TestParamInfo<int>& generation) {
                             return "v" + std::to_string(generation.param);
                         });

}  // namespace
}  // namespace qb::transfer
