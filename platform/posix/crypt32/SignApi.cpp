// crypt32 on top of the CryptoAPI key functions: exporting a key's public
// half as SubjectPublicKeyInfo, and signing certificate requests.
// OpenSSL first: <wincrypt.h> defines X509_NAME as a macro.
#include <openssl/pem.h>

#include "crypt32/Encoding.h"

#include <ncrypt.h>

#include "advapi32/HashAlgorithms.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "machine/FaultSwitch.h"
#include "machine/WideText.h"

namespace {

using standin::Bytes;

struct SignatureAlgorithm {
    const char* oid;
    ALG_ID hash;
};

// Requests are signed with SHA-256 only.
constexpr SignatureAlgorithm kSignatureAlgorithms[] = {
    { szOID_RSA_SHA256RSA, CALG_SHA_256 },
};

// The calls below fail with whatever the CryptoAPI call left as last error.
[[noreturn]] void failWithLastError() { standin::failWith(GetLastError()); }

class UserKey {
public:
    UserKey(HCRYPTPROV provider, DWORD keySpec)
    {
        if (!CryptGetUserKey(provider, keySpec, &key_))
            failWithLastError();
    }
    UserKey(const UserKey&) = delete;
    UserKey& operator=(const UserKey&) = delete;
    ~UserKey() { CryptDestroyKey(key_); }
    HCRYPTKEY get() const { return key_; }

private:
    HCRYPTKEY key_ = 0;
};

class HashOf {
public:
    HashOf(HCRYPTPROV provider, ALG_ID algorithm, const Bytes& data)
    {
        if (!CryptCreateHash(provider, algorithm, 0, 0, &hash_))
            failWithLastError();
        if (!CryptHashData(hash_, data.data(), static_cast<DWORD>(data.size()), 0)) {
            const DWORD error = GetLastError();
            CryptDestroyHash(hash_);
            standin::failWith(error);
        }
    }
    HashOf(const HashOf&) = delete;
    HashOf& operator=(const HashOf&) = delete;
    ~HashOf() { CryptDestroyHash(hash_); }
    HCRYPTHASH get() const { return hash_; }

private:
    HCRYPTHASH hash_ = 0;
};

// The RSAPublicKey (modulus, exponent) of a PUBLICKEYBLOB.
Bytes rsaPublicKey(const Bytes& blob)
{
    const unsigned char* cursor = blob.data();
    const standin::EvpPublicKey key(b2i_PublicKey(&cursor, static_cast<long>(blob.size())));
    ERR_clear_error();
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA)
        standin::failWith(NTE_BAD_KEY);
    return standin::toDer(i2d_PublicKey, key.get());
}

// A failing CNG call fails the crypt32 call with its status.
void orFailWith(SECURITY_STATUS status)
{
    if (status != ERROR_SUCCESS)
        standin::failWith(static_cast<DWORD>(status));
}

// CNG keys are asked directly; their key spec means nothing.
Bytes cngPublicKeyBlob(NCRYPT_KEY_HANDLE key)
{
    DWORD size = 0;
    orFailWith(NCryptExportKey(key, 0, LEGACY_RSAPUBLIC_BLOB, nullptr, nullptr, 0, &size, 0));
    Bytes blob(size);
    orFailWith(NCryptExportKey(key, 0, LEGACY_RSAPUBLIC_BLOB, nullptr, blob.data(), size, &size, 0));
    blob.resize(size);
    return blob;
}

Bytes exportPublicKeyBlob(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE provider, DWORD keySpec)
{
    if (NCryptIsKeyHandle(provider))
        return cngPublicKeyBlob(provider);
    UserKey key(provider, keySpec);
    DWORD size = 0;
    if (!CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, nullptr, &size))
        failWithLastError();
    Bytes blob(size);
    if (!CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, blob.data(), &size))
        failWithLastError();
    blob.resize(size);
    return blob;
}

