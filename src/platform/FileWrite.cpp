#include "platform/FileWrite.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/UniqueFd.h"

namespace qb::platform {

std::error_code writeAll(int fd, ByteView bytes) {
    // Each pass writes at least one byte or fails, so the loop ends.
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? std::error_code(errno, std::system_category())
                               : std::make_error_code(std::errc::io_error);
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return {};
}

std::error_code syncFolder(const std::filesystem::path& folder) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd || ::fsync(fd.get()) != 0) {
        return {errno, std::system_category()};
    }
    return {};
}

std::error_code replaceFile(const std::filesystem::path& file, std::string_view text) {
    std::string tempName = file.string() + ".XXXXXX";
    UniqueFd fd(::mkostemp(tempName.data(), O_CLOEXEC));  // created 0600
    if (!fd) {
        return {errno, std::system_category()};
    }
    std::error_code error = writeAll(fd.get(), asBytes(text));
    if (!error && ::fsync(fd.get()) != 0) {
        error = {errno, std::system_category()};
    }
    if (const auto closeError = fd.close(); !error) {
        error = closeError;
    }
    if (!error && ::rename(tempName.c_str(), file.c_str()) != 0) {
        error = {errno, std::system_category()};
    }
    if (error) {
        ::unlink(tempName.c_str());
        return error;
    }
    return syncFolder(file.has_parent_path() ? file.parent_path() : std::filesystem::path("."));
}

}  // namespace qb::platform
