// The receiving server: its answers, its names on the network and on disk, and its failures. close() is
// replaced for this whole executable (a definition here wins over the C library's for every caller in the
// process), so that closing one chosen file can fail the way a full disk or a network file system fails at
// close: the descriptor is closed, and the call reports EIO.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <stdexcept>
#include <thread>

#include "ServerHarness.h"
#include "l10n/L.h"

namespace {

std::mutex failingMutex;
std::string failingName;  // guarded by failingMutex
std::atomic<bool> failing{false};

bool isFailingFile(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    const std::string path(target, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    const std::lock_guard lock(failingMutex);
    return path.size() > failingName.size() && path.ends_with("/" + failingName);
}

// While it lives, close() of any file named `fileName` closes the file and answers EIO.
struct CloseFailure {
    explicit CloseFailure(std::string fileName) {
        const std::lock_guard lock(failingMutex);
        failingName = std::move(fileName);
        failing = true;
    }
    ~CloseFailure() { failing = false; }
};

}  // namespace

extern "C" int close(int fd) {
    static const auto realClose = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "close"));
    const bool fails = failing.load() && isFailingFile(fd);
    const int result = realClose(fd);
    if (fails && result == 0) {
        errno = EIO;
        return -1;
    }
    return result;
}

namespace qb::transfer {
namespace {

using namespace test;
using Answer = TransferServer::Answer;
using Tree = std::set<std::string>;

void expectSilentClose(const Exchange& outcome) {
    EXPECT_EQ(outcome.reply, "");
    EXPECT_TRUE(outcome.closed);
}

std::size_t begun(ServerHarness& harness) {
    return harness.reports.read([&] { return harness.reports.begun.size(); });
}

TEST(TransferServerTest, TheFirstAnswerInTimeCountsAndUnsafePathsAreRefused) {
    ServerHarness harness(false, {200ms, 20ms});
    std::vector<Answer> answers;  // on the test's thread, which runs `decide`
    harness.create().decide = [&](const FileHeader& asked, const auto&, Answer answer) {
        answers.push_back(answer);
        if (asked.name != "late") {
            answer(asked.name != "no");
            answer(asked.name == "no");
        }
    };
    harness.server->start();
    harness.expectStillServes();
    EXPECT_EQ(harness.send(header("no", 1), "n").reply, "NO\n");
    expectSilentClose(harness.send(header("no", 1, Wire::generationNoWait), "n"));
    EXPECT_EQ(harness.send(header("late", 1), "l").reply, "NO\n");
    answers.back()(true);
    for (const char* unsafe : {"a/../b", "./x", ".."}) {
        const std::vector<FileEntry> files{{.p = "ok", .s = 1}, {.p = unsafe, .s = 1}};
        EXPECT_EQ(harness.send(header("F", 2, 3, files), "12").reply, "NO\n") << unsafe;
        expectSilentClose(harness.send(header("F", 2, Wire::generationNoWait, files), "12"));
    }
    EXPECT_EQ(answers.size(), 10u) << "the owner is asked before the paths are checked";
    harness.expectStillServes();
    EXPECT_EQ(begun(harness), 2u);
    EXPECT_EQ(treeOf(harness.inbox), Tree{});
}

struct FakeAdvertiser : platform::ServiceAdvertiser {
    void advertise(Service service, Callbacks callbacks) override {
        advertised.set_value({std::move(service), std::move(callbacks)});
    }
    void withdraw() override { ++withdrawals; }
    std::promise<std::pair<Service, Callbacks>> advertised;
    std::atomic<int> withdrawals = 0;
};

TEST(TransferServerTest, AdvertisesItsRecordUnderTheAsciiNameAndReportsEachStart) {
    ServerHarness harness(true);
    auto fake = std::make_shared<FakeAdvertiser>();
    harness.options.advertiser = fake;
    harness.create("Zoë's  Mac\t").start();
    auto advertised = fake->advertised.get_future();
    ASSERT_EQ(advertised.wait_for(10s), std::future_status::ready);
    const auto [service, responder] = advertised.get();
    const auto port = harness.server->port();
    EXPECT_EQ(std::tie(service.name, service.type, service.port), std::tie("Zo 's Mac", "_quobblefin._tcp", port));
    EXPECT_EQ(service.txt, (platform::ServiceAdvertiser::TxtRecord{
                               {"v", "5"}, {"n", "Zoë's  Mac\t"}, {"k", harness.receiver->ownFingerprint()}}));
    std::thread(responder.onRegistered, "Zo 's Mac (2)").join();
    std::thread(responder.onFailed, std::make_error_code(std::errc::host_unreachable)).join();
    ASSERT_TRUE(harness.reports.waitFor([&] { return harness.reports.started.size() == 2; }));
    EXPECT_EQ(harness.reports.started,
              (std::vector<std::pair<std::string, std::uint16_t>>{{"Zo 's Mac (2)", port}, {"Zo 's Mac", port}}));

    harness.server->cancel();
    for (int tries = 0; tries < 500 && fake->withdrawals == 0; ++tries) {
        std::this_thread::sleep_for(10ms);
    }
    asio::ip::tcp::socket probe(harness.io);
    std::error_code refused;
    probe.connect({asio::ip::make_address("127.0.0.1"), port}, refused);
    EXPECT_EQ(fake->withdrawals, 1);
    EXPECT_EQ(refused, asio::error::connection_refused);

    ServerHarness plain;
    plain.create("Désk").start();
    ASSERT_TRUE(plain.reports.waitFor([&] { return !plain.reports.started.empty(); }));
    EXPECT_EQ(plain.reports.started.front(), std::make_pair(std::string("D sk"), plain.server->port()));
    EXPECT_EQ(plain.server->txtRecord(), (platform::ServiceAdvertiser::TxtRecord{{"v", "3"}, {"n", "Désk"}}));
}

TEST(TransferServerTest, CreationFailsWhenTheListenerCannotBeMade) {
    ServerHarness harness;
    harness.options.bindAddress = asio::ip::make_address("192.0.2.1");  // not an address of this machine
    const auto created = TransferServer::create(
        "x", [] { return std::filesystem::path(); }, harness.options);
    EXPECT_TRUE(created.error);
    EXPECT_FALSE(created.server);
}

TEST(ReceiveTest, LayoutsGetFreeNamesAgainstTheDiskAndAmongThemselves) {
    ServerHarness harness;
    harness.create().start();
    fs::create_directory(harness.inbox / "x");
    writeFile(harness.inbox / "f", "old");
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(harness.send(header("report.pdf", 1), "r").reply, "GO\nOK\n");
    }
    EXPECT_EQ(harness.send(header(".bashrc", 0), "").reply, "GO\nOK\n");
    const std::vector<FileEntry> album{{.p = "x", .s = 3},
                                       {.p = "e", .s = 0},
                                       {.p = "empty", .s = 0, .d = true},
                                       {.p = "s/y", .s = 2},
                                       {.p = "/z", .s = 1}};
    EXPECT_EQ(harness.send(header("Album", 6, 3, album), "xxxyyz").reply, "GO\nOK\n");
    const std::vector<FileEntry> batch{
        {.p = "x/1", .s = 1}, {.p = "x/2", .s = 1}, {.p = "y", .s = 1}, {.p = "f", .s = 1}, {.p = "f 2", .s = 1}};
    EXPECT_EQ(harness.send(header("5 items", 5, 3, batch, true), "12yFG").reply, "GO\nOK\n");

