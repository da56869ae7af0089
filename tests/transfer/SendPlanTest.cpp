#include "transfer/SendPlan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/TestEnv.h"
#include "transfer/BodyReader.h"
#include "transfer/FileNames.h"

namespace qb::transfer {
namespace {

namespace fs = std::filesystem;
using test::writeFile;
using Components = std::vector<std::string>;

FileEntry folder(std::string path) {
    return {std::move(path), 0, true};
}

FileEntry file(std::string path, std::int64_t size) {
    return {std::move(path), size, false};
}

class SendPlanTest : public ::testing::Test {
protected:
    SendPlan plan(const std::vector<fs::path>& items) {
        auto planned = planSend(items, "Desk", Wire::generationWaits);
        EXPECT_TRUE(planned);
        return planned.value_or(SendPlan{});
    }

    test::TempDir temp;
};

TEST_F(SendPlanTest, FolderWalkKeepsHiddenItemsAndSkipsDsStoreLinksAndSpecialFiles) {
    writeFile(temp / "F" / "x", "xxx");
    writeFile(temp / "F" / ".hidden", "h");
    writeFile(temp / "F" / ".DS_Store", "junk");
    writeFile(temp / "F" / "s" / ".DS_Store", "junk");
    writeFile(temp / "F" / "s" / "y", "yy");
    fs::create_directories(temp / "F" / "s" / "empty");
    fs::create_symlink(temp / "F" / "x", temp / "F" / "link");
    fs::create_directory_symlink(temp / "F" / "s", temp / "F" / "folder-link");
    ASSERT_EQ(::mkfifo((temp / "F" / "fifo").c_str(), 0600), 0);

    const SendPlan planned = plan({temp / "F"});
    EXPECT_EQ(planned.header.name, "F");
    EXPECT_FALSE(planned.header.batch);
    EXPECT_EQ(planned.header.files, (std::vector<FileEntry>{file(".hidden", 1), folder("s"), folder("s/empty"),
                                                            file("s/y", 2), file("x", 3)}));
    EXPECT_EQ(planned.header.size, 6);
    EXPECT_EQ(planned.files, (std::vector<SourceFile>{{temp / "F" / ".hidden", 1, false},
                                                      {temp / "F" / "s" / "y", 2, false},
                                                      {temp / "F" / "x", 3, false}}));
}

TEST_F(SendPlanTest, SeveralItemsGetUniqueTopLevelNames) {
    writeFile(temp / "one" / "a.txt", "1");
    writeFile(temp / "two" / "a.txt", "22");
    writeFile(temp / "docs" / "inner", "");
    writeFile(temp / "other" / "docs", "4444");
    const SendPlan planned =
        plan({temp / "one" / "a.txt", temp / "two" / "a.txt", temp / "docs", temp / "other" / "docs"});
    EXPECT_EQ(planned.header.name, "4 items");
    EXPECT_TRUE(planned.header.batch);
    EXPECT_EQ(planned.header.files, (std::vector<FileEntry>{file("a.txt", 1), file("a 2.txt", 2), folder("docs"),
                                                            file("docs/inner", 0), file("docs 2", 4)}));
    EXPECT_EQ(planned.header.size, 7);

    EXPECT_EQ(uniqueTopLevelName("photo.jpg", {"photo.jpg", "photo 2.jpg"}), "photo 3.jpg");
    EXPECT_EQ(uniqueTopLevelName("notes", {"notes"}), "notes 2");
    EXPECT_EQ(uniqueTopLevelName("archive.tar.gz", {"archive.tar.gz"}), "archive.tar 2.gz");
    EXPECT_EQ(uniqueTopLevelName(".profile", {".profile"}), ".profile 2");
    EXPECT_EQ(lastComponent("/x/docs/"), "docs");
    EXPECT_EQ(lastComponent("/x/docs/."), "docs");
}

TEST_F(SendPlanTest, EmptyFolderMissingItemsAndNothingAtAll) {
    fs::create_directories(temp / "Empty");
    const SendPlan empty = plan({temp / "Empty"});
    EXPECT_EQ(empty.header.files, std::vector<FileEntry>{}) << "present even when empty";
    EXPECT_EQ(empty.header.size, 0);

    writeFile(temp / "a", "a");
    writeFile(temp / "b", "bb");
    const SendPlan partial = plan({temp / "a", temp / "gone", temp / "b"});
    EXPECT_EQ(partial.header.name, "3 items");
    EXPECT_EQ(partial.header.files, (std::vector<FileEntry>{file("a", 1), file("b", 2)}));

    EXPECT_FALSE(planSend({}, "Desk", 3));
    EXPECT_FALSE(planSend({temp / "gone"}, "Desk", 3));
    EXPECT_FALSE(planSend({"/dev/null"}, "Desk", 3)) << "a device has no size to declare";
    EXPECT_EQ(senderGeneration(true, false), 5);
    EXPECT_EQ(senderGeneration(false, true), 3);
    EXPECT_EQ(senderGeneration(false, false), 2);
}

TEST_F(SendPlanTest, TopLevelLinkIsSentAsItsTarget) {
    writeFile(temp / "target.bin", "0123456789");
    writeFile(temp / "dir" / "inside", "i");
    fs::create_symlink(temp / "target.bin", temp / "link.bin");
    fs::create_directory_symlink(temp / "dir", temp / "dir-link");

    const SendPlan single = plan({temp / "link.bin"});
    EXPECT_EQ(single.header.name, "link.bin");
    EXPECT_EQ(single.header.size, 10);
    EXPECT_EQ(single.files, (std::vector<SourceFile>{{temp / "link.bin", 10, true}}));

    const SendPlan both = plan({temp / "link.bin", temp / "dir-link"});
    EXPECT_EQ(both.header.files,
              (std::vector<FileEntry>{file("link.bin", 10), folder("dir-link"), file("dir-link/inside", 1)}));
}

TEST_F(SendPlanTest, BodyReaderSendsExactlyThePlannedBytesInBoundedPieces) {
    writeFile(temp / "a", "abcdefghij");
    writeFile(temp / "b", "xyz");
    // The empty entry names no file: it must never be opened.
    BodyReader reader({{temp / "a", 10, false}, {temp / "nothing", 0, false}, {temp / "b", 3, false}}, 4);
    std::vector<std::string> pieces;
    platform::Bytes piece;
    for (int guard = 0; guard < 10 && reader.next(piece) == BodyReader::Status::piece; ++guard)
        pieces.push_back(platform::toString(piece));
    // Pieces run on across files: the body has no framing between them.
    EXPECT_EQ(pieces, (std::vector<std::string>{"abcd", "efgh", "ijxy", "z"}));
    EXPECT_EQ(reader.next(piece), BodyReader::Status::done);

    fs::create_symlink(temp / "a", temp / "walked-link");
    for (const SourceFile& wrong : {SourceFile{temp / "a", 9, false}, SourceFile{temp / "a", 11, false},
                                    SourceFile{temp / "walked-link", 10, false}, SourceFile{temp / "gone", 1}}) {
        BodyReader refusing({wrong});
        EXPECT_EQ(refusing.next(piece), BodyReader::Status::failed) << wrong.path << " " << wrong.size;
    }
}

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
