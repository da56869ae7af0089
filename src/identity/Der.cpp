#include "identity/Der.h"

#include <ctime>

namespace qb::identity {

using platform::Bytes;
using platform::ByteView;

namespace DER {

Bytes len(std::size_t length) {
    if (length < 0x80) {
        return {static_cast<std::uint8_t>(length)};
    }
    std::size_t count = 0;
    for (std::size_t rest = length; rest != 0; rest >>= 8) {
        ++count;
    }
    Bytes encoded(count + 1);
    encoded[0] = static_cast<std::uint8_t>(0x80 | count);
    for (std::size_t i = 0; i < count; ++i) {
        encoded[count - i] = static_cast<std::uint8_t>((length >> (8 * i)) & 0xFF);
    }
    return encoded;
}

Bytes tlv(std::uint8_t tag, const std::vector<Bytes>& parts) {
    std::size_t contentLength = 0;
    for (const Bytes& part : parts) {
        contentLength += part.size();
    }
    const Bytes lengthBytes = len(contentLength);
    Bytes out;
    out.reserve(1 + lengthBytes.size() + contentLength);
    out.push_back(tag);
    out.insert(out.end(), lengthBytes.begin(), lengthBytes.end());
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes seq(const std::vector<Bytes>& parts) {
    return tlv(0x30, parts);
}
Bytes set(const std::vector<Bytes>& parts) {
    return tlv(0x31, parts);
}

}  // namespace DER

namespace {

constexpr std::uint8_t kInteger = 0x02;
constexpr std::uint8_t kBitString = 0x03;
constexpr std::uint8_t kUtf8String = 0x0C;
constexpr std::uint8_t kUtcTime = 0x17;
constexpr std::size_t kPointLength = 65;
constexpr std::size_t kUtcTimeLength = 13;
// Nine leading zero bits would make a non-minimal INTEGER; one draw in 512 needs another, so a few
// dozen draws all failing means the random source is broken.
constexpr int kMaxSerialDraws = 64;

const Bytes kVersion3 = {0xA0, 0x03, 0x02, 0x01, 0x02};
const Bytes kEcdsaWithSha256 = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02};
const Bytes kCommonNameOid = {0x06, 0x03, 0x55, 0x04, 0x03};
const Bytes kEcPublicKeyOid = {0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
const Bytes kPrime256v1Oid = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

Bytes bytesOf(std::string_view text) {
    return platform::toBytes(text);
}

Bytes withLeadingZero(ByteView content) {
    Bytes out;
    out.reserve(content.size() + 1);
    out.push_back(0x00);
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes name(std::string_view commonName) {
    return DER::seq({DER::set({DER::seq({kCommonNameOid, DER::tlv(kUtf8String, {bytesOf(commonName)})})})});
}

}  // namespace

std::string utcTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    if (::gmtime_r(&seconds, &parts) == nullptr) {
        return {};
    }
    char text[16] = {};
    const std::size_t length = std::strftime(text, sizeof text, "%y%m%d%H%M%SZ", &parts);
    return std::string(text, length);
}

std::optional<Bytes> randomSerial() {
    for (int draw = 0; draw < kMaxSerialDraws; ++draw) {
        auto serial = platform::randomBytes(kSerialLength);
        if (!serial) {
            return std::nullopt;
        }
        (*serial)[0] &= 0x7F;
        if ((*serial)[0] != 0x00 || ((*serial)[1] & 0x80) != 0) {
            return serial;
        }
    }
    return std::nullopt;
}

std::optional<Bytes> makeCertificate(std::string_view commonName, ByteView publicPoint,
                                     const platform::PrivateKey& signer) {
    const auto serial = randomSerial();
    if (!serial) {
        return std::nullopt;
    }
    const auto oneDay = std::chrono::seconds(86400);
    return makeCertificate(commonName, publicPoint, signer, *serial,
                           utcTime(std::chrono::system_clock::now() - oneDay));
}

std::optional<Bytes> makeCertificate(std::string_view commonName, ByteView publicPoint,
                                     const platform::PrivateKey& signer, ByteView serial, std::string_view notBefore) {
    if (publicPoint.size() != kPointLength || publicPoint[0] != 0x04 || serial.size() != kSerialLength ||
        notBefore.size() != kUtcTimeLength) {
        return std::nullopt;
    }
    const Bytes algorithm = DER::seq({kEcdsaWithSha256});
    const Bytes issuerAndSubject = name(commonName);
    const Bytes validity =
        DER::seq({DER::tlv(kUtcTime, {bytesOf(notBefore)}), DER::tlv(kUtcTime, {bytesOf(kNotAfter)})});
    const Bytes publicKeyInfo =
        DER::seq({DER::seq({kEcPublicKeyOid, kPrime256v1Oid}), DER::tlv(kBitString, {withLeadingZero(publicPoint)})});
    const Bytes tbs = DER::seq({kVersion3, DER::tlv(kInteger, {Bytes(serial.begin(), serial.end())}), algorithm,
                                issuerAndSubject, validity, issuerAndSubject, publicKeyInfo});
    const auto signature = signer.sign(tbs);
    if (!signature) {
        return std::nullopt;
    }
    return DER::seq({tbs, algorithm, DER::tlv(kBitString, {withLeadingZero(*signature)})});
}

}  // namespace qb::identity
