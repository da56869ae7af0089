#include "platform/Crypto.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <random>

namespace qb::platform {

namespace {

struct EvpPkeyCtxDeleter {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct EvpMdCtxDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct BignumDeleter {
    void operator()(BIGNUM* number) const { BN_free(number); }
};
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, EvpPkeyCtxDeleter>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, EvpMdCtxDeleter>;
using BioPtr = std::unique_ptr<BIO, BioDeleter>;
using BignumPtr = std::unique_ptr<BIGNUM, BignumDeleter>;

constexpr std::size_t kCoordinateLength = 32;
constexpr std::size_t kPointLength = 1 + 2 * kCoordinateLength;
constexpr std::uint8_t kUncompressedPointTag = 0x04;

CryptoError failure(std::string_view what) {
    return CryptoError{std::string(what) + ": " + drainOpenSslErrors()};
}

bool isP256(const EVP_PKEY* key) {
    if (key == nullptr || EVP_PKEY_is_a(key, "EC") != 1) {
        return false;
    }
    char group[64] = {};
    std::size_t groupLength = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &groupLength) != 1) {
        ERR_clear_error();
        return false;
    }
    return std::string_view(group, groupLength) == SN_X9_62_prime256v1;
}

std::optional<Bytes> coordinate(const EVP_PKEY* key, const char* name) {
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) {
        return std::nullopt;
    }
    const BignumPtr value(raw);
    Bytes out(kCoordinateLength);
    if (BN_bn2binpad(value.get(), out.data(), static_cast<int>(out.size())) != static_cast<int>(out.size())) {
        return std::nullopt;
    }
    return out;
}

CryptoResult<Bytes> uncompressedPoint(const EVP_PKEY* key) {
    if (!isP256(key)) {
        return CryptoError{"not a P-256 key"};
    }
    const auto x = coordinate(key, OSSL_PKEY_PARAM_EC_PUB_X);
    const auto y = coordinate(key, OSSL_PKEY_PARAM_EC_PUB_Y);
    if (!x || !y) {
        return failure("cannot read the public point");
    }
    Bytes point;
    point.reserve(kPointLength);
    point.push_back(kUncompressedPointTag);
    point.insert(point.end(), x->begin(), x->end());
    point.insert(point.end(), y->begin(), y->end());
    return point;
}

// The read callback that refuses to ask anyone for a passphrase: our keys are never encrypted.
int noPassphrase(char*, int, int, void*) {
    return 0;
}

}  // namespace

void EvpPkeyDeleter::operator()(EVP_PKEY* key) const {
    EVP_PKEY_free(key);
}
void X509Deleter::operator()(X509* certificate) const {
    X509_free(certificate);
}

std::string drainOpenSslErrors(std::string_view fallback) {
    std::string text;
    const char* data = nullptr;
    int flags = 0;
    // Bounded: the queue holds at most ERR_NUM_ERRORS entries.
    for (unsigned long code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags); code != 0;
         code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        if (!text.empty()) {
            text += "; ";
        }
        text += buffer;
        if ((flags & ERR_TXT_STRING) != 0 && data != nullptr && *data != '\0') {
            text += " (";
            text += data;
            text += ")";
        }
    }
    return text.empty() ? std::string(fallback) : text;
}

bool PublicKey::verify(ByteView message, ByteView signature) const {
    if (!key_ || EVP_PKEY_is_a(key_.get(), "EC") != 1) {
        return false;
    }
    const EvpMdCtxPtr context(EVP_MD_CTX_new());
    const bool valid =
        context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) == 1 &&
        EVP_DigestVerify(context.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
    // A bad signature is an answer, not an error; leave nothing behind for the next caller on this thread.
    ERR_clear_error();
    return valid;
}

CryptoResult<Bytes> PublicKey::publicPoint() const {
    return uncompressedPoint(key_.get());
}

