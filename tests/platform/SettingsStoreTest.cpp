#include "platform/SettingsStore.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TestEnv.h"

namespace qb::platform {
namespace {

namespace fs = std::filesystem;
using qb::test::ScopedEnv;
using qb::test::TempDir;

void writeRaw(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string readRaw(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

std::size_t storedKeyCount(const fs::path& file) {
    const auto object = nlohmann::json::parse(readRaw(file), nullptr, false);
    return object.is_object() ? object.size() : 0;
}

unsigned permissions(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

std::vector<std::string> folderEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class SettingsStoreTest : public ::testing::Test {
protected:
    TempDir dir;
    fs::path file = dir / "settings.json";
    SettingsStore store{file};
};

TEST_F(SettingsStoreTest, EveryTypeRoundTripsThroughTheFileAndASecondStore) {
    const std::map<std::string, std::string> names{{"ab12", "Desk"}, {"ünï", "Zoë's Mac"}};
    ASSERT_TRUE(store.setString("deviceName", "Zoë's  Mac"));
    ASSERT_TRUE(store.setBoolean("playSound", false));
    ASSERT_TRUE(store.setInteger("min", std::numeric_limits<std::int64_t>::min()));
    ASSERT_TRUE(store.setInteger("max", std::numeric_limits<std::int64_t>::max()));
    ASSERT_TRUE(store.setStringList("trusted", {"b", "a", ""}));
    ASSERT_TRUE(store.setStringList("empty", {}));
    ASSERT_TRUE(store.setStringMap("deviceNames", names));

    const SettingsStore other(file);
    EXPECT_EQ(other.string("deviceName"), "Zoë's  Mac");
    EXPECT_EQ(other.boolean("playSound"), false);
    EXPECT_EQ(other.integer("min"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(other.integer("max"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(other.stringList("trusted"), (std::vector<std::string>{"b", "a", ""}));
    EXPECT_EQ(other.stringList("empty"), std::vector<std::string>{});
    EXPECT_EQ(other.stringMap("deviceNames"), names);
    EXPECT_TRUE(other.contains("playSound"));
    EXPECT_FALSE(other.contains("lang"));
    EXPECT_EQ(other.string("lang"), std::nullopt);

    ASSERT_TRUE(store.remove("playSound"));
    ASSERT_TRUE(store.remove("never there"));
    EXPECT_FALSE(other.contains("playSound"));
    EXPECT_EQ(other.string("deviceName"), "Zoë's  Mac");
}

TEST_F(SettingsStoreTest, DataOfEveryPaddingLengthRoundTripsAsTaggedBase64) {
    for (std::size_t length = 0; length <= 5; ++length) {
        Bytes bytes;
        for (std::size_t index = 0; index < length; ++index) {
            bytes.push_back(static_cast<std::uint8_t>(0xFD + index));
        }
        ASSERT_TRUE(store.setData("blob", bytes));
        EXPECT_EQ(store.data("blob"), bytes) << "length " << length;
    }
    ASSERT_TRUE(store.setData("blob", toBytes("hi!")));
    EXPECT_NE(readRaw(file).find(R"("$data": "aGkh")"), std::string::npos) << readRaw(file);
}

TEST_F(SettingsStoreTest, AValueOfAnotherTypeReadsAsAbsent) {
    writeRaw(file, R"({"s": "text", "b": 1, "i": 1.5, "big": 9223372036854775808, "n": null,
        "mixedList": ["a", 1], "mixedMap": {"a": "x", "b": true},
        "badData": {"$data": "a=b="}, "shortData": {"$data": "aGk"}, "taggedPlus": {"$data": "aGkh", "x": "y"},
        "dataNotText": {"$data": 5}})");
    EXPECT_EQ(store.boolean("s"), std::nullopt);
    EXPECT_EQ(store.integer("s"), std::nullopt);
    EXPECT_EQ(store.stringList("s"), std::nullopt);
    EXPECT_EQ(store.data("s"), std::nullopt);
    EXPECT_EQ(store.boolean("b"), std::nullopt);
    EXPECT_EQ(store.string("b"), std::nullopt);
    EXPECT_EQ(store.integer("i"), std::nullopt);
    EXPECT_EQ(store.integer("big"), std::nullopt);
    EXPECT_EQ(store.string("n"), std::nullopt);
    EXPECT_TRUE(store.contains("n"));
    EXPECT_EQ(store.stringList("mixedList"), std::nullopt);
    EXPECT_EQ(store.stringMap("mixedMap"), std::nullopt);
    EXPECT_EQ(store.string("mixedMap"), std::nullopt);
    for (const char* key : {"badData", "shortData", "taggedPlus", "dataNotText", "mixedMap"}) {
        EXPECT_EQ(store.data(key), std::nullopt) << key;
    }
}

TEST_F(SettingsStoreTest, ADamagedFileReadsAsEmptyAndTheNextChangeRepairsIt) {
    for (const char* damaged : {"not json {", "[1, 2]", "\"text\"", "", "{\"a\": 1"}) {
        writeRaw(file, damaged);
        EXPECT_FALSE(store.contains("a")) << damaged;
        EXPECT_EQ(store.integer("a"), std::nullopt) << damaged;

        ASSERT_TRUE(store.setBoolean("playSound", true));
        EXPECT_EQ(store.boolean("playSound"), true);
        EXPECT_EQ(storedKeyCount(file), 1U);
    }
}

TEST_F(SettingsStoreTest, TextThatIsNotUtf8IsRefusedAndTheFileKept) {
    ASSERT_TRUE(store.setString("a", "kept"));
    const std::string before = readRaw(file);
    EXPECT_FALSE(store.setString("b", "\xff\xfe"));
    EXPECT_EQ(readRaw(file), before);
}

TEST(SettingsStoreFolders, MissingFoldersAreCreatedPrivateAndTheFileIs0600) {
    const TempDir dir;
    const fs::path file = dir / "config" / "quobblefin" / "settings.json";
    SettingsStore store(file);
    EXPECT_EQ(store.string("deviceName"), std::nullopt);
    ASSERT_TRUE(store.setString("deviceName", "Desk"));
    EXPECT_EQ(permissions(dir / "config"), 0700U);
    EXPECT_EQ(permissions(file.parent_path()), 0700U);
    EXPECT_EQ(permissions(file), 0600U);
    EXPECT_EQ(SettingsStore(file).string("deviceName"), "Desk");
}

TEST(SettingsStoreFolders, AFolderThatCannotBeMadeFailsTheChange) {
    const TempDir dir;
    writeRaw(dir / "taken", "a file where the folder should be");
    SettingsStore store(dir / "taken" / "settings.json");
    EXPECT_FALSE(store.setString("a", "b"));
    EXPECT_EQ(store.string("a"), std::nullopt);
}

TEST(SettingsStoreFolders, DefaultFileFollowsXdgConfigHomeElseHome) {
    {
        const ScopedEnv config("XDG_CONFIG_HOME", "/xdg/config");
        EXPECT_EQ(SettingsStore::defaultFile(), fs::path("/xdg/config/quobblefin/settings.json"));
    }
    const ScopedEnv home("HOME", "/home/someone");
    for (const std::optional<std::string>& ignored : {std::optional<std::string>{}, std::optional<std::string>{""},
                                                      std::optional<std::string>{"relative/config"}}) {
        const ScopedEnv config("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(SettingsStore::defaultFile(), fs::path("/home/someone/.config/quobblefin/settings.json"));
    }
}

constexpr int kWriters = 4;
constexpr int kKeysPerWriter = 40;

std::string writerKey(int writer, int index) {
    return "w" + std::to_string(writer) + "." + std::to_string(index);
}

// Each writer sets its own keys; a lost update would drop another writer's key.
bool writeOwnKeys(const fs::path& file, int writer) {
    SettingsStore store(file);
    for (int index = 0; index < kKeysPerWriter; ++index) {
        if (!store.setInteger(writerKey(writer, index), index)) {
            return false;
        }
    }
    return true;
}

void expectEveryKeyAndNoLeftovers(const fs::path& folder, const fs::path& file) {
    const SettingsStore store(file);
    for (int writer = 0; writer < kWriters; ++writer) {
        for (int index = 0; index < kKeysPerWriter; ++index) {
            EXPECT_EQ(store.integer(writerKey(writer, index)), index) << writerKey(writer, index);
        }
    }
    EXPECT_EQ(folderEntries(folder), (std::vector<std::string>{"settings.json", "settings.json.lock"}));
}

TEST(SettingsStoreConcurrency, ProcessesWritingAtOnceKeepEveryKey) {
    const TempDir dir;
    const fs::path file = dir / "settings.json";
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::_exit(writeOwnKeys(file, writer) ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    expectEveryKeyAndNoLeftovers(dir.path(), file);
}

TEST(SettingsStoreConcurrency, ThreadsWritingAtOnceKeepEveryKey) {
    const TempDir dir;
    const fs::path file = dir / "settings.json";
    std::vector<char> succeeded(kWriters, 0);
    {
        std::vector<std::jthread> threads;
        for (int writer = 0; writer < kWriters; ++writer) {
            threads.emplace_back([&, writer] { succeeded[writer] = writeOwnKeys(file, writer); });
        }
    }
    EXPECT_EQ(succeeded, std::vector<char>(kWriters, 1));
    expectEveryKeyAndNoLeftovers(dir.path(), file);
}

}  // namespace
}  // namespace qb::platform
