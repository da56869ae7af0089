#pragma once

#include "platform/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <system_error>

namespace qb::platform::detail {

// What a call on a non-blocking socket needs before it can go on.
enum class Want { nothing, readable, writable };

// The outcome of one call that never waits. With Want::nothing the call is over: `error` is its result and `size`
// the bytes read or written. Otherwise the caller waits for the socket to become as ready as it asks and calls
// again with the same arguments.
struct Step {
    Want want = Want::nothing;
    std::error_code error;
    std::size_t size = 0;
};

// One recv(2) or send(2) on a plain TCP socket, without waiting and without SIGPIPE. The peer's orderly end reads
// as asio::error::eof.
Step receiveNow(int descriptor, std::span<std::uint8_t> into);
Step sendNow(int descriptor, ByteView bytes);

// Repeats `once(done)` until `target` bytes are done, the socket must be waited for, or a call fails; the outcome's
// size counts every byte of all the calls. A call that moves nothing ends the repetition, so it always ends.
template <typename Once>
Step repeatUntil(std::size_t target, std::size_t& done, Once once) {
    for (;;) {
        const Step outcome = once(done);
        done += outcome.size;
        if (outcome.want != Want::nothing || outcome.error || outcome.size == 0 || done >= target)
            return {outcome.want, outcome.error, done};
    }
}

}  // namespace qb::platform::detail
