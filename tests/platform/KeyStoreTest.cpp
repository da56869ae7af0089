#include "platform/KeyStore.h"
#include "platform/SettingsStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "platform/TestCertificate.h"
#include "support/TestEnv.h"

namespace qb::platform {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::size_t fileCount(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

class KeyStoreTest : public ::testing::Test {
protected:
    test::TempDir temp;
    fs::path folder = temp / "data" / "keystore";
    KeyStore store{folder};
    PrivateKey key = test::newKey();
    Bytes certificate = test::selfSignedCertificate(key, "Quobblefin 0A1B2C3D");
};

// A missing folder reads as an empty store and reading does not create it.
TEST_F(KeyStoreTest, PairsAStoredCertificateWithItsStoredKey) {
    EXPECT_EQ(store.listKeys()->size(), 0u);
    EXPECT_FALSE(store.deleteKeysWithLabel("x"));
    EXPECT_FALSE(store.deleteCertificatesWhoseSubjectContains("x"));
    EXPECT_FALSE(store.findPrivateKeyFor(certificate));
    EXPECT_FALSE(fs::exists(folder));

    ASSERT_FALSE(store.addPrivateKey(key, "Quobblefin Identity", asBytes("com.example.tag")));
    EXPECT_FALSE(store.findPrivateKeyFor(certificate)) << "a key alone is no identity";
    ASSERT_FALSE(store.addCertificate(certificate));

    const auto found = KeyStore(folder).findPrivateKeyFor(certificate);
    ASSERT_TRUE(found);
    EXPECT_EQ(*found->publicPoint(), *key.publicPoint());

    const PrivateKey stranger = test::newKey();
    const Bytes strangerCertificate = test::selfSignedCertificate(stranger, "Stranger");
    ASSERT_FALSE(store.addCertificate(strangerCertificate));
    EXPECT_FALSE(store.findPrivateKeyFor(strangerCertificate)) << "its key was never stored";
    EXPECT_FALSE(store.findPrivateKeyFor(toBytes("garbage")));
}

// Adding the same certificate again is success, the same key is not; every file is born private.
TEST_F(KeyStoreTest, FilesAreBornPrivateAndRepeatsAreNotStored) {
    const mode_t oldMask = ::umask(0);
    ASSERT_FALSE(store.addCertificate(certificate));
    EXPECT_FALSE(store.addCertificate(certificate));
    ASSERT_FALSE(store.addPrivateKey(key, "one", {}));
    EXPECT_EQ(store.addPrivateKey(key, "two", {}), KeyStoreError::duplicateKey);
    EXPECT_EQ(store.addCertificate(toBytes("garbage")), KeyStoreError::badCertificate);
    ::umask(oldMask);

    EXPECT_EQ(modeOf(folder), 0700u);
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_EQ(modeOf(entry.path()), 0600u) << entry.path();
    }
    EXPECT_EQ(fileCount(folder), 2u) << "one certificate, one key, no temporary files left behind";
}

// Keys go by their exact label, certificates by text in their subject; a damaged item is left out of the list.
TEST_F(KeyStoreTest, DeletesKeysByExactLabelAndCertificatesBySubjectText) {
    const Bytes tag = {0x01, 0x00, 0xFF};
    for (const char* label : {"Quobblefin Identity.test.X", "Quobblefin Identity.test.X", "quobblefin identity"}) {
        ASSERT_FALSE(store.addPrivateKey(test::newKey(), label, {}));
    }
    ASSERT_FALSE(store.addPrivateKey(key, "Quobblefin Identity", tag));
    std::ofstream(folder / "key-damaged.json") << "{ not json";
    ASSERT_EQ(store.listKeys()->size(), 4u) << "the damaged item is left out";

    EXPECT_FALSE(store.deleteKeysWithLabel("Quobblefin Identity.test.X"));
    EXPECT_FALSE(store.deleteKeysWithLabel("Quobblefin"));
    const auto keys = *store.listKeys();
    ASSERT_EQ(keys.size(), 2u);
    const auto kept = keys[0].label == "Quobblefin Identity" ? keys[0] : keys[1];
    EXPECT_EQ(kept.label, "Quobblefin Identity");
    EXPECT_EQ(kept.tag, tag);

    const PrivateKey testKey = test::newKey();
    const Bytes testCertificate = test::selfSignedCertificate(testKey, "Quobblefin Test 0A1B2C3D");
    ASSERT_FALSE(store.addCertificate(certificate));
    ASSERT_FALSE(store.addCertificate(testCertificate));
    ASSERT_FALSE(store.addPrivateKey(testKey, "t", {}));
    ASSERT_TRUE(store.findPrivateKeyFor(testCertificate));
    const std::size_t before = fileCount(folder);
    EXPECT_FALSE(store.deleteCertificatesWhoseSubjectContains("Quobblefin Test"));
    EXPECT_FALSE(store.findPrivateKeyFor(testCertificate));
    EXPECT_TRUE(store.findPrivateKeyFor(certificate)) << "the other certificate and the keys stay";
    EXPECT_EQ(fileCount(folder), before - 1);
}

// The key store and the settings file find their folders by one rule: an absolute XDG variable, else below home.
TEST(DefaultFolders, FollowAnAbsoluteXdgVariableElseTheHomeFolder) {
    const test::ScopedEnv home("HOME", "/home/someone");
    for (const std::optional<std::string>& ignored :
         {std::optional<std::string>{}, std::optional<std::string>{""}, std::optional<std::string>{"relative/x"}}) {
        const test::ScopedEnv data("XDG_DATA_HOME", ignored);
        const test::ScopedEnv config("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(KeyStore::defaultFolder(), fs::path("/home/someone/.local/share/quobblefin/keystore"));
        EXPECT_EQ(SettingsStore::defaultFile(), fs::path("/home/someone/.config/quobblefin/settings.json"));
    }
    const test::ScopedEnv data("XDG_DATA_HOME", "/data");
    const test::ScopedEnv config("XDG_CONFIG_HOME", "/xdg/config");
    EXPECT_EQ(KeyStore::defaultFolder(), fs::path("/data/quobblefin/keystore"));
    EXPECT_EQ(SettingsStore::defaultFile(), fs::path("/xdg/config/quobblefin/settings.json"));
}

}  // namespace
}  // namespace qb::platform