ALG_ID hashOfSignature(const CRYPT_ALGORITHM_IDENTIFIER* algorithm)
{
    if (!algorithm || !algorithm->pszObjId)
        standin::failWith(E_INVALIDARG);
    for (const SignatureAlgorithm& row : kSignatureAlgorithms)
        if (std::strcmp(row.oid, algorithm->pszObjId) == 0)
            return row.hash;
    standin::failWith(NTE_BAD_ALGID);
}

// CNG signs the digest with the padding that names its algorithm, and writes
// the signature most significant byte first.
Bytes cngSignature(NCRYPT_KEY_HANDLE key, ALG_ID algorithm, const Bytes& toBeSigned, bool sizeOnly)
{
    const standin::HashAlgorithm* hash = standin::hashAlgorithm(algorithm);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!hash || EVP_Digest(toBeSigned.data(), toBeSigned.size(), digest, &length, standin::digestOf(*hash), nullptr) != 1)
        standin::failWith(NTE_BAD_ALGID);
    const std::wstring name = standin::wideFromUtf8(hash->name);
    BCRYPT_PKCS1_PADDING_INFO padding { name.c_str() };
    DWORD size = 0;
    orFailWith(NCryptSignHash(key, &padding, digest, length, nullptr, 0, &size, BCRYPT_PAD_PKCS1));
    Bytes value(size);
    if (!sizeOnly)
        orFailWith(NCryptSignHash(key, &padding, digest, length, value.data(), size, &size, BCRYPT_PAD_PKCS1));
    value.resize(size);
    return value;
}

// The signature over `toBeSigned`, most significant byte first. A size
// query signs nothing: it learns the length and answers zeros.
Bytes signature(
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE provider, DWORD keySpec, ALG_ID algorithm, const Bytes& toBeSigned, bool sizeOnly)
{
    if (NCryptIsKeyHandle(provider))
        return cngSignature(provider, algorithm, toBeSigned, sizeOnly);
    HashOf hash(provider, algorithm, toBeSigned);
    DWORD size = 0;
    if (!CryptSignHashA(hash.get(), keySpec, nullptr, 0, nullptr, &size))
        failWithLastError();
    Bytes value(size);
    if (!sizeOnly && !CryptSignHashA(hash.get(), keySpec, nullptr, 0, value.data(), &size))
        failWithLastError();
    value.resize(size);
    std::reverse(value.begin(), value.end()); // CryptoAPI writes it least significant byte first
    return value;
}

// Signs the to-be-signed bytes; it has checked the algorithm before the
// signature fields are written.
using Signer = std::function<Bytes(const Bytes& toBeSigned)>;

Bytes signedRequest(const CERT_REQUEST_INFO& info, const CRYPT_ALGORITHM_IDENTIFIER* algorithm, const Signer& sign)
{
    standin::X509Request request = standin::requestToBeSigned(info);
    const Bytes value = sign(standin::toDer(i2d_re_X509_REQ_tbs, request.get()));
    standin::X509Algorithm outer(standin::orFail(X509_ALGOR_new(), E_OUTOFMEMORY));
    standin::setAlgorithm(outer.get(), *algorithm, true);
    standin::orFail(X509_REQ_set1_signature_algo(request.get(), outer.get()), E_OUTOFMEMORY);
    standin::OpenSslOwner<ASN1_BIT_STRING, ASN1_BIT_STRING_free> bits(
        standin::orFail(ASN1_BIT_STRING_new(), E_OUTOFMEMORY));
    standin::setBits(bits.get(), value.data(), static_cast<DWORD>(value.size()), 0);
    X509_REQ_set0_signature(request.get(), bits.release());
    return standin::toDer(i2d_X509_REQ, request.get());
}

} // namespace

