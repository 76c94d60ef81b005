#include "CertificateRequest.h"

#include <windows.h>
#include <wincrypt.h>

#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "AnsiText.h"
#include "CapiMessages.h"
#include "Encoding.h"
#include "KeyContext.h"
#include "KeyStorage.h"
#include "LocalBytes.h"
#include "ProviderRules.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr AcquireFailures kRequestAcquireFailures
    = { kRequestKnownAcquireFailed, kRequestSoftwareAcquireFailed, false };
// The request's public key is the one that signs it: both name the
// exchange key, the only key createKeyPair makes.
constexpr DWORD kRequestKeySpec = AT_KEYEXCHANGE;

// What an ASN.1 PrintableString holds.
constexpr std::string_view kPrintableCharacters
    = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 '()+,-./:=?";

// The text is not parsed: all of it is one common name. A PrintableString
// when it holds the text; any other text (accents, '@') is a UTF8String, the
// choice of RFC 5280 for new names, which crypt32 takes as wide text.
LocalBytes encodedSubject(const std::string& subjectText)
{
    CERT_RDN_ATTR commonName {};
    commonName.pszObjId = const_cast<LPSTR>(szOID_COMMON_NAME);
    std::optional<std::vector<WCHAR>> wide;
    if (subjectText.find_first_not_of(kPrintableCharacters) == std::string::npos) {
        commonName.dwValueType = CERT_RDN_PRINTABLE_STRING;
        commonName.Value.cbData = static_cast<DWORD>(subjectText.size());
        commonName.Value.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(subjectText.data()));
    } else {
        // Read through the ANSI code page, as every argument is; text that it
        // does not convert fails like a value that the encoder refuses.
        wide = wideFromAnsi(subjectText, MB_ERR_INVALID_CHARS);
        if (!wide)
            throw std::runtime_error(kRequestNameFirstFailed);
        commonName.dwValueType = CERT_RDN_UTF8_STRING;
        commonName.Value.cbData = static_cast<DWORD>(wide->size() * sizeof(WCHAR));
        commonName.Value.pbData = reinterpret_cast<BYTE*>(wide->data());
    }
    CERT_RDN rdn { 1, &commonName };
    CERT_NAME_INFO name { 1, &rdn };
    return sizeThenFill(
        [&](BYTE* data, DWORD* size) { return CryptEncodeObject(kEncoding, X509_NAME, &name, data, size); },
        { kRequestNameFirstFailed, kRequestNameNoMemory, kRequestNameSecondFailed });
}

} // namespace

std::string certificateRequest(
    const std::string& subjectText, const std::string& providerName, const std::string& containerName, int providerType)
{
    if (subjectText.empty())
        throw std::runtime_error(kRequestSubjectNull);
    if (providerName.empty())
        throw std::runtime_error(kRequestProviderNameNull);
    if (containerName.empty())
        throw std::runtime_error(kRequestContainerNameNull);

    // Declared in the reverse of their release: name, key information,
    // request, and the key: a KSP's key and its provider, or the context.
    ProviderContext context;
    KeyStorageProvider storage;
    PersistedKey persistedKey;
    LocalBytes request;
    LocalBytes keyInfo;
    LocalBytes encodedName = encodedSubject(subjectText);

    // crypt32 signs with either; a KSP's key is named by its own key spec.
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
    DWORD keySpec = kRequestKeySpec;
    if (static_cast<DWORD>(providerType) == kKeyStorageProviderType) {
        storage = openStorageProvider(
            wideName(providerName, kRequestStorageProviderFailed).data(), kRequestStorageProviderFailed);
        requireSuccess(openPersistedKey(storage, wideName(containerName, kRequestOpenKeyFailed).data(),
                           kRequestKeySpec, 0, persistedKey),
            kRequestOpenKeyFailed);
        key = persistedKey.get();
        keySpec = CERT_NCRYPT_KEY_SPEC;
    } else {
        const std::string provider = mapProviderName(providerName, ProviderMatch::Substring);
        context
            = acquireKeyContext(containerName, provider, static_cast<DWORD>(providerType), 0, kRequestAcquireFailures);
        key = context.get();
    }

    keyInfo = sizeThenFill(
        [&](BYTE* data, DWORD* size) {
            return CryptExportPublicKeyInfo(
                key, keySpec, kEncoding, reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(data), size);
        },
        { kRequestKeyInfoFirstFailed, kRequestKeyInfoNoMemory, kRequestKeyInfoSecondFailed });
    if (keyInfo.size < sizeof(CERT_PUBLIC_KEY_INFO))
        throw std::runtime_error(kRequestKeyInfoSecondFailed);

    CERT_REQUEST_INFO info {};
    info.dwVersion = CERT_REQUEST_V1;
    info.Subject.cbData = encodedName.size;
    info.Subject.pbData = static_cast<BYTE*>(encodedName.block.get());
    info.SubjectPublicKeyInfo = *reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(keyInfo.data());
    CRYPT_ALGORITHM_IDENTIFIER signatureAlgorithm {};
    signatureAlgorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_SHA256RSA);

    request = sizeThenFill(
        [&](BYTE* data, DWORD* size) {
            return CryptSignAndEncodeCertificate(key, keySpec, kEncoding,
                X509_CERT_REQUEST_TO_BE_SIGNED, &info, &signatureAlgorithm, nullptr, data, size);
        },
        { kRequestSignFirstFailed, kRequestSignNoMemory, kRequestSignSecondFailed });
    return base64Encode(request.bytes());
}
