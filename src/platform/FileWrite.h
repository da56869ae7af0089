#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/Bytes.h"

namespace qb::platform {

// Writes all of `bytes` to `fd`, resuming after interruptions and short writes.
std::error_code writeAll(int fd, ByteView bytes);

// Flushes a folder's entries, so that a file just renamed or linked into it survives a crash.
std::error_code syncFolder(const std::filesystem::path& folder);

// Replaces `file` with `text` so that a reader or a crash sees either the old or the new file whole: a temporary
// file (mode 0600) in the same folder, fsync, checked close, rename, fsync of the folder. The first failure;
// the old file then stays as it was.
std::error_code replaceFile(const std::filesystem::path& file, std::string_view text);

}  // namespace qb::platform