BOOL WINAPI CryptExportPublicKeyInfo(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey, DWORD dwKeySpec,
    DWORD dwCertEncodingType, PCERT_PUBLIC_KEY_INFO pInfo, DWORD* pcbInfo)
{
    if (standin::injectFault("CryptExportPublicKeyInfo"))
        return FALSE;
    return standin::answerOrFail<BOOL>(FALSE, [&]() {
        if (!pcbInfo)
            standin::failWith(E_INVALIDARG);
        if ((dwCertEncodingType & CERT_ENCODING_TYPE_MASK) != X509_ASN_ENCODING)
            standin::failWith(ERROR_FILE_NOT_FOUND);
        const Bytes publicKey = rsaPublicKey(exportPublicKeyBlob(hCryptProvOrNCryptKey, dwKeySpec));
        const Bytes nullParameters
            = standin::toDer(i2d_ASN1_NULL, standin::Asn1Null(standin::orFail(ASN1_NULL_new(), E_OUTOFMEMORY)).get());
        // The record, then what it points to: the OID text, the NULL
        // parameters, the key.
        const std::size_t oidSize = sizeof szOID_RSA_RSA;
        const std::size_t size = sizeof(CERT_PUBLIC_KEY_INFO) + oidSize + nullParameters.size() + publicKey.size();
        if (!standin::callerHasRoom(static_cast<DWORD>(size), pInfo, pcbInfo))
            return TRUE;
        auto* base = reinterpret_cast<BYTE*>(pInfo);
        BYTE* oid = base + sizeof(CERT_PUBLIC_KEY_INFO);
        BYTE* parameters = oid + oidSize;
        BYTE* key = parameters + nullParameters.size();
        std::memcpy(oid, szOID_RSA_RSA, oidSize);
        std::memcpy(parameters, nullParameters.data(), nullParameters.size());
        std::memcpy(key, publicKey.data(), publicKey.size());
        pInfo->Algorithm.pszObjId = reinterpret_cast<LPSTR>(oid);
        pInfo->Algorithm.Parameters = CRYPT_OBJID_BLOB { static_cast<DWORD>(nullParameters.size()), parameters };
        pInfo->PublicKey = CRYPT_BIT_BLOB { static_cast<DWORD>(publicKey.size()), key, 0 };
        return TRUE;
    });
}

BOOL WINAPI CryptSignAndEncodeCertificate(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey, DWORD dwKeySpec,
    DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
    PCRYPT_ALGORITHM_IDENTIFIER pSignatureAlgorithm, const void* pvHashAuxInfo, BYTE* pbEncoded, DWORD* pcbEncoded)
{
    (void)pvHashAuxInfo;
    if (standin::injectFault("CryptSignAndEncodeCertificate"))
        return FALSE;
    return standin::answerOrFail<BOOL>(FALSE, [&]() {
        if (!pcbEncoded)
            standin::failWith(E_INVALIDARG);
        if ((dwCertEncodingType & CERT_ENCODING_TYPE_MASK) != X509_ASN_ENCODING)
            standin::failWith(ERROR_FILE_NOT_FOUND);
        if (!pvStructInfo)
            standin::failWith(E_INVALIDARG);
        const Signer sign = [&](const Bytes& toBeSigned) {
            const ALG_ID hash = hashOfSignature(pSignatureAlgorithm);
            return signature(hCryptProvOrNCryptKey, dwKeySpec, hash, toBeSigned, pbEncoded == nullptr);
        };
        if (lpszStructType != X509_CERT_REQUEST_TO_BE_SIGNED)
            standin::failWith(ERROR_FILE_NOT_FOUND); // no encoder is installed for it
        const Bytes encoded
            = signedRequest(*static_cast<const CERT_REQUEST_INFO*>(pvStructInfo), pSignatureAlgorithm, sign);
        if (standin::callerHasRoom(static_cast<DWORD>(encoded.size()), pbEncoded, pcbEncoded))
            std::memcpy(pbEncoded, encoded.data(), encoded.size());
        return TRUE;
    });
}
