// crypt32 certificate contexts: creation from DER, release.
#include <wincrypt.h>
#include <windows.h>

#include "machine/FaultSwitch.h"
#include "crypt32/CryptFailure.h"
#include "crypt32/CertStore.h"

PCCERT_CONTEXT WINAPI CertCreateCertificateContext(
    DWORD dwCertEncodingType, const BYTE* pbCertEncoded, DWORD cbCertEncoded)
{
    if (standin::injectFault("CertCreateCertificateContext"))
        return nullptr;
    return standin::answerOrFail<PCCERT_CONTEXT>(nullptr, [&]() -> PCCERT_CONTEXT {
        if ((dwCertEncodingType & CERT_ENCODING_TYPE_MASK) != X509_ASN_ENCODING)
            standin::failWith(E_INVALIDARG);
        if (!pbCertEncoded && cbCertEncoded)
            standin::failWith(ERROR_INVALID_PARAMETER);
        auto certificate = std::make_shared<standin::StoredCertificate>();
        certificate->encoded.assign(pbCertEncoded, pbCertEncoded + cbCertEncoded);
        certificate->encodingType = dwCertEncodingType;
        return standin::makeContext(std::move(certificate), nullptr, nullptr);
    });
}

BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext)
{
    if (standin::injectFault("CertFreeCertificateContext"))
        return FALSE;
    // As on Windows this always succeeds; a pointer we never handed out is left alone.
    standin::releaseContext(pCertContext);
    return TRUE;
}
