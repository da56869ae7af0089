#pragma once

// Where the items of one incoming transfer go, and the file-system work of making them. Everything below
// the receive folder is opened relative to it with O_NOFOLLOW, so a symbolic link planted after the
// checks is never written through; top-level items are created exclusively, so nothing that existed
// before is overwritten or later removed.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/UniqueFd.h"
#include "transfer/Wire.h"

namespace qb::transfer {

using platform::UniqueFd;

// How the header's items are laid out in the receive folder.
enum class LayoutMode {
    singleFile,  // no `files`: one file of `size` bytes
    folder,      // `files` without `batch`: one folder holding the entries
    batch,       // `files` with `batch`: each first component is its own top-level item
};

LayoutMode layoutModeOf(const FileHeader& header);

// One regular file of the body, in body order.
struct PlannedFile {
    std::size_t top = 0;             // the top-level item it belongs to
    std::vector<std::string> inner;  // components below that item; empty when the file is the item itself
    std::int64_t count = 0;          // bytes of the body that belong to it
    std::filesystem::path location;
};

class ReceiverLayout {
public:
    explicit ReceiverLayout(std::filesystem::path base);
    ~ReceiverLayout();
    ReceiverLayout(const ReceiverLayout&) = delete;
    ReceiverLayout& operator=(const ReceiverLayout&) = delete;

    enum class Prepared {
        ready,
        folderFailed,  // the folder of a folder transfer cannot be made
        noFreeName,    // every numbered variant of a top-level name is taken
    };

    // Chooses unique top-level names (against the disk and among themselves), makes the folders and plans
    // the files; no file is made yet.
    Prepared prepare(const FileHeader& header);

    const std::vector<PlannedFile>& plan() const { return plan_; }
    // Sum of the planned byte counts.
    std::int64_t total() const;
    // True when a planned file or a top-level item lies outside the base or behind a symbolic link.
    bool passesThroughLink() const;

    // Makes the planned file empty and opens it for writing; an invalid descriptor when it cannot be made.
    UniqueFd create(const PlannedFile& file);

    // The top-level items this transfer made, in the order they first appeared in the header; from now on
    // they stay when the layout goes.
    std::vector<std::filesystem::path> keepMade();
    // Removes them all with their contents (failures ignored). Also done when the layout goes before
    // keepMade(), so that a transfer ended by anything, an exception included, leaves nothing behind.
    void removeMade();

private:
    struct TopItem {
        std::string name;
        std::filesystem::path location;
        bool made = false;
    };

    std::optional<std::size_t> addTop(const std::string& wantedName);
    // Batch: the top-level item of a first component, chosen when it first appears.
    std::optional<std::size_t> rootOf(const std::string& firstComponent);
    void planEntry(std::size_t top, std::span<const std::string> inner, const FileEntry& entry);
    bool makeTopFolder(TopItem& top);
    // The deepest of `folders` below `top`, opened (each made first when `create` is set); -1 when it cannot be.
    // The descriptor stays open until the next call asks for another folder: files come grouped by folder, so
    // most calls find the folder already open.
    int openFolders(std::size_t top, std::span<const std::string> folders, bool create);
    std::filesystem::path locationOf(const TopItem& top, std::span<const std::string> inner) const;

    std::filesystem::path base_;
    UniqueFd baseFd_;
    std::vector<TopItem> tops_;
    std::map<std::string, std::size_t> roots_;  // batch: first component -> its top-level item
    std::set<std::filesystem::path> reserved_;
    std::vector<PlannedFile> plan_;
    bool kept_ = false;

    struct OpenFolder {
        std::size_t top = 0;
        std::vector<std::string> path;
        UniqueFd fd;
    };
    OpenFolder openFolder_;
};

}  // namespace qb::transfer
