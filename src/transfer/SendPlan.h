#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "transfer/Wire.h"

namespace qb::transfer {

// One regular file whose bytes go into the body, with the size the header declares for it.
struct SourceFile {
    std::filesystem::path path{};
    std::int64_t size = 0;
    // A top-level item is sent as what its symbolic link points to; a file found by the folder walk was not a
    // link when it was planned, and must not have become one by the time it is read.
    bool followLinks = false;

    friend bool operator==(const SourceFile&, const SourceFile&) = default;
};

// What one send puts on the connection: the header (still without `cert` and `sig`) and the files whose bytes
// form the body, in body order.
struct SendPlan {
    FileHeader header{};
    std::vector<SourceFile> files{};
};

// The header generation a sender uses: TLS when it pins a key, else whether it waits for the go-ahead.
int senderGeneration(bool pinsKey, bool waitForGo);

// Plans a transfer of `items` from file-system metadata, without reading any file content. nullopt when there is
// nothing to send or the only item's size cannot be read (the caller reports "err.readSource"); an unreadable
// item among several is left out, and still counts in the header's name.
std::optional<SendPlan> planSend(const std::vector<std::filesystem::path>& items, const std::string& from,
                                 int generation);

// The header of a pairing request: no files and no body.
SendPlan planPairing(const std::string& from);

// Appends everything below `folder` to the plan: hidden items included, ".DS_Store", symbolic links and special
// files left out, each folder before its contents, names sorted within each folder so the order is stable.
// Entry paths are `prefix` + "/" + the path below the folder (no prefix when it is empty).
void walkFolder(const std::filesystem::path& folder, const std::string& prefix, SendPlan& plan);

// `name`, or the first of "base 2.ext", "base 3.ext", ... that is not in `used`.
std::string uniqueTopLevelName(const std::string& name, const std::set<std::string>& used);

// The last non-empty component of `path`, so "docs/" and "docs/." both name "docs".
std::string lastComponent(const std::filesystem::path& path);

}  // namespace qb::transfer
