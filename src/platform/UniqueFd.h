#pragma once

#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace qb::platform {

// Owns one POSIX file descriptor and closes it on every path.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }

    // Closes now, ignoring the result: for descriptors whose later use would fail anyway.
    void reset() {
        if (fd_ >= 0) {
            ::close(std::exchange(fd_, -1));
        }
    }

    // Closes now and reports the result: close can report a failed write-back, which a writer must see.
    std::error_code close() {
        if (fd_ < 0) {
            return {};
        }
        return ::close(std::exchange(fd_, -1)) == 0 ? std::error_code()
                                                    : std::error_code(errno, std::system_category());
    }

private:
    int fd_ = -1;
};

}  // namespace qb::platform
