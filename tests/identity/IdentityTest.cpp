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
    Identity::Options options(bool ephemeral = false) {
        return {ephemeral, temp / "keystore", temp / "settings.json", &console};
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

TEST(Fingerprint, IsTheLowerCaseHexSha256) {
    EXPECT_EQ(Identity::fingerprint(platform::asBytes("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_THAT(Identity::fingerprint({}), MatchesRegex("[0-9a-f]{64}"));
}

TEST(IdentityOptions, OnlyTheExactValueOneIsTestMode) {
    const std::optional<std::string> normalValues[] = {std::nullopt, "", "true", "1 ", "01"};
    for (const auto& value : normalValues) {
        test::ScopedEnv env("QUOBBLEFIN_EPHEMERAL_ID", value);
        EXPECT_FALSE(Identity::optionsFromEnvironment().ephemeral) << value.value_or("<unset>");
    }
    test::ScopedEnv env("QUOBBLEFIN_EPHEMERAL_ID", "1");
    EXPECT_TRUE(Identity::optionsFromEnvironment().ephemeral);
}

TEST_F(IdentityTest, NormalIdentityPersistsAcrossStarts) {
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
    const Identity second(options());
    EXPECT_EQ(second.ownFingerprint(), fingerprint);
    EXPECT_EQ(storedLabels().size(), 1u) << "no new key";
    EXPECT_THAT(console.str(), IsEmpty());
}

TEST_F(IdentityTest, ALostKeyOrADamagedSettingMakesANewIdentity) {
    const std::string original = Identity(options()).ownFingerprint();
    platform::KeyStore(temp / "keystore").deleteKeysWithLabel("Quobblefin Identity");

    const Identity renewed(options());
    ASSERT_TRUE(renewed.hasIdentity());
    EXPECT_NE(renewed.ownFingerprint(), original);
    EXPECT_EQ(storedCertSetting(), platform::base64Encode(renewed.certDer()));

    platform::SettingsStore(temp / "settings.json").setString("identity.cert", "not Base64!");
    const Identity afterDamage(options());
    EXPECT_NE(afterDamage.ownFingerprint(), renewed.ownFingerprint());
    EXPECT_EQ(storedCertSetting(), platform::base64Encode(afterDamage.certDer()));
    EXPECT_THAT(console.str(), IsEmpty());
}

TEST_F(IdentityTest, EphemeralIdentityIsMarkedAndLeavesTheSettingsAlone) {
    const Identity identity(options(true));
    ASSERT_TRUE(identity.hasIdentity());
    EXPECT_TRUE(identity.ephemeral());
    const std::string uuid = "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}";
    EXPECT_THAT(identity.label(), MatchesRegex("Quobblefin Identity\\.test\\." + uuid));
    EXPECT_EQ(platform::toString(identity.tag()), "com.kestrun.quobblefin.identity" + identity.label().substr(19));
    EXPECT_THAT(commonName(identity), MatchesRegex("Quobblefin Test [0-9A-F]{8}"));
    EXPECT_FALSE(storedCertSetting());
    EXPECT_THAT(storedLabels(), ::testing::ElementsAre(identity.label()));
}

TEST_F(IdentityTest, PurgeRemovesOnlyTestItems) {
    const Identity normal(options());
    const Identity ephemeral(options(true));
    ASSERT_EQ(storedLabels().size(), 2u);

    Identity::purgeTestItems(temp / "keystore");
    EXPECT_THAT(storedLabels(), ::testing::ElementsAre("Quobblefin Identity"));
    platform::KeyStore store(temp / "keystore");
    EXPECT_FALSE(store.findPrivateKeyFor(ephemeral.certDer()));
    EXPECT_TRUE(store.findPrivateKeyFor(normal.certDer()));
    EXPECT_TRUE(ephemeral.sign(platform::asBytes("still usable in memory")));

    const Identity later(options(true));
    EXPECT_THAT(storedLabels(), ::testing::UnorderedElementsAre("Quobblefin Identity", later.label())) << "purged at start";
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
    EXPECT_EQ(line.str(), "fingerprint " + identity.ownFingerprint() + " der " +
                              std::to_string(identity.certDer().size()) + " bytes selfVerify true\n");
    std::ifstream written(temp / "cert.der", std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(written), {}), identity.certDer());

    std::ostringstream unwritable;
    EXPECT_EQ(runSelfTest(identity, temp / "missing" / "cert.der", unwritable), 0);
}

}  // namespace
}  // namespace qb::identity
