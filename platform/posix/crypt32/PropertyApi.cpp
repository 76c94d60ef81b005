// crypt32 certificate context properties: read into the caller's buffer,
// set and removed, written through to a persisted store's entry.
#include <wincrypt.h>
#include <windows.h>

#include <cstring>

#include "machine/FaultSwitch.h"
#include "crypt32/CryptFailure.h"
#include "crypt32/KeyProvInfo.h"
#include "crypt32/CertStore.h"
#include "crypt32/Thumbprint.h"

namespace {

standin::Bytes computedHash(DWORD propId, const standin::Bytes& encoded)
{
    return propId == CERT_SHA1_HASH_PROP_ID ? standin::sha1Thumbprint(encoded) : standin::md5Thumbprint(encoded);
}

} // namespace

BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData, DWORD* pcbData)
{
    if (standin::injectFault("CertGetCertificateContextProperty"))
        return FALSE;
    return standin::answerOrFail<BOOL>(FALSE, [&]() {
        const standin::CertContextObject* object = standin::contextObject(pCertContext);
        if (!object || !pcbData)
            standin::failWith(E_INVALIDARG);
        const auto& properties = object->certificate->properties;
        const auto found = properties.find(dwPropId);
        standin::Bytes value;
        if (found != properties.end())
            value = found->second;
        else if (dwPropId == CERT_SHA1_HASH_PROP_ID || dwPropId == CERT_MD5_HASH_PROP_ID)
            value = computedHash(dwPropId, object->certificate->encoded);
        else
            standin::failWith(CRYPT_E_NOT_FOUND);

        if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID) {
            if (standin::callerHasRoom(standin::keyProvInfoSize(value), pvData, pcbData))
                standin::unflattenKeyProvInfo(value, pvData);
        } else if (standin::callerHasRoom(static_cast<DWORD>(value.size()), pvData, pcbData) && !value.empty()) {
            std::memcpy(pvData, value.data(), value.size());
        }
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
        if (!object)
            standin::failWith(E_INVALIDARG);
        standin::StoredCertificate& certificate = *object->certificate;
        standin::Properties properties = certificate.properties;
        if (!pvData) {
            properties.erase(dwPropId);
        } else if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID) {
            properties[dwPropId] = standin::flattenKeyProvInfo(*static_cast<const CRYPT_KEY_PROV_INFO*>(pvData));
        } else {
            const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvData);
            properties[dwPropId] = standin::Bytes(blob->pbData, blob->pbData + (blob->pbData ? blob->cbData : 0));
        }
        std::swap(certificate.properties, properties);
        if (object->store && !(dwFlags & CERT_SET_PROPERTY_INHIBIT_PERSIST_FLAG)) {
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