CryptoResult<PrivateKey> PrivateKey::generate() {
    const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_group_name(context.get(), SN_X9_62_prime256v1) != 1) {
        return failure("P-256 key generation setup failed");
    }
    EVP_PKEY* raw = nullptr;
    if (EVP_PKEY_generate(context.get(), &raw) != 1) {
        return failure("P-256 key generation failed");
    }
    return PrivateKey(EvpPkeyPtr(raw));
}

CryptoResult<PrivateKey> PrivateKey::fromPem(std::string_view pem) {
    if (pem.size() > INT_MAX) {
        return CryptoError{"PEM text too long"};
    }
    const BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) {
        return failure("cannot read PEM");
    }
    EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr));
    if (!key) {
        return failure("not a PEM private key");
    }
    if (!isP256(key.get())) {
        return CryptoError{"not a P-256 key"};
    }
    return PrivateKey(std::move(key));
}

CryptoResult<std::string> PrivateKey::toPem() const {
    // Secure-heap memory when the process set one up; an ordinary memory buffer otherwise.
    const BioPtr bio(BIO_new(BIO_s_secmem()));
    if (!key_ || !bio || PEM_write_bio_PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return failure("cannot encode the private key");
    }
    char* data = nullptr;
    const long length = BIO_ctrl(bio.get(), BIO_CTRL_INFO, 0, static_cast<void*>(&data));
    if (length <= 0 || data == nullptr) {
        return failure("cannot encode the private key");
    }
    return std::string(data, static_cast<std::size_t>(length));
}

CryptoResult<Bytes> PrivateKey::publicPoint() const {
    return uncompressedPoint(key_.get());
}

std::optional<Bytes> PrivateKey::sign(ByteView message) const {
    const EvpMdCtxPtr context(EVP_MD_CTX_new());
    std::size_t length = 0;
    if (!key_ || !context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, message.data(), message.size()) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    Bytes signature(length);
    if (EVP_DigestSign(context.get(), signature.data(), &length, message.data(), message.size()) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    signature.resize(length);
    return signature;
}

bool PrivateKey::matches(const PublicKey& key) const {
    const bool same = key_ && key.native() != nullptr && EVP_PKEY_eq(key_.get(), key.native()) == 1;
    ERR_clear_error();
    return same;
}

Bytes Certificate::der() const {
    const int length = i2d_X509(certificate_.get(), nullptr);
    if (length <= 0) {
        ERR_clear_error();
        return {};
    }
    Bytes out(static_cast<std::size_t>(length));
    std::uint8_t* cursor = out.data();
    if (i2d_X509(certificate_.get(), &cursor) != length) {
        ERR_clear_error();
        return {};
    }
    return out;
}

std::string Certificate::subjectText() const {
    const X509_NAME* subject = X509_get_subject_name(certificate_.get());
    std::string text;
    const int count = subject != nullptr ? X509_NAME_entry_count(subject) : 0;
    for (int index = 0; index < count; ++index) {
        const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, value);
        if (length < 0) {
            continue;
        }
        if (!text.empty()) {
            text += ", ";
        }
        text.append(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length));
        OPENSSL_free(utf8);
    }
    ERR_clear_error();
    return text;
}

std::optional<Certificate> parseCertificate(ByteView der) {
    if (der.empty() || der.size() > LONG_MAX) {
        return std::nullopt;
    }
    const std::uint8_t* cursor = der.data();
    X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (!certificate || cursor != der.data() + der.size()) {
        ERR_clear_error();
        return std::nullopt;
    }
    Certificate parsed(std::move(certificate));
    // The decoder tolerates some BER; only the canonical encoding counts as a certificate here.
    const Bytes reencoded = parsed.der();
    if (!std::equal(reencoded.begin(), reencoded.end(), der.begin(), der.end())) {
        return std::nullopt;
    }
    return parsed;
}

std::optional<PublicKey> publicKeyOf(const Certificate& certificate) {
    EvpPkeyPtr key(X509_get_pubkey(certificate.native()));
    if (!key) {
        ERR_clear_error();
        return std::nullopt;
    }
    return PublicKey(std::move(key));
}

bool verifySignature(ByteView certificateDer, ByteView message, ByteView signature) {
    const auto certificate = parseCertificate(certificateDer);
    if (!certificate) {
        return false;
    }
    const auto key = publicKeyOf(*certificate);
    return key && key->verify(message, signature);
}

