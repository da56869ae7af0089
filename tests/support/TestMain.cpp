// Entry point of every test executable. Before any test runs, the process is pointed at a home folder
// inside the build tree, so that no test (run by ctest or by hand) reads or writes the real settings,
// key store or downloads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

void isolateHome() {
    const std::filesystem::path home = QB_TEST_HOME;
    std::error_code ignored;
    for (const char* folder : {"config", "data", "cache", "Downloads"}) {
        std::filesystem::create_directories(home / folder, ignored);
    }
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    ::setenv("XDG_DOWNLOAD_DIR", (home / "Downloads").c_str(), 1);
    ::setenv("QB_BUILD_DIR", QB_BUILD_DIR, 1);
    // Widgets render off screen unless a test run asks for a real display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

}  // namespace

int main(int argc, char** argv) {
    isolateHome();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
