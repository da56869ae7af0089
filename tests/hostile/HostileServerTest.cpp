// The receiving side against a peer that lies: every case is one row, and every row must end in the
// refusal the protocol gives, with nothing written outside the receive folder, nothing of a failed transfer
// left in it, and the server still serving the next good transfer. Then many connections that never finish
// their header: the listener keeps only its cap of them, its memory stays flat, and a good transfer still gets
// through.

#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <asio/ssl.hpp>
#include <asio/write.hpp>

#include <iostream>

#include "l10n/L.h"
#include "platform/Printable.h"
#include "platform/ProcessLimits.h"
#include "transfer/FileNames.h"
#include "transfer/ServerHarness.h"

namespace qb::transfer {
namespace {

using namespace test;
using Tree = std::set<std::string>;

std::string json(std::string_view name, std::string_view files = "", std::int64_t size = 1, int v = 3) {
    std::string text = R"({"v":)" + std::to_string(v) + R"(,"name":")" + std::string(name) + R"(","size":)" +
                       std::to_string(size) + R"(,"from":"peer")";
    if (!files.empty()) {
        text += R"(,"files":)" + std::string(files);
    }
    return text + "}";
}

platform::Bytes bytes(platform::Bytes head, std::string_view tail = "") {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

PeerScript once(platform::Bytes all) {
    return {{std::move(all)}, {}, {}, false};
}

std::string deepPath(int levels) {
    std::string path;
    for (int level = 0; level < levels; ++level) {
        path += "d/";
    }
    return path + "f";
}

// What a row expects besides its reply: what the receive folder holds afterwards (folders end in "/"),
// and whether the server reported a failed transfer.
struct Expected {
    std::string reply;
    Tree kept;
    bool failureReported = false;
    bool closed = true;
};

struct Row {
    const char* name;
    PeerScript script;
    Expected expected;
};

// Plays each row, checks it, clears what it kept and proves the server still serves.
void playRows(ServerHarness& harness, const std::vector<Row>& rows) {
    const fs::path outside = harness.temp / "outside";
    fs::create_directories(outside);
    writeFile(outside / "keep.txt", "keep");
    const auto outsideBefore = treeOf(outside);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto before = treeOf(harness.inbox);
        const auto reports = harness.reports.read([&] { return harness.reports.finished.size(); });
        const auto outcome = harness.play(row.script);
        EXPECT_EQ(outcome.reply, row.expected.reply);
        EXPECT_EQ(outcome.closed, row.expected.closed);
        if (row.expected.failureReported) {
            EXPECT_FALSE(harness.reports.finish(reports + 1).ok());
        } else if (!row.expected.kept.empty()) {
            EXPECT_TRUE(harness.reports.finish(reports + 1).ok());
        }
        auto expectedTree = before;
        expectedTree.insert(row.expected.kept.begin(), row.expected.kept.end());
        EXPECT_EQ(treeOf(harness.inbox), expectedTree);
        EXPECT_EQ(treeOf(outside), outsideBefore);
        for (const auto& item : row.expected.kept) {
            std::error_code ignored;
            fs::remove_all(harness.inbox / item, ignored);
        }
        harness.expectStillServes();
    }
}

// Lies in the prefix or the header close the connection without a reply; cuts and stalls in the body leave
// nothing behind.
TEST(HostileServerTest, PrefixHeaderAndBodyLiesEndTheTransferCleanly) {
    ServerHarness harness;
    harness.create().start();
    const std::string valid = json("x");
    std::string nested = json("nested", "", 0);
    nested.insert(nested.size() - 1, R"(,"pad":)" + std::string(200'000, '[') + std::string(200'000, ']'));
    std::string largest = json("largest", "", 0);
    largest.insert(largest.size() - 1,
                   R"(,"pad":")" + std::string(Wire::kMaxHeaderLength - largest.size() - 9, 'a') + "\"");
    const Expected silentClose{"", {}};
    const auto whole = bytes(prefixed(json("C", R"([{"p":"a","s":4},{"p":"b","s":4}])", 8)), "aaaabbbb");
    const auto header = whole.size() - 8;
    const auto upTo = [&](std::size_t end, bool silent) {
        return PeerScript{{{whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(end)}}, {}, {}, silent};
    };
    const std::vector<Row> rows{
        {"wrong magic", once(bytes({'Q', 'B', 'L', 'X', 0, 0, 0, 2}, "{}")), silentClose},
        {"five bytes, then silence", PeerScript{{{'Q', 'B', 'L', 'F', 0}}, {}, {}, true}, {"", {}, false, false}},
        {"length 0", once(prefixed("", 0)), silentClose},
        {"length 2^20", once(prefixed(valid, 1u << 20)), silentClose},
        {"length 0xFFFFFFFF", once(prefixed(valid, 0xFFFFFFFFu)), silentClose},
        {"length beyond the bytes sent", once(prefixed(valid, 900'000)), silentClose},
        {"announced 1 MiB, then silence", PeerScript{{prefixed("{", 1'048'575)}, {}, {}, true}, {"", {}, false, false}},
        {"invalid UTF-8", once(prefixed(json("a\xC3\x28"))), silentClose},
        // The decoder's own table (WireTest) covers every malformed JSON; these prove the server closes on them.
        {"invalid JSON", once(prefixed(R"({"v":3,"name":)")), silentClose},
        {"deeply nested array", once(prefixed(std::string(300'000, '['))), silentClose},
        {"negative size", once(prefixed(json("x", "", -1))), silentClose},
        {"the largest header, 1,048,575 bytes", once(prefixed(largest)), {"GO\nOK\n", {"largest"}}},
        {"unknown keys nested deep are ignored", once(prefixed(nested)), {"GO\nOK\n", {"nested"}}},
        {"size disagreeing with the entries: the entries decide",
         once(bytes(prefixed(json("F", R"([{"p":"a","s":3}])", 1)), "abc")),
         {"GO\nOK\n", {"F/", "F/a"}}},
        {"cut at 0 %", upTo(header, false), {"GO\n", {}, true}},
        {"cut at 50 %", upTo(header + 4, false), {"GO\n", {}, true}},
        {"cut one byte before the end", upTo(whole.size() - 1, false), {"GO\n", {}, true}},
        // Neither a reply nor a close while it stalls; when it finally goes, its half transfer goes too.
        {"stalled mid-body", upTo(header + 2, true), {"GO\n", {}, true, false}},
    };
    playRows(harness, rows);
}

TEST(HostileServerTest, UnsafePathsAreRefusedAndOddOnesStayInside) {
    ServerHarness harness;
    harness.create().start();
    const auto folder = [](const std::string& p, const std::string& body = "x") {
        return once(bytes(prefixed(json("F", R"([{"p":")" + p + R"(","s":)" + std::to_string(body.size()) + "}]",
                                        static_cast<std::int64_t>(body.size()))),
                          body));
    };
    const Expected no{"NO\n", {}};
    const Expected cut{"GO\n", {}, true};  // the go-ahead came; the failure ends the connection without more
    const std::string longName(256, 'n');
    // A control character and a right-to-left override, escaped in the JSON and stored as they are.
    const std::string oddName =
        "a\x01"
        "b\xE2\x80\xAE"
        "c.txt";
    const std::vector<Row> rows{
        // "..", "a/../b" and "./x" are refused in the server's own test.
        {"a/./b", folder("a/./b"), no},
        {"empty p", folder(""), no},
        {"NUL in p", folder("a\\u0000b"), no},
        {"NUL at the end of p", folder("a\\u0000"), no},
        {"NUL in name", once(bytes(prefixed(json("a\\u0000.txt")), "x")), no},
        {"NUL in name of a generation-2 sender", once(bytes(prefixed(json("a\\u0000", "", 1, 2)), "x")), {"", {}}},
        {"/abs/x.txt lands inside", folder("/abs/x.txt"), {"GO\nOK\n", {"F/", "F/abs/", "F/abs/x.txt"}}},
        {"a//b", folder("a//b"), {"GO\nOK\n", {"F/", "F/a/", "F/a/b"}}},
        {"a component of 256 bytes", folder(longName), cut},
        {"a top-level name of 256 bytes", once(bytes(prefixed(json(longName)), "x")), cut},
        {"1,000 levels of nesting", folder(deepPath(1000)), {"GO\nOK\n", {}}},
        {"a file a together with a/b",
         once(bytes(prefixed(json("F", R"([{"p":"a","s":1},{"p":"a/b","s":1}])", 2)), "xy")), cut},
        {"control and bidi characters are stored as sent",
         once(bytes(prefixed(json("a\\u0001b\\u202ec.txt")), "x")),
         {"GO\nOK\n", {oddName}}},
    };
    // The deep row keeps 1,002 items; its tree is checked on its own below.
    playRows(harness, {rows.begin(), rows.end() - 3});
    const auto deep = harness.play(rows[10].script);
    EXPECT_EQ(deep.reply, "GO\nOK\n");
    EXPECT_TRUE(fs::exists(harness.inbox / "F" / deepPath(1000)));
    fs::remove_all(harness.inbox / "F");
    playRows(harness, {rows.end() - 2, rows.end()});
}

TEST(HostileServerTest, LinksAreNeverWrittenThrough) {
    ServerHarness harness;
    harness.create().start();
    const fs::path outside = harness.temp / "outside";
    fs::create_directories(outside / "folder");
    writeFile(outside / "target.txt", "target");
    const auto plant = [&] {
        fs::create_symlink(outside / "target.txt", harness.inbox / "leaf.txt");
        fs::create_symlink(outside / "folder", harness.inbox / "parent");
        fs::create_symlink(harness.temp / "nowhere", harness.inbox / "dangling.txt");
    };
    plant();
    const auto file = [](const std::string& name) { return once(bytes(prefixed(json(name)), "x")); };
    const auto batch = [](const std::string& p) {
        return once(bytes(prefixed(R"({"v":3,"name":"1 item","size":1,"from":"t","batch":true,"files":[{"p":")" + p +
                                   R"(","s":1}]})"),
                          "x"));
    };
    // Two-part rows: the first byte of the first file arrives, then the folder the next file goes into is
    // swapped for a link to outside, or the receive folder itself is deleted and made again.
    const auto midway = [&](const std::string& name, std::function<void()> act) {
        auto head = bytes(prefixed(json(name, R"([{"p":"a","s":2},{"p":"sub/b","s":1}])", 3, 2)), "a");
        return PeerScript{{head, {'a', 'b'}}, [&, name] { return fs::exists(harness.inbox / name / "a"); }, act};
    };
    const auto swap = [&] {
        fs::remove_all(harness.inbox / "S/sub");
        fs::create_symlink(outside / "folder", harness.inbox / "S/sub");
    };
    const auto renew = [&] {
        fs::remove_all(harness.inbox);
        fs::create_directories(harness.inbox);
        plant();
    };
    const std::vector<Row> rows{
        {"link at the leaf: a numbered name", file("leaf.txt"), {"GO\nOK\n", {"leaf 2.txt"}}},
        {"link as a parent folder: a numbered root", batch("parent/x"), {"GO\nOK\n", {"parent 2/", "parent 2/x"}}},
        {"dangling link with the name", file("dangling.txt"), {"GO\nERR\n", {}, true}},
        {"folder swapped for a link mid-transfer", midway("S", swap), {"", {}, true}},
        {"receive folder deleted mid-transfer", midway("D", renew), {"", {}, true}},
    };
    playRows(harness, rows);
    EXPECT_TRUE(fs::is_empty(outside / "folder"));
}

// Two transfers with the same name at once get two names.
TEST(HostileServerTest, SameNamesGetNumberedNamesUntilTheyRunOut) {
    ServerHarness harness;
    harness.create().start();
    const auto sent = bytes(prefixed(json("twin.txt", "", 4)), "twin");
    std::vector<Exchange> outcomes(2);
    for (auto& outcome : outcomes) {
        asio::co_spawn(harness.io, exchangeWith(harness.server->port(), std::nullopt, sent),
                       [&](std::exception_ptr, Exchange done) { outcome = std::move(done); });
    }
    harness.io.restart();
    harness.io.run_for(10s);
    EXPECT_EQ(outcomes[0].reply, "GO\nOK\n");
    EXPECT_EQ(outcomes[1].reply, "GO\nOK\n");
    EXPECT_EQ(treeOf(harness.inbox), (Tree{"twin.txt", "twin 2.txt"}));

    // Numbered names run out after ten thousand variants.
    writeFile(harness.inbox / "n.txt", "");
    for (int number = 2; number <= kMaxNumberedVariant; ++number) {
        writeFile(harness.inbox / ("n " + std::to_string(number) + ".txt"), "");
    }
    const auto before = treeOf(harness.inbox);
    EXPECT_EQ(harness.exchange(bytes(prefixed(json("n.txt")), "x")).reply, "GO\nERR\n");
    EXPECT_EQ(harness.reports.finish(3).error(), TransferError::io(l10n::L::t("err.createFile")));
    EXPECT_EQ(treeOf(harness.inbox), before);
}

// A full or read-only receive folder: each is a clean failure. Mounting needs root;
// the test gets its own mount namespace, so nothing it mounts is seen outside.
TEST(HostileServerTest, FullOrReadOnlyFolderFailsCleanly) {
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        if (std::getenv("CI") != nullptr && std::string_view(std::getenv("CI")) == "true") {
            FAIL() << "CI must run this test as root";
        }
        GTEST_SKIP() << "SKIPPED: mounting a small file system needs root";
    }
    ServerHarness harness;
    ASSERT_EQ(::mount("tmpfs", harness.inbox.c_str(), "tmpfs", 0, "size=64k"), 0);
    harness.create().start();
    const std::string big(128 * 1024, 'b');
    const std::vector<Row> rows{
        {"announced size beyond the free space", once(prefixed(json("big", "", 1 << 20))), {"GO\nERR\n", {}, true}},
        {"entries beyond the free space while size says 1",
         once(bytes(prefixed(json("F", R"([{"p":"a","s":131072}])", 1)), big)),
         {"GO\n", {}, true}},
    };
    playRows(harness, rows);
    ASSERT_EQ(::mount(nullptr, harness.inbox.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
    const auto reports = harness.reports.read([&] { return harness.reports.finished.size(); });
    EXPECT_EQ(harness.exchange(bytes(prefixed(json("ro.txt")), "x")).reply, "GO\n");
    EXPECT_EQ(harness.reports.finish(reports + 1).error(), TransferError::io(l10n::L::t("err.createFile")));
    EXPECT_EQ(treeOf(harness.inbox), Tree{});
    ::umount2(harness.inbox.c_str(), MNT_DETACH);
}

// A TLS 1.2-only client is refused by the listener itself (StreamTest).
TEST(HostileServerTest, TlsListenerRefusesPlainBytesAndUnprovenSenders) {
    ServerHarness harness(true);
    std::vector<std::optional<std::string>> asked;
    harness.create().decide = [&](const FileHeader&, const std::optional<std::string>& key, auto answer) {
        asked.push_back(key);
        answer(true);
    };
    harness.server->start();
    const identity::Identity sender(keysIn(harness.temp / "sender")), other(keysIn(harness.temp / "other"));
    const auto file = test::header("x", 1, Wire::generationTls);
    auto borrowedCert = harness.signedBy(sender, file);
    borrowedCert.cert = platform::base64Encode(other.certDer());
    auto badBase64 = harness.signedBy(sender, file);
    badBase64.sig = "not base64!";
    for (const auto& refused :
         {file, harness.signedBy(sender, file, other.ownFingerprint()), borrowedCert, badBase64}) {
        EXPECT_EQ(harness.send(refused, "x").reply, "NO\n");
    }
    EXPECT_TRUE(asked.empty()) << "refused before the gate";

    auto plain = runFor(harness.io, exchangeWith(harness.server->port(), std::nullopt, prefixed(json("p"))), 30s);
    EXPECT_EQ(plain.value_or(Exchange{}).reply, "") << "plain bytes never pass the TLS handshake";

    harness.expectStillServes(&sender);
    EXPECT_EQ(asked, std::vector<std::optional<std::string>>{sender.ownFingerprint()});
}

// Names from the network reach console lines ("FAILED: ...", the listener's line) only through printable().
TEST(HostileServerTest, ConsoleLinesNeverCarryRawControls) {
    const std::vector<std::pair<std::string, std::string>> rows{
        {"plain name.txt", "plain name.txt"},
        {"Zoë 日本", "Zoë 日本"},
        {"a\nFAKE LINE", "a\\x0aFAKE LINE"},
        {"\x1b[2Jwiped", "\\x1b[2Jwiped"},
        {"tab\there\x7f", "tab\\x09here\\x7f"},
        {"c1 \xC2\x9B", "c1 \\u009b"},
        {"txt.\xE2\x80\xAE"
         "exe",
         "txt.\\u202eexe"},
        {"iso \xE2\x81\xA6x\xE2\x81\xA9", "iso \\u2066x\\u2069"},
        {"bad \xC3\x28 \xF0\x9F", "bad \\xc3( \\xf0\\x9f"},
        {std::string("nul \0 byte", 10), "nul \\x00 byte"},
    };
    for (const auto& [raw, shown] : rows) {
        EXPECT_EQ(platform::printable(raw), shown) << shown;
    }
}

constexpr int kConnections = 1000;

// AddressSanitizer keeps freed memory in quarantine, so the resident size says nothing there.
#if defined(__SANITIZE_ADDRESS__)
#define QB_UNDER_ASAN
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_UNDER_ASAN
#endif
#endif

// The resident memory of this process, in KiB.
long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 10, '\n');
    }
    return 0;
}

struct ResourceRow {
    const char* name;
    bool tls;
    platform::Bytes sent;  // then nothing more
};

// How many of `sockets` the server has closed, once that number stops growing (bounded wait).
int closedByServer(std::vector<asio::ip::tcp::socket>& sockets, int expectedAtLeast) {
    int closed = 0;
    for (int round = 0; round < 200; ++round) {
        std::vector<pollfd> polls;
        for (auto& socket : sockets) {
            polls.push_back({socket.native_handle(), POLLIN | POLLRDHUP, 0});
        }
        ::poll(polls.data(), polls.size(), 0);
        closed = static_cast<int>(std::count_if(polls.begin(), polls.end(), [](const pollfd& p) {
            return (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        }));
        if (closed >= expectedAtLeast) {
            break;
        }
        std::this_thread::sleep_for(50ms);
    }
    return closed;
}

// A TLS peer that sends nothing stays in the handshake, where the same cap holds it.
TEST(HostileResourceTest, ThousandsOfSilentConnectionsAreCappedAndCostNothingLasting) {
    platform::raiseOpenFileLimit();
    const std::vector<ResourceRow> rows{
        {"1,000 idle connections", false, {}},
        {"1,000 prefixes announcing 1 MiB", false, prefixed("", 1'048'575)},
        {"1,000 idle TLS connections", true, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ServerHarness harness(row.tls);
        harness.create().start();
        const std::optional<identity::Identity> sender =
            row.tls ? std::optional<identity::Identity>(std::in_place, keysIn(harness.temp / "sender")) : std::nullopt;
        harness.expectStillServes(sender ? &*sender : nullptr);
        const long before = residentKiB();
        std::vector<asio::ip::tcp::socket> sockets;
        for (int i = 0; i < kConnections; ++i) {
            asio::ip::tcp::socket socket(harness.io);
            socket.connect({asio::ip::make_address("127.0.0.1"), harness.server->port()});
            if (!row.sent.empty()) {
                asio::write(socket, asio::buffer(row.sent));
            }
            sockets.push_back(std::move(socket));
        }
        const int cap = static_cast<int>(harness.options.waitingCaps.perAddress);
        const int held = kConnections - closedByServer(sockets, kConnections - cap);
        const long during = residentKiB();
        harness.expectStillServes(sender ? &*sender : nullptr);
        std::cout << "[figures] " << row.name << ": " << held << " held by the server, resident " << before
                  << " KiB before, " << during << " KiB while held\n";
        EXPECT_LE(held, cap);
#ifndef QB_UNDER_ASAN
        EXPECT_LT(during - before, 8 * 1024) << "memory grew with the silent connections";
#endif
    }
}

}  // namespace
}  // namespace qb::transfer
