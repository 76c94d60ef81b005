// advapi32 on Linux: the RSA key pairs of a container, their export and
// import as CryptoAPI blobs, and the certificate kept with a key.
// OpenSSL's x509.h comes first: <wincrypt.h> defines X509_NAME as a macro.
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include "advapi32/CryptObjects.h"

#include <memory>
#include <string>

#include "machine/FaultSwitch.h"

namespace {

using standin::fail;

constexpr DWORD kKeyLengthShift = 16;
// Salt and protection options mean nothing for an RSA key without a user
// interface; they are accepted as Windows accepts them.
constexpr DWORD kKnownGenerationFlags = CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED | CRYPT_CREATE_SALT | CRYPT_NO_SALT
    | CRYPT_PREGEN | CRYPT_ARCHIVABLE | CRYPT_FORCE_KEY_PROTECTION_HIGH;
// A certificate's header is its tag and at most four length bytes; OpenSSL
// reads one only with a byte of content in reach.
constexpr long kMaxCertificateHeader = 7;
// ASN1_get_object's answer: a header it could not read, an indefinite length.
constexpr int kUnreadableHeader = 0x80;
constexpr int kIndefiniteLength = 0x01;

struct KeyAlgorithm {
    ALG_ID requested;  // what CryptGenKey is called with
    DWORD keySpec;
    ALG_ID algId;
};

constexpr KeyAlgorithm kKeyAlgorithms[] = {
    {AT_KEYEXCHANGE, AT_KEYEXCHANGE, CALG_RSA_KEYX},
    {CALG_RSA_KEYX, AT_KEYEXCHANGE, CALG_RSA_KEYX},
    {AT_SIGNATURE, AT_SIGNATURE, CALG_RSA_SIGN},
    {CALG_RSA_SIGN, AT_SIGNATURE, CALG_RSA_SIGN},
};

const KeyAlgorithm* keyAlgorithm(ALG_ID requested)
{
    for (const auto& algorithm : kKeyAlgorithms)
        if (algorithm.requested == requested)
            return &algorithm;
    return nullptr;
}

HCRYPTKEY addKey(
    std::shared_ptr<standin::RsaKey> key, const std::shared_ptr<standin::ProviderContext>& context, DWORD keySpec)
{
    auto object = std::make_unique<standin::KeyObject>();
    object->key = std::move(key);
    object->context = context;
    object->container = context->container;
    object->keySpec = keySpec;
    object->keepsCertificates = context->provider.keepsCertificates;
    return standin::keyHandles().add(std::move(object));
}

// KP_CERTIFICATE carries no length: the DER header of the certificate says
// how many bytes it has.
bool derLength(const BYTE* data, std::size_t& size)
{
    const unsigned char* content = data;
    long length = 0;
    int tag = 0;
    int tagClass = 0;
    // Only the header is shown to OpenSSL, which flags the length it announces
    // as running past the bytes shown; that flag is expected here.
    const int shape = ASN1_get_object(&content, &length, &tag, &tagClass, kMaxCertificateHeader);
    ERR_clear_error();
    const bool definiteSequence = shape != kUnreadableHeader && (shape & V_ASN1_CONSTRUCTED)
        && !(shape & kIndefiniteLength) && tag == V_ASN1_SEQUENCE && tagClass == V_ASN1_UNIVERSAL;
    if (!definiteSequence)
        return false;
    size = static_cast<std::size_t>(content - data) + static_cast<std::size_t>(length);
    return true;
}

bool isCertificate(const std::string& der)
{
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    X509_free(certificate);
    return certificate != nullptr;
}

}  // namespace

BOOL WINAPI CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey)
{
    if (standin::injectFault("CryptGenKey"))
        return FALSE;
    auto context = standin::findContext(hProv);
    if (!context)
        return fail(NTE_BAD_UID);
    if (!phKey)
        return fail(ERROR_INVALID_PARAMETER);
    const KeyAlgorithm* algorithm = keyAlgorithm(Algid);
    if (!algorithm || !context->provider.rsaKeys)
        return fail(NTE_BAD_ALGID);
    // The upper 16 bits hold the key length; 0 lets the provider choose.
    DWORD bits = dwFlags >> kKeyLengthShift;
    if (bits == 0)
        bits = standin::RsaKey::kDefaultBits;
    const DWORD options = dwFlags & ((DWORD {1} << kKeyLengthShift) - 1);
    if ((options & ~kKnownGenerationFlags) || bits < standin::RsaKey::kMinimumBits
        || bits > standin::RsaKey::kMaximumBits || bits % standin::RsaKey::kBitStep != 0)
        return fail(NTE_BAD_FLAGS);
    auto key = standin::RsaKey::generate(bits, algorithm->algId, (options & CRYPT_EXPORTABLE) != 0);
    if (!key)
        return fail(NTE_FAIL);
    if (!context->container->storeKey(algorithm->keySpec, key))
        return fail(NTE_FAIL);
    *phKey = addKey(std::move(key), context, algorithm->keySpec);
    return TRUE;
}

