#include <gtest/gtest.h>

#include "discovery/PeerRecord.h"

namespace qb::discovery {
namespace {

using Result = platform::ServiceBrowser::Result;
using Entries = std::vector<std::string>;

const std::string kKey(64, 'a');
const std::string kOwn(64, 'e');

Result result(const std::string& serviceName, std::optional<Entries> txt, int interface = 2) {
    return {platform::ServiceEndpoint(serviceName, "_quobblefin._tcp", "local", interface), std::move(txt)};
}

struct TxtCase {
    const char* what;
    std::optional<Entries> txt;
    std::string name;
    int proto;
    std::optional<std::string> key;
};

TEST(PeerRecordTest, TxtEntriesGiveThePeersFields) {
    const std::vector<TxtCase> cases{
        {"all three", Entries{"v=5", "n=Ann's laptop", "k=" + kKey}, "Ann's laptop", 5, kKey},
        {"generation 3 drops the key", Entries{"v=3", "k=" + kKey}, "svc", 3, std::nullopt},
        {"generation 4 keeps it", Entries{"v=4", "k=" + kKey}, "svc", 4, kKey},
        {"no v", Entries{"k=" + kKey}, "svc", 2, std::nullopt},
        {"empty v", Entries{"v=", "k=" + kKey}, "svc", 2, std::nullopt},
        {"v not a number", Entries{"v=abc", "k=" + kKey}, "svc", 2, std::nullopt},
        {"v with trailing text", Entries{"v=5x"}, "svc", 2, std::nullopt},
        {"signed v", Entries{"v=+5", "k=" + kKey}, "svc", 5, kKey},
        {"negative v", Entries{"v=-1"}, "svc", -1, std::nullopt},
        {"v overflows", Entries{"v=99999999999"}, "svc", 2, std::nullopt},
        {"k of 63", Entries{"v=5", "k=" + kKey.substr(1)}, "svc", 5, std::nullopt},
        {"k of 65", Entries{"v=5", "k=" + kKey + "a"}, "svc", 5, std::nullopt},
        {"empty n", Entries{"v=5", "n="}, "svc", 5, std::nullopt},
        {"entries without =", Entries{"n", "v"}, "svc", 2, std::nullopt},
        {"keys ignore case, first wins", Entries{"V=3", "v=5", "N=first", "n=second"}, "first", 3, std::nullopt},
        {"n not UTF-8", Entries{"v=5", "n=\xff\xfe"}, "svc", 5, std::nullopt},
        {"other entries ignored", Entries{"x=1", "v=5", "n=Bo"}, "Bo", 5, std::nullopt},
        {"no TXT record", std::nullopt, "svc", 2, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto peer = peerFrom(result("svc", c.txt), kOwn);
        ASSERT_TRUE(peer) << c.what;
        EXPECT_EQ(peer->name, c.name) << c.what;
        EXPECT_EQ(peer->serviceName, "svc") << c.what;
        EXPECT_EQ(peer->proto, c.proto) << c.what;
        EXPECT_EQ(peer->key, c.key) << c.what;
    }
}

TEST(PeerRecordTest, ListDropsThisDeviceAndRepeatsAndSortsByName) {
    const std::vector<Result> results{
        result("bob", Entries{"v=5", "n=bob"}),
        result("Me", Entries{"v=5", "n=Me"}),
        result("Mirror", Entries{"v=5", "n=Mirror", "k=" + kOwn}),
        result("carol", Entries{"v=3", "n=carol"}),
        result("bob", Entries{"v=3", "n=bob again"}, 7),
        result("Alice", Entries{"v=5", "n=Alice"}),
        result("alice2", Entries{"v=5", "n=alice"}),
    };
    const auto peers = peerList(results, {"Me", kOwn}, "en");
    std::vector<std::string> names;
    for (const auto& peer : peers) {
        names.push_back(peer.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alice", "alice", "bob", "carol"}));
    EXPECT_EQ(peers[2].proto, 5) << "the first report of a service name wins";
    EXPECT_EQ(std::get<platform::ServiceEndpoint>(peers[2].endpoint).interfaceIndex, 2);
}

TEST(PeerRecordTest, SortFollowsTheLanguagesCollation) {
    std::vector<Peer> peers;
    for (const char* name : {"\xC3\xB6rjan", "zed", "Oskar"}) {
        peers.push_back({name, name, platform::HostPort("h", 1), 5, std::nullopt});
    }
    auto german = peers;
    sortByName(german, "de");
    EXPECT_EQ(german[0].name, "\xC3\xB6rjan") << "German sorts \xC3\xB6 with o";
    sortByName(peers, "sv");
    EXPECT_EQ(peers[2].name, "\xC3\xB6rjan") << "Swedish sorts \xC3\xB6 after z";
}

}  // namespace
}  // namespace qb::discovery
