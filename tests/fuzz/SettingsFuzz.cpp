// The settings file as another program (or a damaged disk) may have left it: every typed read either
// gives a value of its type or nothing.

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "FuzzTarget.h"
#include "platform/SettingsStore.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fs::path file =
        fs::temp_directory_path() / ("qb-settings-fuzz-" + std::to_string(::getpid()) + ".json");
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const qb::platform::SettingsStore store(file);
    for (const char* key : {"deviceName", "receiveMode", "knownKeys", "myDevices", "identity.cert", ""}) {
        (void)store.string(key);
        (void)store.boolean(key);
        (void)store.integer(key);
        (void)store.stringList(key);
        (void)store.stringMap(key);
        (void)store.data(key);
        (void)store.contains(key);
    }
    return 0;
}