BOOL WINAPI CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey)
{
    if (standin::injectFault("CryptGetUserKey"))
        return FALSE;
    auto context = standin::findContext(hProv);
    if (!context)
        return fail(NTE_BAD_UID);
    if (!phUserKey)
        return fail(ERROR_INVALID_PARAMETER);
    if (dwKeySpec != AT_KEYEXCHANGE && dwKeySpec != AT_SIGNATURE)
        return fail(NTE_BAD_KEY);
    DWORD error = ERROR_SUCCESS;
    auto key = context->container->key(dwKeySpec, error);
    if (!key)
        return fail(error);
    *phUserKey = addKey(std::move(key), context, dwKeySpec);
    return TRUE;
}

BOOL WINAPI CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags, BYTE* pbData,
                           DWORD* pdwDataLen)
{
    if (standin::injectFault("CryptExportKey"))
        return FALSE;
    auto* object = standin::keyHandles().find(hKey);
    if (!object)
        return fail(NTE_BAD_KEY);
    if (dwFlags != 0)
        return fail(NTE_BAD_FLAGS);
    // Only the public half leaves the provider.
    if (dwBlobType != PUBLICKEYBLOB)
        return fail(NTE_BAD_TYPE);
    (void)hExpKey;
    const std::string blob = object->key->publicBlob();
    if (blob.empty())
        return fail(NTE_FAIL);
    return standin::copyOut(blob.data(), static_cast<DWORD>(blob.size()), pbData, pdwDataLen);
}

BOOL WINAPI CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey, DWORD dwFlags,
                           HCRYPTKEY* phKey)
{
    if (standin::injectFault("CryptImportKey"))
        return FALSE;
    auto context = standin::findContext(hProv);
    if (!context)
        return fail(NTE_BAD_UID);
    if (!pbData || !phKey)
        return fail(ERROR_INVALID_PARAMETER);
    if (hPubKey != 0)
        return fail(NTE_BAD_KEY);
    if (dwFlags != 0)
        return fail(NTE_BAD_FLAGS);
    if (!context->provider.rsaKeys)
        return fail(NTE_BAD_ALGID);
    DWORD error = ERROR_SUCCESS;
    auto key = standin::RsaKey::fromBlob(pbData, dwDataLen, error);
    if (!key)
        return fail(error);
    // The key pair takes its place in the container under the key type its
    // algorithm names.
    const DWORD keySpec = keyAlgorithm(key->algId())->keySpec;
    if (!context->container->storeKey(keySpec, key))
        return fail(NTE_FAIL);
    *phKey = addKey(std::move(key), context, keySpec);
    return TRUE;
}

BOOL WINAPI CryptDestroyKey(HCRYPTKEY hKey)
{
    if (standin::injectFault("CryptDestroyKey"))
        return FALSE;
    return standin::keyHandles().remove(hKey) ? TRUE : fail(NTE_BAD_KEY);
}

BOOL WINAPI CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags)
{
    if (standin::injectFault("CryptSetKeyParam"))
        return FALSE;
    auto* object = standin::keyHandles().find(hKey);
    if (!object)
        return fail(NTE_BAD_KEY);
    if (dwFlags != 0)
        return fail(NTE_BAD_FLAGS);
    // Windows' software providers keep no certificates with their keys.
    if (dwParam != KP_CERTIFICATE || !object->keepsCertificates)
        return fail(NTE_BAD_TYPE);
    if (!pbData)
        return fail(ERROR_INVALID_PARAMETER);
    std::size_t size = 0;
    if (!derLength(pbData, size))
        return fail(NTE_BAD_DATA);
    const std::string der(reinterpret_cast<const char*>(pbData), size);
    if (!isCertificate(der))
        return fail(NTE_BAD_DATA);
    return object->container->storeCertificate(object->keySpec, der) ? TRUE : fail(NTE_FAIL);
}

BOOL WINAPI CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags)
{
    if (standin::injectFault("CryptGetKeyParam"))
        return FALSE;
    auto* object = standin::keyHandles().find(hKey);
    if (!object)
        return fail(NTE_BAD_KEY);
    if (dwFlags != 0)
        return fail(NTE_BAD_FLAGS);
    switch (dwParam) {
    case KP_ALGID: {
        const ALG_ID algId = object->key->algId();
        return standin::copyOut(&algId, sizeof algId, pbData, pdwDataLen);
    }
    case KP_KEYLEN:
    case KP_BLOCKLEN: {
        const DWORD bits = object->key->bits();
        return standin::copyOut(&bits, sizeof bits, pbData, pdwDataLen);
    }
    case KP_CERTIFICATE: {
        if (!object->keepsCertificates)
            return fail(NTE_BAD_TYPE);
        std::string der;
        if (!object->container->certificate(object->keySpec, der))
            return fail(SCARD_E_NO_SUCH_CERTIFICATE);
        return standin::copyOut(der.data(), static_cast<DWORD>(der.size()), pbData, pdwDataLen);
    }
    default:
        return fail(NTE_BAD_TYPE);
    }
}
