#include "CertificateBytes.h"

#include <windows.h>
#include <wincrypt.h>

#include "CryptHandles.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr BYTE kDerSequence = 0x30;
constexpr BYTE kDerLongLength = 0x80;
constexpr std::size_t kDerMaxLengthBytes = 4;

} // namespace

bool isOneDerSequence(const Bytes& der)
{
    if (der.size() < 2 || der[0] != kDerSequence)
        return false;
    std::size_t header = 2;
    std::size_t length = der[1];
    if (der[1] & kDerLongLength) {
        const std::size_t lengthBytes = der[1] & ~kDerLongLength;
        if (lengthBytes == 0 || lengthBytes > kDerMaxLengthBytes || der.size() < 2 + lengthBytes)
            return false;
        length = 0;
        for (std::size_t i = 0; i < lengthBytes; ++i)
            length = length << 8 | der[2 + i];
        header += lengthBytes;
    }
    return der.size() - header == length;
}

bool isOneCertificate(const Bytes& der)
{
    return isOneDerSequence(der)
        && CertificateContext(CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
}
