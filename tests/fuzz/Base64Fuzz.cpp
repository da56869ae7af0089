// Strict Base64: whatever decodes is canonical, so encoding it again gives the same text.

#include "FuzzTarget.h"
#include "platform/Crypto.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto text = qb::fuzz::text(data, size);
    if (const auto decoded = qb::platform::base64Decode(text)) {
        qb::fuzz::require(qb::platform::base64Encode(*decoded) == text);
    }
    const auto encoded = qb::platform::base64Encode(qb::fuzz::bytes(data, size));
    const auto back = qb::platform::base64Decode(encoded);
    qb::fuzz::require(back && std::equal(back->begin(), back->end(), data, data + size));
    return 0;
}
