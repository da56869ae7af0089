#include "transfer/FileNames.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TestEnv.h"

namespace qb::transfer {
namespace {

namespace fs = std::filesystem;
using Components = std::vector<std::string>;

TEST(FileNamesTest, EntryPathsAndTopNames) {
    EXPECT_EQ(safeRelativePath("/etc//x/"), Components({"etc", "x"}));
    EXPECT_EQ(safeRelativePath("a\\..\\b"), Components({"a\\..\\b"})) << "a backslash is an ordinary character";
    EXPECT_EQ(safeRelativePath(".hidden/..."), Components({".hidden", "..."}));
    for (const char* unsafe : {"", "//", "..", "a/../b", "a/./b", "a/.."}) {
        EXPECT_FALSE(safeRelativePath(unsafe)) << unsafe;
    }
    EXPECT_EQ(topName("a/b/c.txt"), "c.txt");
    EXPECT_EQ(topName("/"), "file") << "never the root folder";
}

TEST(FileNamesTest, NumberedNamesAndLinksInTheReceiveFolder) {
    test::TempDir temp;
    const fs::path base = temp.path();
    for (const char* taken : {"photo.jpg", "photo 2.jpg", "archive.tar.gz", ".env"}) {
        std::ofstream(base / taken) << "x";
    }
    EXPECT_EQ(uniqueURL(base / "photo.jpg"), base / "photo 3.jpg");
    EXPECT_EQ(uniqueURL(base / "archive.tar.gz"), base / "archive.tar 2.gz");
    EXPECT_EQ(uniqueURL(base / ".env"), base / ".env 2") << "a leading dot opens no extension";

    fs::create_directory(base / "real");
    fs::create_symlink(base / "real", base / "alias");
    fs::create_symlink(base / "nowhere", base / "dangling");
    EXPECT_EQ(uniqueURL(base / "alias"), base / "alias 2") << "a working link is taken";
    EXPECT_EQ(uniqueURL(base / "dangling"), base / "dangling") << "existence follows links";

    EXPECT_FALSE(hasLinkComponent(base / "real/new/file", base));
    EXPECT_TRUE(hasLinkComponent(base / "alias/file", base));
    EXPECT_TRUE(hasLinkComponent(base / "dangling", base));
    EXPECT_TRUE(hasLinkComponent(base, base)) << "not strictly inside";
    EXPECT_TRUE(hasLinkComponent(base / ".." / "escape", base));
    EXPECT_TRUE(hasLinkComponent(base.string() + "-sibling/x", base));
    EXPECT_FALSE(hasLinkComponent(base / "alias/file", base / "alias/")) << "the base itself is never tested";
}

}  // namespace
}  // namespace qb::transfer
