#include <iostream>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "app/CommandLine.h"
#include "app/CommandLineModes.h"
#include "app/DesktopModule.h"
#include "identity/Identity.h"
#include "platform/ProcessLimits.h"

namespace {

int runCommand(const qb::app::Command& command, int argc, char** argv) {
    return std::visit(
        [argc, argv](const auto& mode) -> int {
            using Mode = std::decay_t<decltype(mode)>;
            if constexpr (std::is_same_v<Mode, qb::app::IdentityMode>) {
                return qb::identity::runSelfTest(mode.path, std::cout);
            } else if constexpr (std::is_same_v<Mode, qb::app::SendMode>) {
                return qb::app::runSend(mode, std::cout);
            } else if constexpr (std::is_same_v<Mode, qb::app::PairMode>) {
                return qb::app::runPair(mode, std::cout);
            } else {
                // The application itself and --browse.
                return qb::app::runDesktopModule(argc, argv, std::cerr);
            }
        },
        command);
}

}  // namespace

int main(int argc, char** argv) {
    qb::platform::raiseOpenFileLimit();
    const std::vector<std::string> arguments(argv, argv + argc);
    const int status = runCommand(qb::app::parseCommandLine(arguments), argc, argv);
    // Returning (not _exit) lets the ephemeral identity's exit handler remove its key-store items.
    std::cout.flush();
    return status;
}
