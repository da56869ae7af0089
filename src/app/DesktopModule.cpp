#include "app/DesktopModule.h"

#include <dlfcn.h>

#include <string>
#include <system_error>

namespace qb::app {

namespace fs = std::filesystem;

std::vector<fs::path> desktopModuleCandidates(const fs::path& executable) {
    const fs::path folder = executable.parent_path();
    return {folder / QB_DESKTOP_MODULE_NAME, (folder / QB_DESKTOP_MODULE_FROM_BINDIR).lexically_normal()};
}

int runDesktopModule(int argc, char** argv, std::ostream& errors) {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        errors << "quobblefin: cannot find the program's own folder: " << error.message() << "\n";
        return 1;
    }
    std::string reasons;
    for (const auto& candidate : desktopModuleCandidates(executable)) {
        // The module stays loaded for the life of the process: Qt's exit handlers run from it.
        void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            reasons += std::string("\n  ") + ::dlerror();
            continue;
        }
        using Entry = int (*)(int, char**);
        if (const auto entry = reinterpret_cast<Entry>(::dlsym(module, kDesktopEntryName)))
            return entry(argc, argv);
        reasons += "\n  " + candidate.string() + ": no " + kDesktopEntryName;
    }
    errors << "quobblefin: the desktop application cannot be loaded:" << reasons << "\n";
    return 1;
}

}  // namespace qb::app
