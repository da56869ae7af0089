// Replaces close() for the whole test executable (a definition here wins over the C library's for every
// caller in the process), so that closing one chosen file can fail the way a full disk or a network file
// system fails at close: the descriptor is closed, and the call reports EIO.
#include "CloseShim.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex armedMutex;
std::string armedName;  // guarded by armedMutex
std::atomic<bool> armed{false};

using CloseFunction = int (*)(int);

CloseFunction realClose() {
    static const auto function = reinterpret_cast<CloseFunction>(::dlsym(RTLD_NEXT, "close"));
    return function;
}

bool isArmedFile(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    if (length <= 0) {
        return false;
    }
    const std::string path(target, static_cast<std::size_t>(length));
    const std::lock_guard lock(armedMutex);
    return path.size() > armedName.size() && path.ends_with("/" + armedName);
}

}  // namespace

extern "C" int close(int fd) {
    const bool fails = armed.load() && isArmedFile(fd);
    const int result = realClose()(fd);
    if (fails && result == 0) {
        errno = EIO;
        return -1;
    }
    return result;
}

namespace qb::test {

CloseFailure::CloseFailure(std::string fileName) {
    const std::lock_guard lock(armedMutex);
    armedName = std::move(fileName);
    armed = true;
}

CloseFailure::~CloseFailure() {
    armed = false;
}

}  // namespace qb::test
