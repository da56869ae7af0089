#include "transfer/FileNames.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TestEnv.h"

namespace qb::transfer {
namespace {

namespace fs = std::filesystem;
using Components = std::vector<std::string>;

TEST(SafeRelativePathTest, SplitsAtSlashesAndDropsEmptyPieces) {
    EXPECT_EQ(safeRelativePath("a/b.txt"), Components({"a", "b.txt"}));
    EXPECT_EQ(safeRelativePath("/etc/x"), Components({"etc", "x"}));
    EXPECT_EQ(safeRelativePath("a//b/"), Components({"a", "b"}));
    EXPECT_EQ(safeRelativePath("a\\..\\b"), Components({"a\\..\\b"})) << "a backslash is an ordinary character";
    EXPECT_EQ(safeRelativePath("..."), Components({"..."}));
    EXPECT_EQ(safeRelativePath(".hidden/x"), Components({".hidden", "x"}));
}

TEST(SafeRelativePathTest, RefusesEmptyPathsAndDotComponents) {
    for (const char* unsafe : {"", "/", "//", "..", ".", "a/../b", "a/./b", "../escape.txt", "a/.."}) {
        EXPECT_FALSE(safeRelativePath(unsafe)) << unsafe;
    }
}

TEST(TopNameTest, TakesTheLastComponentAndNeverStartsWithADot) {
    EXPECT_EQ(topName("report.pdf"), "report.pdf");
    EXPECT_EQ(topName(".bashrc"), "file.bashrc");
    EXPECT_EQ(topName(""), "file");
    EXPECT_EQ(topName("a/b/c.txt"), "c.txt");
    EXPECT_EQ(topName("/"), "file") << "never the root folder";
    EXPECT_EQ(topName(".."), "file..");
    EXPECT_EQ(topName("Folder/"), "Folder");
}

class ReceiveFolderTest : public ::testing::Test {
protected:
    void touch(const fs::path& file) { std::ofstream(file) << "x"; }

    test::TempDir temp;
    fs::path base = temp.path();
};

TEST_F(ReceiveFolderTest, UniqueUrlNumbersTakenNamesBeforeTheirExtension) {
    EXPECT_EQ(uniqueURL(base / "photo.jpg"), base / "photo.jpg");
    touch(base / "photo.jpg");
    EXPECT_EQ(uniqueURL(base / "photo.jpg"), base / "photo 2.jpg");
    touch(base / "photo 2.jpg");
    EXPECT_EQ(uniqueURL(base / "photo.jpg"), base / "photo 3.jpg");

    touch(base / "archive.tar.gz");
    EXPECT_EQ(uniqueURL(base / "archive.tar.gz"), base / "archive.tar 2.gz");
    fs::create_directory(base / "Docs");
    EXPECT_EQ(uniqueURL(base / "Docs"), base / "Docs 2");
    touch(base / ".env");
    EXPECT_EQ(uniqueURL(base / ".env"), base / ".env 2") << "a leading dot opens no extension";
    touch(base / "trailing.");
    EXPECT_EQ(uniqueURL(base / "trailing."), base / "trailing. 2");
}

TEST_F(ReceiveFolderTest, UniqueUrlAvoidsReservedLocationsAndFollowsLinks) {
    touch(base / "f");
    EXPECT_EQ(uniqueURL(base / "f", {base / "f 2"}), base / "f 3");
    EXPECT_EQ(uniqueURL(base / "g", {base / "g"}), base / "g 2");

    fs::create_symlink(base / "f", base / "link-to-file");
    EXPECT_EQ(uniqueURL(base / "link-to-file"), base / "link-to-file 2") << "a working link is taken";
    fs::create_symlink(base / "missing", base / "dangling");
    EXPECT_EQ(uniqueURL(base / "dangling"), base / "dangling") << "existence follows links";
}

TEST_F(ReceiveFolderTest, HasLinkComponentRefusesOutsideLocationsAndLinksBelowTheBase) {
    EXPECT_FALSE(hasLinkComponent(base / "new/deeper/file.txt", base));
    EXPECT_FALSE(hasLinkComponent(base / "x" / ".." / "y", base));
    EXPECT_TRUE(hasLinkComponent(base, base)) << "not strictly inside";
    EXPECT_TRUE(hasLinkComponent(base / ".." / "escape", base));
    EXPECT_TRUE(hasLinkComponent(base.string() + "-sibling/x", base));

    fs::create_directory(base / "real");
    fs::create_symlink(base / "real", base / "alias");
    EXPECT_FALSE(hasLinkComponent(base / "real/file", base));
    EXPECT_TRUE(hasLinkComponent(base / "alias/file", base));
    fs::create_symlink(base / "nowhere", base / "dangling");
    EXPECT_TRUE(hasLinkComponent(base / "dangling", base));
}

TEST_F(ReceiveFolderTest, HasLinkComponentNeverTestsTheBaseItself) {
    fs::create_directory(base / "target");
    fs::create_symlink(base / "target", base / "linked-base");
    EXPECT_FALSE(hasLinkComponent(base / "linked-base/file", base / "linked-base"));
    EXPECT_FALSE(hasLinkComponent(base / "linked-base/file", base / "linked-base/"));
}

}  // namespace
}  // namespace qb::transfer
