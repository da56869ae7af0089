#pragma once

// The benchmark's source data: bytes no layer could compress, written once per run.

#include <cstdint>
#include <filesystem>

namespace qb::bench {

void writeBigFile(const std::filesystem::path& path, std::uint64_t size);
// `count` files of `size` bytes each in one folder.
void writeSmallFiles(const std::filesystem::path& folder, int count, std::size_t size);
// `count` files of varied sizes (many small, a few large) adding up to about `totalBytes`, in folders of
// depths 0 to 4.
void writeMixedTree(const std::filesystem::path& folder, int count, std::uint64_t totalBytes);

}  // namespace qb::bench
