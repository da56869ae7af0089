#pragma once

#include <filesystem>
#include <system_error>

#include "platform/Bytes.h"

namespace qb::platform {

// Writes all of `bytes` to `fd`, resuming after interruptions and short writes.
std::error_code writeAll(int fd, ByteView bytes);

// Flushes a folder's entries, so that a file just renamed or linked into it survives a crash.
std::error_code syncFolder(const std::filesystem::path& folder);

}  // namespace qb::platform
