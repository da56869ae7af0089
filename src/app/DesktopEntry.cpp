// The desktop module's one exported function, which the program (app/DesktopModule.cpp) calls for the modes it
// does not run itself.

#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "app/Application.h"
#include "app/BrowseMode.h"
#include "app/CommandLine.h"

extern "C" __attribute__((visibility("default"))) int quobblefinRunDesktop(int argc, char** argv) {
    const auto command = qb::app::parseCommandLine(std::vector<std::string>(argv, argv + argc));
    if (const auto* mode = std::get_if<qb::app::AppMode>(&command))
        return qb::app::runApplication(*mode, argc, argv);
    if (const auto* mode = std::get_if<qb::app::BrowseMode>(&command)) {
        const int status = qb::app::runBrowse(*mode, std::cout, std::cerr);
        std::cout.flush();
        return status;
    }
    return 1;
}
