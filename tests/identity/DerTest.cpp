#include "identity/Der.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include <ctime>

namespace qb::identity {
namespace {

using platform::Bytes;

TEST(Der, LengthsUseTheShortestFormAndFramesHoldTheirParts) {
    const std::pair<std::size_t, Bytes> lengths[] = {{0, {0x00}},         {127, {0x7F}},
                                                     {128, {0x81, 0x80}}, {255, {0x81, 0xFF}},
                                                     {256, {0x82, 1, 0}}, {65535, {0x82, 0xFF, 0xFF}}};
    for (const auto& [length, encoded] : lengths) {
        EXPECT_EQ(DER::len(length), encoded) << length;
    }
    EXPECT_EQ(DER::seq({{0x02, 0x01, 0x05}, {0x05, 0x00}}), Bytes({0x30, 0x05, 0x02, 0x01, 0x05, 0x05, 0x00}));
    EXPECT_EQ(DER::set({}), Bytes({0x31, 0x00}));
    EXPECT_EQ(DER::tlv(0x04, {Bytes(200, 0xAA), Bytes(100, 0xBB)}).size(), 4u + 300u);
    // UTCTime has a two-digit year and is in UTC.
    EXPECT_EQ(utcTime(std::chrono::system_clock::from_time_t(0)), "700101000000Z");
    EXPECT_EQ(utcTime(std::chrono::system_clock::from_time_t(2524607999)), "491231235959Z");
}

std::time_t timeOf(const ASN1_TIME* time) {
    std::tm parts{};
    EXPECT_EQ(ASN1_TIME_to_tm(time, &parts), 1);
    return ::timegm(&parts);
}

std::string commonNameOf(const X509_NAME* name) {
    EXPECT_EQ(X509_NAME_entry_count(name), 1);
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, 0);
    EXPECT_EQ(OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry)), NID_commonName);
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
    EXPECT_EQ(ASN1_STRING_type(value), V_ASN1_UTF8STRING);
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                       static_cast<std::size_t>(ASN1_STRING_length(value)));
}

class MakeCertificate : public ::testing::Test {
protected:
    platform::PrivateKey key = std::move(platform::PrivateKey::generate()).value();
    Bytes point = *key.publicPoint();
};

// The normal and the test-mode name: the longer name only grows the lengths; both read back with OpenSSL.
TEST_F(MakeCertificate, HasTheFixedLayoutAndReadsBackWithOpenSsl) {
    const struct {
        const char* name;
        std::uint8_t bodyLength;
        std::size_t minSize, maxSize;
    } rows[] = {{"Quobblefin 3F2A9C01", 0xDA, 305, 312}, {"Quobblefin Test 3F2A9C01", 0xE4, 315, 322}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::time_t before = std::time(nullptr);
        const Bytes der = *makeCertificate(row.name, point, key);
        ASSERT_GE(der.size(), row.minSize);
        ASSERT_LE(der.size(), row.maxSize);
        EXPECT_EQ(Bytes(der.begin(), der.begin() + 2), Bytes({0x30, 0x82}));
        EXPECT_EQ(Bytes(der.begin() + 4, der.begin() + 14),
                  Bytes({0x30, 0x81, row.bodyLength, 0xA0, 0x03, 0x02, 0x01, 0x02, 0x02, 0x0C}));
        EXPECT_TRUE(platform::parseCertificate(der));

        const unsigned char* cursor = der.data();
        const platform::X509Ptr parsed(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
        ASSERT_TRUE(parsed);
        EXPECT_EQ(cursor, der.data() + der.size());
        X509* certificate = parsed.get();
        EXPECT_EQ(X509_get_version(certificate), 2);
        const ASN1_INTEGER* serial = X509_get0_serialNumber(certificate);
        EXPECT_EQ(ASN1_STRING_length(serial), 12);
        EXPECT_EQ(ASN1_STRING_type(serial), V_ASN1_INTEGER) << "positive";
        EXPECT_EQ(X509_get_signature_nid(certificate), NID_ecdsa_with_SHA256);
        EXPECT_EQ(commonNameOf(X509_get_subject_name(certificate)), row.name);
        EXPECT_EQ(X509_NAME_cmp(X509_get_subject_name(certificate), X509_get_issuer_name(certificate)), 0);
        EXPECT_EQ(timeOf(X509_get0_notAfter(certificate)), 2524607999);  // 2049-12-31 23:59:59 UTC
        EXPECT_NEAR(static_cast<double>(timeOf(X509_get0_notBefore(certificate))), static_cast<double>(before - 86400),
                    5.0);
        EXPECT_EQ(X509_get_ext_count(certificate), 0);

        EVP_PKEY* publicKey = X509_get0_pubkey(certificate);
        ASSERT_NE(publicKey, nullptr);
        char group[32] = {};
        EVP_PKEY_get_group_name(publicKey, group, sizeof group, nullptr);
        EXPECT_STREQ(group, "prime256v1");
        EXPECT_EQ(X509_verify(certificate, publicKey), 1) << "self-signature";
        EXPECT_TRUE(key.matches(platform::PublicKey(platform::EvpPkeyPtr(X509_get_pubkey(certificate)))));
    }
}

TEST_F(MakeCertificate, SerialsAreMinimalPositiveDerAsStrictParsersDemand) {
    const auto withSerial = [&](Bytes serial) {
        return platform::parseCertificate(*makeCertificate("Q", point, key, serial, "250101000000Z")).has_value();
    };
    Bytes serial(12, 0x11);
    EXPECT_TRUE(withSerial(serial));
    serial[0] = 0x00;
    serial[1] = 0x80;
    EXPECT_TRUE(withSerial(serial)) << "a zero byte before a high bit is required padding";
    serial[1] = 0x7F;
    EXPECT_FALSE(withSerial(serial)) << "nine leading zero bits are not minimal";

    for (int draw = 0; draw < 2000; ++draw) {
        const Bytes drawn = *randomSerial();
        ASSERT_EQ(drawn.size(), 12u);
        ASSERT_EQ(drawn[0] & 0x80, 0);
        ASSERT_FALSE(drawn[0] == 0 && (drawn[1] & 0x80) == 0);
    }
    // A serial starting with nine zero bits is one draw in 512; enough certificates make missing the redraw show.
    for (int round = 0; round < 600; ++round) {
        const auto der = makeCertificate("Quobblefin 00000000", point, key);
        ASSERT_TRUE(der);
        ASSERT_TRUE(platform::parseCertificate(*der)) << "round " << round;
    }
}

}  // namespace
}  // namespace qb::identity
