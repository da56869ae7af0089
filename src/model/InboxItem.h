#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace qb::model {

// One received file or folder in the receive folder. Two items with the same path are the same entry. Every
// member has a default so that designated initializers may name only some.
struct InboxItem {
    std::filesystem::path url{};
    std::string from{};  // the sender's name; empty when not known
    std::chrono::system_clock::time_point date{};
    std::int64_t size = 0;
    bool isDir = false;

    friend bool operator==(const InboxItem&, const InboxItem&) = default;
};

}  // namespace qb::model
