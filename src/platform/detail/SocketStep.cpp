#include "platform/detail/SocketStep.h"

#include <asio/error.hpp>

#include <sys/socket.h>

#include <cerrno>

namespace qb::platform::detail {
namespace {

template <typename Call>
Step completeNow(Want retry, Call call) {
    for (;;) {
        const ssize_t result = call();
        if (result > 0)
            return {Want::nothing, {}, static_cast<std::size_t>(result)};
        if (result == 0)
            return {Want::nothing, asio::error::eof, 0};
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return {retry, {}, 0};
        return {Want::nothing, std::error_code(errno, asio::error::get_system_category()), 0};
    }
}

}  // namespace

Step receiveNow(int descriptor, std::span<std::uint8_t> into) {
    return completeNow(Want::readable, [&] { return ::recv(descriptor, into.data(), into.size(), MSG_DONTWAIT); });
}

Step sendNow(int descriptor, ByteView bytes) {
    return completeNow(Want::writable,
                       [&] { return ::send(descriptor, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL); });
}

}  // namespace qb::platform::detail
