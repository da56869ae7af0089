#pragma once

#include <filesystem>
#include <optional>

#include "platform/Bytes.h"

namespace qb::model {

// Folder bookmarks. Linux has no sandbox, so a bookmark is the folder's path itself: it can be made and
// resolved for an existing folder, and opening or closing access to it needs nothing.
namespace folderBookmark {
std::optional<platform::Bytes> create(const std::filesystem::path& folder);
std::optional<std::filesystem::path> resolve(platform::ByteView bookmark);
}  // namespace folderBookmark

}  // namespace qb::model
