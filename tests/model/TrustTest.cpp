#include <gtest/gtest.h>

#include "l10n/L.h"
#include "model/ModelTestSupport.h"

namespace qb::test {
namespace {

using model::IncomingRequest;
using model::Peer;
using model::TextMap;

class TrustTest : public ::testing::Test {
protected:
    void SetUp() override {
        l10n::L::setLang("en");
        h.make();
        h.model->setDeviceName("Me");
    }
    model::AppModel& m() { return *h.model; }

    ModelHarness h;
};

TEST_F(TrustTest, DevicesAreAddedOnceNeverThisOneAndOlderPeersByNameWithoutHandshake) {
    m().addDevice(K1, std::string("Laptop"));
    m().addDevice(K1, std::string("Other"));
    m().addDevice("Me", std::nullopt);
    m().addDevice(kOwnKey, std::nullopt);
    m().pairDevice(peer("Old", 3, std::nullopt));
    m().pairDevice(peer("Four", 4, K2));
    m().pairDevice(peer("Me", 3, std::nullopt));
    m().pairDevice(peer("Mirror", 5, kOwnKey));
    m().pairDevice(peer("Old", 3, std::nullopt));
    EXPECT_EQ(m().myDevices(), (std::vector<std::string>{K1, "Old", "Four"}));
    EXPECT_EQ(m().deviceNames(), (TextMap{{K1, "Laptop"}, {"Old", "Old"}, {"Four", "Four"}}));
    EXPECT_TRUE(m().jobs().empty()) << "no handshake for these";
    EXPECT_EQ(h.store().stringList("myDevices"), m().myDevices());
    EXPECT_EQ(h.store().stringMap("deviceNames"), m().deviceNames());
}

TEST_F(TrustTest, RemoveDeviceForgetsEveryKeyPointingAtItAndItsLabel) {
    m().setKnownKeys({{"Laptop", K1}, {"Laptop (old name)", K1}, {"Phone", K2}});
    m().addDevice(K1, std::string("Laptop"));
    m().setTrusted({K1});
    m().removeDevice(K1);
    EXPECT_TRUE(m().myDevices().empty());
    EXPECT_TRUE(m().deviceNames().empty());
    EXPECT_EQ(m().knownKeys(), (TextMap{{"Phone", K2}}));
    EXPECT_EQ(m().trusted(), std::vector<std::string>{K1});
    EXPECT_EQ(h.store().stringMap("knownKeys"), m().knownKeys());
}

TEST_F(TrustTest, KnownSenderByKeyInMyDevicesByNameOrByRecordedKey) {
    m().setMyDevices({K1, "Phone"});
    m().setKnownKeys({{"Desk", K2}});
    EXPECT_TRUE(m().isKnownSender("Anyone", K1));
    EXPECT_TRUE(m().isKnownSender("Phone", std::string(64, '9')));
    EXPECT_TRUE(m().isKnownSender("Renamed", K2));
    EXPECT_FALSE(m().isKnownSender("Desk", std::nullopt));
    EXPECT_FALSE(m().isKnownSender("Stranger", std::string(64, '9')));
}

TEST_F(TrustTest, KeyChangeIsAskedWithTitleKeysAndButtonsAndRecordedOnlyOnYes) {
    m().setKnownKeys({{"Desk", K1}});
    EXPECT_FALSE(m().trustNewKey("Desk", K1, K2));
    EXPECT_EQ(m().knownKeys().at("Desk"), K1);
    ASSERT_EQ(h.prompts.size(), 1u);
    const auto& prompt = h.prompts[0];
    EXPECT_EQ(prompt.title, "This device's security key has changed");
    EXPECT_EQ(prompt.text, "Desk\nKey 11111111 \u2192 Key 22222222");
    EXPECT_EQ(prompt.acceptLabel, "Accept");
    EXPECT_EQ(prompt.declineLabel, "Decline");

    h.acceptKeyChange = true;
    EXPECT_TRUE(m().trustNewKey("Desk", K1, K2));
    EXPECT_EQ(h.store().stringMap("knownKeys"), (TextMap{{"Desk", K2}}));
}

IncomingRequest request(std::string from, std::optional<std::string> key, bool pair, std::vector<bool>& answers) {
    IncomingRequest r;
    r.id = from + "-id";
    r.from = std::move(from);
    r.key = std::move(key);
    r.pair = pair;
    r.answer = [&answers](bool accept) { answers.push_back(accept); };
    return r;
}

TEST_F(TrustTest, AcceptingRecordsTheSenderKeyPairingAddsTheDeviceAndRememberTrustsIt) {
    std::vector<bool> answers;
    m().setKnownKeys({{"Desk", K1}});
    m().respond(request("Desk", K2, false, answers), true, false);
    m().respond(request("Tab", K1, true, answers), true, true);
    m().respond(request("Tab", K1, false, answers), true, true);
    EXPECT_EQ(m().knownKeys(), (TextMap{{"Desk", K2}, {"Tab", K1}}));
    EXPECT_EQ(m().myDevices(), std::vector<std::string>{K1});
    EXPECT_EQ(m().deviceNames(), (TextMap{{K1, "Tab"}}));
    EXPECT_EQ(m().trusted(), std::vector<std::string>{K1});
    EXPECT_EQ(h.store().stringMap("trustedNames"), (TextMap{{K1, "Tab"}}));

    // Nothing is recorded for a request without a key, nor for a refusal.
    m().respond(request("Plain", std::nullopt, false, answers), true, true);
    m().respond(request("Nope", K2, true, answers), false, true);
    EXPECT_EQ(m().knownKeys().size(), 2u);
    EXPECT_EQ(m().trusted().size(), 1u);
    EXPECT_EQ(answers, (std::vector<bool>{true, true, true, true, false}));
}

}  // namespace
}  // namespace qb::test
