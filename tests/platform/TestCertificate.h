#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

#include "platform/Crypto.h"

namespace qb::test {

// A self-signed certificate made by OpenSSL itself, so platform tests need no certificate builder of ours.
inline platform::Bytes selfSignedCertificate(const platform::PrivateKey& key, const std::string& commonName) {
    const platform::X509Ptr certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600);
    X509_set_pubkey(certificate.get(), key.native());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    if (X509_sign(certificate.get(), key.native(), EVP_sha256()) <= 0) {
        return {};
    }
    return platform::Certificate(platform::X509Ptr(X509_dup(certificate.get()))).der();
}

inline platform::PrivateKey newKey() {
    return std::move(platform::PrivateKey::generate()).value();
}

}  // namespace qb::test