    const auto& in = harness.inbox;
    EXPECT_EQ(harness.reports.finish(6).items(),
              (std::vector<fs::path>{in / "x 2", in / "y", in / "f 2", in / "f 2 2"}));
    EXPECT_EQ(treeOf(in), (Tree{"report.pdf", "report 2.pdf", "report 3.pdf", "file.bashrc", "Album/", "Album/x",
                                "Album/e", "Album/empty/", "Album/s/", "Album/s/y", "Album/z", "x/", "x 2/", "x 2/1",
                                "x 2/2", "y", "f", "f 2", "f 2 2"}));
    EXPECT_EQ(readFile(in / "Album/s/y") + readFile(in / "f") + readFile(in / "f 2") + readFile(in / "f 2 2"),
              "yyoldFG");
    EXPECT_EQ(harness.reports.read([&] { return harness.reports.progress.size(); }), 11u) << "none for empty files";

    const std::size_t size = 3 * kReceivePiece + 5;
    EXPECT_EQ(harness.send(header("big", static_cast<std::int64_t>(size)), std::string(size, 'b')).reply, "GO\nOK\n");
    ASSERT_TRUE(harness.reports.finish(7).ok());
    const auto progress = harness.reports.read([&] { return harness.reports.progress; });
    EXPECT_EQ(progress.size(), 15u) << "one report per filled piece, whatever sizes the network delivered in";
    EXPECT_TRUE(std::is_sorted(progress.end() - 4, progress.end()) && progress.back() == 1.0);
}

// Cut after every possible byte: each run ends with at most one report and nothing on the disk.
TEST(ReceiveTest, ConnectionCutAnywhereLeavesNothingBehind) {
    ServerHarness harness;
    harness.create().start();
    const std::vector<FileEntry> files{
        {.p = "a", .s = 3}, {.p = "empty", .s = 0}, {.p = "sub", .s = 0, .d = true}, {.p = "sub/b", .s = 4}};
    auto whole = Wire::encodePrefix(header("Cut", 7, Wire::generationNoWait, files));
    const std::size_t bodyStart = whole.size();
    whole.insert(whole.end(), {'a', 'a', 'a', 'b', 'b', 'b', 'b'});
    std::size_t reports = 0;
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        expectSilentClose(harness.exchange({whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)}));
        if (cut >= bodyStart) {
            EXPECT_TRUE(harness.reports.finish(++reports).error().is(TransferErrc::connectionClosed)) << cut;
        }
        EXPECT_EQ(treeOf(harness.inbox), Tree{}) << cut;
    }
    EXPECT_EQ(begun(harness), reports);
    EXPECT_EQ(harness.exchange(whole).reply, "OK\n");
    EXPECT_EQ(readFile(harness.inbox / "Cut/sub/b"), "bbbb");
}

// Failures inside the receiving side end only their own transfer, leave nothing in the receive folder, and the
// server goes on serving.
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
