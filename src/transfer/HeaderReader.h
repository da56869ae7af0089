#pragma once

// The header that opens every connection, taken in as its bytes arrive. The announced length is only a
// bound: the buffer grows with what was received, so a peer that announces almost 1 MiB and sends
// nothing costs a few KiB, not the megabyte it announced.

#include <asio/awaitable.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/Bytes.h"
#include "platform/Stream.h"
#include "transfer/Wire.h"

namespace qb::transfer {

class HeaderReader {
public:
    enum class State {
        reading,   // more bytes are wanted
        complete,  // header() holds the decoded header
        refused,   // wrong magic, length out of range, undecodable JSON or negative size
    };

    // How many more bytes belong to the prefix or the header. Reading at most this much never takes a
    // byte of the body that follows.
    std::size_t wanted() const;
    // Takes the next bytes, at most wanted() of them (the excess is ignored).
    State feed(platform::ByteView bytes);

    State state() const { return state_; }
    // Only when complete.
    const FileHeader& header() const { return *header_; }

private:
    State finishPrefix();
    State finishHeader();

    State state_ = State::reading;
    platform::Bytes received_;
    std::optional<std::uint32_t> length_;  // once the prefix is in
    std::optional<FileHeader> header_;
};

// Reads the prefix and the header from `stream` as they arrive, without a time limit (a slow sender is
// allowed; the listener's cap on waiting connections bounds what silent ones cost). Nothing when the
// connection ends first or the header is refused; the connection is left to the caller.
asio::awaitable<std::optional<FileHeader>> readHeader(platform::Stream& stream);

}  // namespace qb::transfer
