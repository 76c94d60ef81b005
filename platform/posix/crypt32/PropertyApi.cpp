// crypt32 certificate context properties: the thumbprint, and the key link,
// read into the caller's buffer and set, written through to a persisted
// store's entry.
#include <wincrypt.h>
#include <windows.h>

#include <algorithm>

#include "machine/FaultSwitch.h"
#include "crypt32/CryptFailure.h"
#include "crypt32/KeyProvInfo.h"
#include "crypt32/CertStore.h"
#include "crypt32/Thumbprint.h"

BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData, DWORD* pcbData)
{
    if (standin::injectFault("CertGetCertificateContextProperty"))
        return FALSE;
    return standin::answerOrFail<BOOL>(FALSE, [&]() {
        const standin::CertContextObject* object = standin::contextObject(pCertContext);
        if (!object || !pcbData)
            standin::failWith(E_INVALIDARG);
        // The thumbprint is worked out from the certificate's bytes.
        if (dwPropId == CERT_SHA1_HASH_PROP_ID) {
            const standin::Bytes hash = standin::sha1Thumbprint(object->certificate->encoded);
            if (standin::callerHasRoom(static_cast<DWORD>(hash.size()), pvData, pcbData))
                std::copy(hash.begin(), hash.end(), static_cast<BYTE*>(pvData));
            return TRUE;
        }
        const auto& properties = object->certificate->properties;
        const auto found = properties.find(dwPropId);
        // The key link is the only property kept.
        if (dwPropId != CERT_KEY_PROV_INFO_PROP_ID || found == properties.end())
            standin::failWith(CRYPT_E_NOT_FOUND);
        if (standin::callerHasRoom(standin::keyProvInfoSize(found->second), pvData, pcbData))
            standin::unflattenKeyProvInfo(found->second, pvData);
        return TRUE;
    });
}

BOOL WINAPI CertSetCertificateContextProperty(
    PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD dwFlags, const void* pvData)
{
    if (standin::injectFault("CertSetCertificateContextProperty"))
        return FALSE;
    return standin::answerOrFail<BOOL>(FALSE, [&]() {
        standin::CertContextObject* object = standin::contextObject(pCertContext);
        // Only the key link is set, and always persisted: no caller removes
        // it, sets another property or keeps one out of the store's files.
        if (!object || dwPropId != CERT_KEY_PROV_INFO_PROP_ID || dwFlags != 0 || !pvData)
            standin::failWith(E_INVALIDARG);
        standin::StoredCertificate& certificate = *object->certificate;
        standin::Properties properties = certificate.properties;
        properties[dwPropId] = standin::flattenKeyProvInfo(*static_cast<const CRYPT_KEY_PROV_INFO*>(pvData));
        std::swap(certificate.properties, properties);
        if (object->store) {
            try {
                object->store->persist(certificate);
            } catch (const standin::CryptFailure&) {
                std::swap(certificate.properties, properties); // what is not saved is not set
                throw;
            }
        }
        return TRUE;
    });
}
