#pragma once

#include <filesystem>
#include <ostream>
#include <vector>

namespace qb::app {

// The desktop application (Qt, the panel, the tray and everything they link) and `--browse` (DNS-SD, ICU's
// collation) are built as a module that the program loads only for them. `--identity`, `--send` and `--pair`
// then start without mapping and relocating the sixty-odd libraries the module pulls in, which took most of
// their start-up time and made a short transfer from a script several times slower than its bytes.

// The name the module's entry point is exported under: int (int argc, char** argv), the exit status of the mode
// the arguments ask for.
inline constexpr const char* kDesktopEntryName = "quobblefinRunDesktop";

// Where the module may be, in the order tried, for the program at `executable`: beside it (a build tree),
// then where installing puts it relative to the program.
std::vector<std::filesystem::path> desktopModuleCandidates(const std::filesystem::path& executable);

// Loads the module and runs the mode the program's arguments ask for there. A module that cannot be
// found or loaded is reported on `errors`, with the loader's reason, and gives 1.
int runDesktopModule(int argc, char** argv, std::ostream& errors);

}  // namespace qb::app
