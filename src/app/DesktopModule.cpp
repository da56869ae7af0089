#include "app/DesktopModule.h"

#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace qb::app {

namespace fs = std::filesystem;

namespace {

// Defined in DesktopEntry.cpp: int (int argc, char** argv), the exit status of the mode the arguments ask for.
constexpr const char* kEntryName = "quobblefinRunDesktop";

}  // namespace

int runDesktopModule(int argc, char** argv, std::ostream& errors) {
    std::error_code error;
    const fs::path folder = fs::read_symlink("/proc/self/exe", error).parent_path();
    if (error) {
        errors << "quobblefin: cannot find the program's own folder: " << error.message() << "\n";
        return 1;
    }
    std::string reasons;
    for (const auto& candidate :
         {folder / QB_DESKTOP_MODULE_NAME, (folder / QB_DESKTOP_MODULE_FROM_BINDIR).lexically_normal()}) {
        // The module stays loaded for the life of the process: Qt's exit handlers run from it.
        void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            reasons += std::string("\n  ") + ::dlerror();
            continue;
        }
        using Entry = int (*)(int, char**);
        if (const auto entry = reinterpret_cast<Entry>(::dlsym(module, kEntryName)))
            return entry(argc, argv);
        reasons += "\n  " + candidate.string() + ": no " + kEntryName;
    }
    errors << "quobblefin: the desktop application cannot be loaded:" << reasons << "\n";
    return 1;
}

}  // namespace qb::app
