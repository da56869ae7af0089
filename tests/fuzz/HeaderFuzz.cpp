// The prefix and header decoder, fed in pieces of every size the network could deliver.

#include <algorithm>

#include "FuzzTarget.h"
#include "transfer/HeaderReader.h"

using qb::transfer::HeaderReader;
using qb::transfer::Wire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses how the rest arrives: in pieces of 1 to 256 bytes.
    const std::size_t piece = static_cast<std::size_t>(data[0]) + 1;
    const auto input = qb::fuzz::bytes(data + 1, size - 1);
    HeaderReader reader;
    std::size_t offset = 0;
    while (reader.state() == HeaderReader::State::reading && offset < input.size()) {
        const auto wanted = reader.wanted();
        qb::fuzz::require(wanted > 0 && wanted <= Wire::kPrefixLength + Wire::kMaxHeaderLength);
        const auto taken = std::min({piece, wanted, input.size() - offset});
        reader.feed(input.subspan(offset, taken));
        offset += taken;
    }
    if (reader.state() == HeaderReader::State::complete) {
        const auto& header = reader.header();
        qb::fuzz::require(header.size >= 0);
        // What decodes must survive its own encoding.
        const auto again =
            Wire::decodeHeader(qb::fuzz::bytes(reinterpret_cast<const std::uint8_t*>(Wire::encodeHeader(header).data()),
                                               Wire::encodeHeader(header).size()));
        qb::fuzz::require(again.has_value());
    }
    return 0;
}
