// A certificate as crypt32 hands it out: its DER bytes and a CERT_INFO whose
// pointers lead into this object's own OpenSSL certificate and copies, so it
// never moves.
#pragma once

#include <list>
#include <string>
#include <vector>

#include "crypt32/Asn1.h"

namespace standin {

class DecodedCertificate {
public:
    // Throws CryptFailure with crypt32's ASN.1 code when `encoded` is not a
    // certificate.
    explicit DecodedCertificate(Bytes encoded);
    DecodedCertificate(const DecodedCertificate&) = delete;
    DecodedCertificate& operator=(const DecodedCertificate&) = delete;

    const Bytes& encoded() const { return encoded_; }
    CERT_INFO* info() { return &info_; }

private:
    LPSTR keep(std::string text);
    CRYPT_OBJID_BLOB keep(Bytes bytes);
    void readAlgorithm(const X509_ALGOR* from, CRYPT_ALGORITHM_IDENTIFIER& algorithm);
    void readExtensions();

    Bytes encoded_;
    X509Certificate certificate_;
    Bytes serial_;
    std::list<std::string> texts_;
    std::list<Bytes> copies_;
    std::vector<CERT_EXTENSION> extensions_;
    CERT_INFO info_ {};
};

} // namespace standin
