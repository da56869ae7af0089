#pragma once

#include <ostream>

namespace qb::app {

// The desktop application (Qt, the panel, the tray and everything they link) and `--browse` (DNS-SD, ICU's
// collation) are built as a module that the program loads only for them. `--identity`, `--send` and `--pair`
// then start without mapping and relocating the sixty-odd libraries the module pulls in, which took most of
// their start-up time and made a short transfer from a script several times slower than its bytes.
//
// Loads the module, from beside the program (a build tree) or else from where installing puts it relative to
// the program, and runs the mode the program's arguments ask for there. A module that cannot be loaded is
// reported on `errors`, with each place tried and the loader's reason, and gives 1.
int runDesktopModule(int argc, char** argv, std::ostream& errors);

}  // namespace qb::app
