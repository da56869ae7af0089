#include "platform/SettingsStore.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TestEnv.h"

namespace qb::platform {
namespace {

namespace fs = std::filesystem;
using qb::test::readFile;
using qb::test::TempDir;
using qb::test::writeFile;

std::size_t storedKeyCount(const fs::path& file) {
    const auto object = nlohmann::json::parse(readFile(file), nullptr, false);
    return object.is_object() ? object.size() : 0;
}

unsigned permissions(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

const std::error_code kStored;

class SettingsStoreTest : public ::testing::Test {
protected:
    TempDir dir;
    fs::path file = dir / "settings.json";
    SettingsStore store{file};
};

TEST_F(SettingsStoreTest, EveryTypeRoundTripsThroughTheFileAndASecondStoreAndNonUtf8TextIsRefused) {
    const std::map<std::string, std::string> names{{"ab12", "Desk"}, {"ünï", "Zoë's Mac"}};
    ASSERT_EQ(store.setString("deviceName", "Zoë's  Mac"), kStored);
    ASSERT_EQ(store.setBoolean("playSound", false), kStored);
    ASSERT_EQ(store.setInteger("min", std::numeric_limits<std::int64_t>::min()), kStored);
    ASSERT_EQ(store.setInteger("max", std::numeric_limits<std::int64_t>::max()), kStored);
    ASSERT_EQ(store.setStringList("trusted", {"b", "a", ""}), kStored);
    ASSERT_EQ(store.setStringList("empty", {}), kStored);
    ASSERT_EQ(store.setStringMap("deviceNames", names), kStored);

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

    ASSERT_EQ(store.remove("playSound"), kStored);
    ASSERT_EQ(store.remove("never there"), kStored);
    EXPECT_FALSE(other.contains("playSound"));
    EXPECT_EQ(other.string("deviceName"), "Zoë's  Mac");

    const std::string before = readFile(file);
    EXPECT_EQ(store.setString("b", "\xff\xfe"), std::errc::illegal_byte_sequence) << "text that is not UTF-8";
    EXPECT_EQ(readFile(file), before);
}

TEST_F(SettingsStoreTest, DataOfEveryPaddingLengthRoundTripsAsTaggedBase64) {
    for (std::size_t length = 0; length <= 5; ++length) {
        Bytes bytes;
        for (std::size_t index = 0; index < length; ++index) {
            bytes.push_back(static_cast<std::uint8_t>(0xFD + index));
        }
        ASSERT_EQ(store.setData("blob", bytes), kStored);
        EXPECT_EQ(store.data("blob"), bytes) << "length " << length;
    }
    ASSERT_EQ(store.setData("blob", toBytes("hi!")), kStored);
    EXPECT_NE(readFile(file).find(R"("$data": "aGkh")"), std::string::npos) << readFile(file);
}

TEST_F(SettingsStoreTest, AValueOfAnotherTypeReadsAsAbsent) {
    writeFile(file, R"({"s": "text", "b": 1, "i": 1.5, "big": 9223372036854775808, "n": null,
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
        writeFile(file, damaged);
        EXPECT_FALSE(store.contains("a")) << damaged;
        EXPECT_EQ(store.integer("a"), std::nullopt) << damaged;

        ASSERT_EQ(store.setBoolean("playSound", true), kStored);
        EXPECT_EQ(store.boolean("playSound"), true);
        EXPECT_EQ(storedKeyCount(file), 1U);
    }
}

TEST_F(SettingsStoreTest, SeveralKeysChangeInOneWriteAndRemovalsTakePart) {
    ASSERT_EQ(store.setString("gone", "x"), kStored);
    SettingsStore::Changes changes;
    changes.setStringList("myDevices", {"k1"}).setStringMap("deviceNames", {{"k1", "Desk"}}).remove("gone");
    ASSERT_EQ(store.apply(changes), kStored);
    EXPECT_EQ(store.stringList("myDevices"), std::vector<std::string>{"k1"});
    EXPECT_EQ(store.stringMap("deviceNames"), (std::map<std::string, std::string>{{"k1", "Desk"}}));
    EXPECT_FALSE(store.contains("gone"));
    EXPECT_EQ(storedKeyCount(file), 2U);
}

// A settings file that exists but cannot be opened must never read as empty for a change: that change would
// write its one key over every other setting.
TEST(SettingsStoreFailures, AFileThatCannotBeOpenedFailsTheChangeAndLosesNoKey) {
    const TempDir dir;
    const fs::path file = dir / "settings.json";
    fs::permissions(dir.path(), fs::perms::all);
    const int status = qb::test::exitStatusWithoutRoot([&] {
        SettingsStore store(file);
        if (store.setString("deviceName", "Desk") || store.setStringList("myDevices", {"k1"}) ||
            ::chmod(file.c_str(), 0) != 0) {
            return 3;
        }
        return store.setBoolean("playSound", false) == std::errc::permission_denied ? 0 : 4;
    });
    EXPECT_EQ(status, 0) << "2: cannot drop root, 3: setup failed, 4: the change did not fail";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    const SettingsStore store(file);
    EXPECT_EQ(store.string("deviceName"), "Desk");
    EXPECT_EQ(store.stringList("myDevices"), std::vector<std::string>{"k1"});
    EXPECT_FALSE(store.contains("playSound"));
}

TEST(SettingsStoreFolders, MissingFoldersAreCreatedPrivateTheFileIs0600AndAFolderThatCannotBeMadeFails) {
    const TempDir dir;
    const fs::path file = dir / "config" / "quobblefin" / "settings.json";
    SettingsStore store(file);
    EXPECT_EQ(store.string("deviceName"), std::nullopt);
    ASSERT_EQ(store.setString("deviceName", "Desk"), kStored);
    EXPECT_EQ(permissions(dir / "config"), 0700U);
    EXPECT_EQ(permissions(file.parent_path()), 0700U);
    EXPECT_EQ(permissions(file), 0600U);
    EXPECT_EQ(SettingsStore(file).string("deviceName"), "Desk");

    writeFile(dir / "taken", "a file where the folder should be");
    SettingsStore blocked(dir / "taken" / "settings.json");
    EXPECT_TRUE(blocked.setString("a", "b"));
    EXPECT_EQ(blocked.string("a"), std::nullopt);
}

// Each writer sets its own keys; a lost update would drop another writer's key. Processes take the file lock;
// threads of one process must also hold it against each other.
TEST(SettingsStoreConcurrency, ProcessesOrThreadsWritingAtOnceKeepEveryKey) {
    constexpr int kWriters = 4;
    constexpr int kKeys = 40;
    const auto key = [](int writer, int index) { return "w" + std::to_string(writer) + "." + std::to_string(index); };
    for (const bool processes : {true, false}) {
        SCOPED_TRACE(processes ? "processes" : "threads");
        const TempDir dir;
        const fs::path file = dir / "settings.json";
        const auto writeOwnKeys = [&](int writer) {
            SettingsStore store(file);
            for (int index = 0; index < kKeys; ++index) {
                if (store.setInteger(key(writer, index), index)) {
                    return false;
                }
            }
            return true;
        };
        std::vector<pid_t> children;
        std::vector<char> succeeded(kWriters, 0);
        {
            std::vector<std::jthread> threads;
            for (int writer = 0; writer < kWriters; ++writer) {
                if (!processes) {
                    threads.emplace_back([&, writer] { succeeded[writer] = writeOwnKeys(writer); });
                } else if (const pid_t child = ::fork(); child == 0) {
                    ::_exit(writeOwnKeys(writer) ? 0 : 1);
                } else {
                    ASSERT_GT(child, 0);
                    children.push_back(child);
                }
            }
        }
        for (std::size_t writer = 0; writer < children.size(); ++writer) {
            int status = 0;
            ASSERT_EQ(::waitpid(children[writer], &status, 0), children[writer]);
            succeeded[writer] = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        EXPECT_EQ(succeeded, std::vector<char>(kWriters, 1));
        const SettingsStore store(file);
        for (int writer = 0; writer < kWriters; ++writer) {
            for (int index = 0; index < kKeys; ++index) {
                EXPECT_EQ(store.integer(key(writer, index)), index) << key(writer, index);
            }
        }
        std::set<std::string> entries;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            entries.insert(entry.path().filename().string());
        }
        EXPECT_EQ(entries, (std::set<std::string>{"settings.json", "settings.json.lock"})) << "no leftovers";
    }
}

}  // namespace
}  // namespace qb::platform
