#include "platform/Contained.h"

#include <cstdio>

namespace qb::platform {

namespace {

std::string describe(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an exception that is not a std::exception";
    }
}

}  // namespace

void reportEscaped(std::string_view where, const std::exception_ptr& failure) noexcept {
    try {
        const std::string line =
            "[quobblefin] " + std::string(where) + " ended by an exception: " + describe(failure) + "\n";
        // One write call, so that lines of several threads do not interleave.
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    } catch (...) {
        std::fputs("[quobblefin] an exception escaped and could not be described\n", stderr);
    }
}

}  // namespace qb::platform
