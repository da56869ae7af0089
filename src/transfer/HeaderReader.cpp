#include "transfer/HeaderReader.h"

#include <algorithm>
#include <array>

namespace qb::transfer {

namespace {

// One read takes at most this much: what a silent or slow peer makes the receiver hold beyond the bytes
// it actually sent.
constexpr std::size_t kReadPiece = 4096;

}  // namespace

std::size_t HeaderReader::wanted() const {
    if (state_ != State::reading) {
        return 0;
    }
    const std::size_t end = Wire::kPrefixLength + (length_ ? *length_ : 0);
    return end - received_.size();
}

HeaderReader::State HeaderReader::feed(platform::ByteView bytes) {
    const auto taken = bytes.first(std::min(bytes.size(), wanted()));
    received_.insert(received_.end(), taken.begin(), taken.end());
    if (state_ != State::reading || wanted() > 0) {
        return state_;
    }
    return length_ ? finishHeader() : finishPrefix();
}

HeaderReader::State HeaderReader::finishPrefix() {
    length_ = Wire::parsePrefix(received_);
    state_ = length_ ? State::reading : State::refused;
    return state_;
}

HeaderReader::State HeaderReader::finishHeader() {
    auto json = platform::ByteView(received_).subspan(Wire::kPrefixLength);
    header_ = Wire::decodeHeader(json);
    received_ = {};
    state_ = header_ && !Wire::hasNegativeSize(*header_) ? State::complete : State::refused;
    return state_;
}

asio::awaitable<std::optional<FileHeader>> readHeader(platform::Stream& stream) {
    HeaderReader reader;
    std::array<std::uint8_t, kReadPiece> piece{};
    while (reader.state() == HeaderReader::State::reading) {
        const auto size = std::min(piece.size(), reader.wanted());
        const auto [error, read] = co_await stream.readSome(std::span(piece).first(size));
        if (error) {
            co_return std::nullopt;
        }
        reader.feed(std::span(piece).first(read));
    }
    if (reader.state() != HeaderReader::State::complete) {
        co_return std::nullopt;
    }
    co_return reader.header();
}

}  // namespace qb::transfer