Sha256Digest sha256(ByteView data) {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size()) {
        // SHA-256 from the default provider cannot fail short of memory exhaustion; a zero digest
        // would silently alias every key, so stop instead.
        std::abort();
    }
    return digest;
}

std::string hex(ByteView data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(data.size() * 2);
    for (const std::uint8_t byte : data) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

std::string uuidText(Bytes sixteenBytes) {
    sixteenBytes.resize(16);
    sixteenBytes[6] = static_cast<std::uint8_t>((sixteenBytes[6] & 0x0F) | 0x40);
    sixteenBytes[8] = static_cast<std::uint8_t>((sixteenBytes[8] & 0x3F) | 0x80);
    const std::string digits = hex(sixteenBytes);
    return digits.substr(0, 8) + "-" + digits.substr(8, 4) + "-" + digits.substr(12, 4) + "-" + digits.substr(16, 4) +
           "-" + digits.substr(20);
}

std::string randomUuid() {
    auto bytes = randomBytes(16);
    if (!bytes) {
        std::random_device device;
        bytes.emplace(16);
        std::generate(bytes->begin(), bytes->end(), [&] { return static_cast<std::uint8_t>(device()); });
    }
    return uuidText(std::move(*bytes));
}

std::optional<Bytes> randomBytes(std::size_t count) {
    if (count > INT_MAX) {
        return std::nullopt;
    }
    Bytes out(count);
    if (RAND_bytes(out.data(), static_cast<int>(count)) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    return out;
}

namespace {

constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Chunks keep every OpenSSL length inside an int.
constexpr std::size_t kEncodeChunk = 3 * 16384;
constexpr std::size_t kDecodeChunk = 4 * 16384;

int base64Value(char character) {
    const auto position = kBase64Alphabet.find(character);
    return position == std::string_view::npos ? -1 : static_cast<int>(position);
}

// Canonical form only: alphabet characters, then at most two '=', and the bits the padding drops are zero.
bool isCanonicalBase64(std::string_view text, std::size_t& padding) {
    if (text.size() % 4 != 0) {
        return false;
    }
    padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    const std::string_view body = text.substr(0, text.size() - padding);
    if (!std::all_of(body.begin(), body.end(), [](char c) { return base64Value(c) >= 0; })) {
        return false;
    }
    if (padding == 0) {
        return true;
    }
    const int lastValue = base64Value(body.back());
    const int droppedBits = padding == 1 ? 0x03 : 0x0F;
    return (lastValue & droppedBits) == 0;
}

}  // namespace

std::string base64Encode(ByteView data) {
    std::string text;
    text.reserve((data.size() + 2) / 3 * 4);
    for (std::size_t offset = 0; offset < data.size(); offset += kEncodeChunk) {
        const std::size_t length = std::min(kEncodeChunk, data.size() - offset);
        std::string chunk((length + 2) / 3 * 4 + 1, '\0');
        const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(chunk.data()), data.data() + offset,
                                            static_cast<int>(length));
        text.append(chunk.data(), static_cast<std::size_t>(written));
    }
    return text;
}

std::optional<Bytes> base64Decode(std::string_view text) {
    std::size_t padding = 0;
    if (!isCanonicalBase64(text, padding)) {
        return std::nullopt;
    }
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t offset = 0; offset < text.size(); offset += kDecodeChunk) {
        const std::size_t length = std::min(kDecodeChunk, text.size() - offset);
        Bytes chunk(length / 4 * 3);
        const int written = EVP_DecodeBlock(chunk.data(), reinterpret_cast<const unsigned char*>(text.data() + offset),
                                            static_cast<int>(length));
        if (written < 0) {
            ERR_clear_error();
            return std::nullopt;
        }
        out.insert(out.end(), chunk.begin(), chunk.begin() + written);
    }
    // The decoder turns padding into zero bytes; they are not data.
    out.resize(out.size() - padding);
    return out;
}

}  // namespace qb::platform
