// Entry paths from a decoded header through safeRelativePath and the layout planner: whatever the
// header says, every planned place lies strictly inside the receive folder, and giving the layout up
// leaves the folder as it was.

#include <unistd.h>

#include <filesystem>

#include "FuzzTarget.h"
#include "transfer/FileNames.h"
#include "transfer/ReceiverLayout.h"

namespace fs = std::filesystem;
using namespace qb::transfer;

namespace {

const fs::path& receiveFolder() {
    static const fs::path folder = [] {
        auto made = fs::temp_directory_path() / ("qb-layout-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(made);
        return made;
    }();
    return folder;
}

bool allSafe(const FileHeader& header) {
    if (!isSafeName(header.name)) {
        return false;
    }
    for (const auto& entry : header.files.value_or(std::vector<FileEntry>{})) {
        if (!safeRelativePath(entry.p)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto header = Wire::decodeHeader(qb::fuzz::bytes(data, size));
    // Deep trees cost the planner real folders; a few hundred entries find the same faults.
    if (!header || !allSafe(*header) || header->files.value_or(std::vector<FileEntry>{}).size() > 256) {
        return 0;
    }
    const auto& base = receiveFolder();
    ReceiverLayout layout(base);
    if (layout.prepare(*header) == ReceiverLayout::Prepared::ready) {
        for (const auto& file : layout.plan()) {
            qb::fuzz::require(!hasLinkComponent(file.location, base));
        }
        qb::fuzz::require(!layout.passesThroughLink());
    }
    layout.removeMade();
    qb::fuzz::require(fs::is_empty(base));
    return 0;
}
