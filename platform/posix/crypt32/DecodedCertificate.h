// A certificate as crypt32 hands it out: its DER bytes and a CERT_INFO whose
// pointers lead into this object's own copies, so it never moves.
#pragma once

#include <wincrypt.h>
#include <windows.h>

#include <list>
#include <string>
#include <vector>

#include "crypt32/Der.h"

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
    CRYPT_OBJID_BLOB blob(const unsigned char* data, std::size_t size);
    void readAlgorithm(const der::Element& element, CRYPT_ALGORITHM_IDENTIFIER& algorithm);
    void readBitString(const der::Element& element, CRYPT_BIT_BLOB& bits);
    void readExtensions(const der::Element& element);

    Bytes encoded_;
    Bytes serial_;
    std::list<std::string> texts_;
    std::vector<CERT_EXTENSION> extensions_;
    CERT_INFO info_ {};
};

} // namespace standin
