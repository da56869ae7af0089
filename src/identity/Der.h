#pragma once

// The DER encoders and the builder of this device's self-signed certificate. The certificate's layout is
// fixed byte for byte so that every device produces the same shape: X.509 version 3, a 12-byte serial,
// ecdsa-with-SHA256, issuer = subject = one commonName, no extensions, a P-256 key.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Crypto.h"

namespace qb::identity {

namespace DER {

// Definite length: short form below 128, else 0x81 n, 0x82 hi lo, ... (minimal long form).
platform::Bytes len(std::size_t length);
// The tag, the length of the concatenated parts, the parts.
platform::Bytes tlv(std::uint8_t tag, const std::vector<platform::Bytes>& parts);
// SEQUENCE (0x30).
platform::Bytes seq(const std::vector<platform::Bytes>& parts);
// SET (0x31).
platform::Bytes set(const std::vector<platform::Bytes>& parts);

}  // namespace DER

inline constexpr std::size_t kSerialLength = 12;
inline constexpr std::string_view kNotAfter = "491231235959Z";

// `time` as a UTCTime text "yyMMddHHmmssZ" in UTC.
std::string utcTime(std::chrono::system_clock::time_point time);

// 12 secure random bytes forming a positive INTEGER in minimal DER with exactly 12 content bytes:
// top bit clear, and not starting with nine zero bits. nullopt when the random source fails.
std::optional<platform::Bytes> randomSerial();

// The self-signed certificate for `publicPoint` (65 bytes, 04 || X || Y), signed with `signer`,
// with a fresh serial and notBefore one day before now. nullopt when signing or the random source fails.
std::optional<platform::Bytes> makeCertificate(std::string_view commonName, platform::ByteView publicPoint,
                                               const platform::PrivateKey& signer);

// The same with a given serial (12 bytes) and notBefore text (13 characters).
std::optional<platform::Bytes> makeCertificate(std::string_view commonName, platform::ByteView publicPoint,
                                               const platform::PrivateKey& signer, platform::ByteView serial,
                                               std::string_view notBefore);

}  // namespace qb::identity
