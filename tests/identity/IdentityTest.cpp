#include "identity/HeaderSignature.h"
#include "identity/Identity.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "platform/KeyStore.h"
#include "platform/SettingsStore.h"
#include "support/TestEnv.h"

namespace qb::identity {
namespace {

namespace fs = std::filesystem;
using platform::Bytes;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

class IdentityTest : public ::testing::Test {
protected:
    Identity::Options options(bool ephemeral = false, const std::string& name = "") {
        return {ephemeral, temp / (name + "keystore"), temp / (name + "settings.json"), &console};
    }
    std::vector<std::string> storedLabels() const {
        std::vector<std::string> labels;
        const auto entries = platform::KeyStore(temp / "keystore").listKeys();
        for (const auto& entry : entries.value()) {
            labels.push_back(entry.label);
        }
        return labels;
    }
    std::optional<std::string> storedCertSetting() const {
        return platform::SettingsStore(temp / "settings.json").string("identity.cert");
    }
    std::string commonName(const Identity& identity) const {
        return platform::parseCertificate(identity.certDer())->subjectText();
    }

    test::TempDir temp;
    std::ostringstream console;
};

TEST(IdentityOptions, OnlyTheExactValueOneIsTestMode) {
    const std::optional<std::string> normalValues[] = {std::nullopt, "", "true", "1 ", "01"};
    for (const auto& value : normalValues) {
        test::ScopedEnv env("QUOBBLEFIN_EPHEMERAL_ID", value);
        EXPECT_FALSE(Identity::optionsFromEnvironment().ephemeral) << value.value_or("<unset>");
    }
    test::ScopedEnv env("QUOBBLEFIN_EPHEMERAL_ID", "1");
    EXPECT_TRUE(Identity::optionsFromEnvironment().ephemeral);
}

TEST_F(IdentityTest, NormalIdentityPersistsAcrossStartsAndALostKeyOrDamagedSettingRenewsIt) {
    std::string fingerprint;
    {
        const Identity first(options());
        ASSERT_TRUE(first.hasIdentity());
        EXPECT_EQ(first.label(), "Quobblefin Identity");
        EXPECT_EQ(first.tag(), platform::toBytes("com.kestrun.quobblefin.identity"));
        EXPECT_THAT(commonName(first), MatchesRegex("Quobblefin [0-9A-F]{8}"));
        EXPECT_EQ(storedCertSetting(), platform::base64Encode(first.certDer()));
        fingerprint = first.ownFingerprint();
    }
    EXPECT_EQ(Identity(options()).ownFingerprint(), fingerprint);
    EXPECT_EQ(storedLabels().size(), 1u) << "no new key";

    platform::KeyStore(temp / "keystore").deleteKeysWithLabel("Quobblefin Identity");
    const Identity renewed(options());
    ASSERT_TRUE(renewed.hasIdentity());
    EXPECT_NE(renewed.ownFingerprint(), fingerprint);
    EXPECT_EQ(storedCertSetting(), platform::base64Encode(renewed.certDer()));

    platform::SettingsStore(temp / "settings.json").setString("identity.cert", "not Base64!");
    const Identity afterDamage(options());
    EXPECT_NE(afterDamage.ownFingerprint(), renewed.ownFingerprint());
    EXPECT_EQ(storedCertSetting(), platform::base64Encode(afterDamage.certDer()));
    EXPECT_THAT(console.str(), IsEmpty());
}

// A test-mode identity is marked in its label, tag and name, stays out of the settings, and is purged at the next
// start of one while the normal identity stays.
TEST_F(IdentityTest, EphemeralIdentityIsMarkedLeavesTheSettingsAloneAndOnlyItIsPurged) {
    const Identity ephemeral(options(true));
    ASSERT_TRUE(ephemeral.hasIdentity());
    EXPECT_TRUE(ephemeral.ephemeral());
    const std::string uuid = "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}";
    EXPECT_THAT(ephemeral.label(), MatchesRegex("Quobblefin Identity\\.test\\." + uuid));
    EXPECT_EQ(platform::toString(ephemeral.tag()), "com.kestrun.quobblefin.identity" + ephemeral.label().substr(19));
    EXPECT_THAT(commonName(ephemeral), MatchesRegex("Quobblefin Test [0-9A-F]{8}"));
    EXPECT_FALSE(storedCertSetting());
    EXPECT_THAT(storedLabels(), ::testing::ElementsAre(ephemeral.label()));

    const Identity normal(options());
    Identity::purgeTestItems(temp / "keystore");
    EXPECT_THAT(storedLabels(), ::testing::ElementsAre("Quobblefin Identity"));
    platform::KeyStore store(temp / "keystore");
    EXPECT_FALSE(store.findPrivateKeyFor(ephemeral.certDer()));
    EXPECT_TRUE(store.findPrivateKeyFor(normal.certDer()));
    EXPECT_TRUE(ephemeral.sign(platform::asBytes("still usable in memory")));

    const Identity later(options(true));
    EXPECT_THAT(storedLabels(), ::testing::UnorderedElementsAre("Quobblefin Identity", later.label()))
        << "purged at start";
}

TEST_F(IdentityTest, EphemeralItemsAreGoneAfterTheProcessExits) {
    const fs::path folder = temp / "keystore";
    EXPECT_EXIT(
        {
            const Identity identity(options(true));
            const bool stored = identity.hasIdentity() && platform::KeyStore(folder).listKeys()->size() == 1;
            std::exit(stored ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_THAT(storedLabels(), IsEmpty());
    EXPECT_TRUE(fs::is_empty(folder)) << "no certificate left";
}

TEST_F(IdentityTest, AnUnusableKeyStoreLeavesNoIdentity) {
    std::ofstream(temp / "file") << "x";
    const Identity identity({false, temp / "file" / "keystore", temp / "settings.json", &console});
    EXPECT_FALSE(identity.hasIdentity());
    EXPECT_THAT(identity.certDer(), IsEmpty());
    EXPECT_EQ(identity.privateKey(), nullptr);
    EXPECT_FALSE(identity.sign(platform::asBytes("x")));
    EXPECT_THAT(console.str(), StartsWith("[quobblefin] identity: key creation failed "));
    EXPECT_THAT(console.str(), HasSubstr("\n[quobblefin] identity: keychain unavailable \u2014 TLS disabled\n"));

    std::ostringstream line;
    EXPECT_EQ(runSelfTest(identity, temp / "cert.der", line), 1);
    EXPECT_THAT(line.str(), MatchesRegex("fingerprint [0-9a-f]{64} der 0 bytes selfVerify false\n"));
}

TEST_F(IdentityTest, SelfTestWritesTheCertificateAndVerifiesItsOwnSignature) {
    const Identity identity(options());
    std::ostringstream line;
    EXPECT_EQ(runSelfTest(identity, temp / "cert.der", line), 0);
    EXPECT_EQ(identity.ownFingerprint(), platform::hex(platform::sha256(identity.certDer())))
        << "the lower-case hex SHA-256 of the certificate";
    EXPECT_EQ(Identity::fingerprint(platform::asBytes("abc")),
              platform::hex(platform::sha256(platform::asBytes("abc"))));
    EXPECT_EQ(line.str(), "fingerprint " + identity.ownFingerprint() + " der " +
                              std::to_string(identity.certDer().size()) + " bytes selfVerify true\n");
    std::ifstream written(temp / "cert.der", std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(written), {}), identity.certDer());

    std::ostringstream unwritable;
    EXPECT_EQ(runSelfTest(identity, temp / "missing" / "cert.der", unwritable), 0);
}

// Only the intended receiver learns the sender's key from a header's proof; every missing, garbled or borrowed
// field is refused.
TEST_F(IdentityTest, HeaderSignatureProvesTheSenderOnlyToItsReceiver) {
    const Identity sender(options(false, "sender-")), receiver(options(false, "receiver-")),
        bystander(options(false, "bystander-"));
    const std::string own = receiver.ownFingerprint();
    EXPECT_EQ(signedContext(own), "quobblefin-v4:" + own);
    const auto proof = *signForReceiver(sender, own);
    EXPECT_EQ(checkSenderSignature(proof.certB64, proof.sigB64, own), sender.ownFingerprint());

    using Field = std::optional<std::string>;
    const struct {
        const char* what;
        Field cert, sig;
        std::string receiver;
    } refused[] = {
        {"replayed to another receiver", proof.certB64, proof.sigB64, bystander.ownFingerprint()},
        {"no cert", std::nullopt, proof.sigB64, own},
        {"no sig", proof.certB64, std::nullopt, own},
        {"cert not canonical Base64", proof.certB64 + "\n", proof.sigB64, own},
        {"sig not Base64", proof.certB64, "%%%%", own},
        {"cert not a certificate", platform::base64Encode(platform::asBytes("no cert")), proof.sigB64, own},
        {"signed by another key", proof.certB64, signForReceiver(bystander, own)->sigB64, own},
        {"a receiver without a key checks nothing", proof.certB64, proof.sigB64, ""},
    };
    for (const auto& row : refused) {
        EXPECT_FALSE(checkSenderSignature(row.cert, row.sig, row.receiver)) << row.what;
    }
}

}  // namespace
}  // namespace qb::identity
