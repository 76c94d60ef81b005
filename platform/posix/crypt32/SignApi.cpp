// crypt32 on top of the CryptoAPI key functions: exporting a key's public
// half as SubjectPublicKeyInfo, and signing certificates and requests.
#include <wincrypt.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "machine/FaultSwitch.h"
#include "crypt32/Encoding.h"
#include "crypt32/CryptFailure.h"

namespace {

using standin::Bytes;
namespace der = standin::der;

constexpr DWORD kRsaPublicMagic = 0x31415352; // "RSA1"
constexpr BYTE kNullParameters[] = { der::kNull, 0x00 };

struct SignatureAlgorithm {
    const char* oid;
    ALG_ID hash;
};

constexpr SignatureAlgorithm kSignatureAlgorithms[] = {
    { szOID_RSA_SHA256RSA, CALG_SHA_256 },
    { szOID_RSA_SHA1RSA, CALG_SHA1 },
    { szOID_OIWSEC_sha1RSASign, CALG_SHA1 },
    { szOID_RSA_SHA384RSA, CALG_SHA_384 },
    { szOID_RSA_SHA512RSA, CALG_SHA_512 },
    { szOID_RSA_MD5RSA, CALG_MD5 },
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
    BLOBHEADER header;
    RSAPUBKEY rsa;
    if (blob.size() < sizeof header + sizeof rsa)
        standin::failWith(NTE_BAD_KEY);
    std::memcpy(&header, blob.data(), sizeof header);
    std::memcpy(&rsa, blob.data() + sizeof header, sizeof rsa);
    const std::size_t modulusSize = rsa.bitlen / 8;
    if (header.bType != PUBLICKEYBLOB || rsa.magic != kRsaPublicMagic
        || blob.size() < sizeof header + sizeof rsa + modulusSize)
        standin::failWith(NTE_BAD_KEY);
    const unsigned char* modulus = blob.data() + sizeof header + sizeof rsa;
    unsigned char exponent[sizeof rsa.pubexp];
    for (std::size_t i = 0; i < sizeof exponent; ++i)
        exponent[i] = static_cast<unsigned char>(rsa.pubexp >> (8 * i));
    return der::sequence(
        { der::encodeUnsignedInteger(modulus, modulusSize), der::encodeUnsignedInteger(exponent, sizeof exponent) });
}

Bytes exportPublicKeyBlob(HCRYPTPROV provider, DWORD keySpec)
{
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

// The signature over `toBeSigned`, most significant byte first. A size
// query signs nothing: it learns the length and answers zeros.
Bytes signature(HCRYPTPROV provider, DWORD keySpec, ALG_ID algorithm, const Bytes& toBeSigned, bool sizeOnly)
{
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
        // The record, then what it points to: the OID text, the NULL
        // parameters, the key.
        const std::size_t oidSize = sizeof szOID_RSA_RSA;
        const std::size_t size = sizeof(CERT_PUBLIC_KEY_INFO) + oidSize + sizeof kNullParameters + publicKey.size();
        if (!standin::callerHasRoom(static_cast<DWORD>(size), pInfo, pcbInfo))
            return TRUE;
        auto* base = reinterpret_cast<BYTE*>(pInfo);
        BYTE* oid = base + sizeof(CERT_PUBLIC_KEY_INFO);
        BYTE* parameters = oid + oidSize;
        BYTE* key = parameters + sizeof kNullParameters;
        std::memcpy(oid, szOID_RSA_RSA, oidSize);
        std::memcpy(parameters, kNullParameters, sizeof kNullParameters);
        std::memcpy(key, publicKey.data(), publicKey.size());
        pInfo->Algorithm.pszObjId = reinterpret_cast<LPSTR>(oid);
        pInfo->Algorithm.Parameters = CRYPT_OBJID_BLOB { sizeof kNullParameters, parameters };
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
        const Bytes toBeSigned = standin::encodeStructure(lpszStructType, pvStructInfo);
        const ALG_ID hash = hashOfSignature(pSignatureAlgorithm);
        const Bytes value = signature(hCryptProvOrNCryptKey, dwKeySpec, hash, toBeSigned, pbEncoded == nullptr);
        const CRYPT_BIT_BLOB bits { static_cast<DWORD>(value.size()), const_cast<BYTE*>(value.data()), 0 };
        const Bytes encoded = der::sequence(
            { toBeSigned, der::encodeAlgorithm(*pSignatureAlgorithm, true), der::encodeBitString(bits) });
        if (standin::callerHasRoom(static_cast<DWORD>(encoded.size()), pbEncoded, pcbEncoded))
            std::memcpy(pbEncoded, encoded.data(), encoded.size());
        return TRUE;
    });
}
