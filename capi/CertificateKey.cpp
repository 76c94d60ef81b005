#include "CertificateKey.h"

#include <cwchar>
#include <new>
#include <stdexcept>

#include "CapiMessages.h"
#include "Failures.h"
#include "KeyContext.h"
#include "KeyStorage.h"
#include "AnsiText.h"
#include "ProviderRules.h"

namespace {

constexpr DWORD kCertificateEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr std::size_t kThumbprintLength = 40;
constexpr AcquireFailures kSigningAcquireFailures = {kKnownProviderAcquireFailed, kSoftwareProviderAcquireFailed,
                                                     true};

}  // namespace

CertificateKey::CertificateKey(const std::string& thumbprint)
{
    store_.reset(CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"));
    if (!store_)
        throw std::runtime_error(kCertOpenStoreFailed);

    // hexDecode would take any character as a digit and drop an odd last one,
    // so a near miss would find the certificate.
    if (thumbprint.size() != kThumbprintLength || thumbprint.find_first_not_of("0123456789abcdef") != std::string::npos)
        throw std::runtime_error(kCertificateNotFound);
    Bytes certificateHash = hexDecode(thumbprint);
    CRYPT_HASH_BLOB hash{};
    hash.cbData = static_cast<DWORD>(certificateHash.size());
    hash.pbData = certificateHash.data();
    certificate_.reset(
        CertFindCertificateInStore(store_.get(), kCertificateEncoding, 0, CERT_FIND_HASH, &hash, nullptr));
    if (!certificate_)
        throw std::runtime_error(kCertificateNotFound);

    DWORD size = 0;
    if (!CertGetCertificateContextProperty(certificate_.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
        throw std::runtime_error(kKeyProviderInfoSizeFailed);
    try {
        keyProviderInfo_.resize(size);
    } catch (const std::bad_alloc&) {
        throw std::runtime_error(kKeyProviderInfoAllocationFailed);
    }
    if (!CertGetCertificateContextProperty(certificate_.get(), CERT_KEY_PROV_INFO_PROP_ID, keyProviderInfo_.data(),
                                           &size)
        || size < sizeof(CRYPT_KEY_PROV_INFO))
        throw std::runtime_error(kKeyProviderInfoNotRetrieved);

    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(keyProviderInfo_.data());
    keySpec_ = info->dwKeySpec;
    if (info->dwProvType == kKeyStorageProviderType) {
        openCngKey(*info);
        return;
    }
    const std::string containerName = ansiFromWide(info->pwszContainerName);
    const std::string providerName = mapProviderName(ansiFromWide(info->pwszProvName), ProviderMatch::Substring);
    inSoftware_ = !isKnownSmartCardProvider(providerName);
    context_ = acquireKeyContext(containerName, providerName, info->dwProvType, info->dwFlags,
                                 kSigningAcquireFailures);
}

void CertificateKey::openCngKey(const CRYPT_KEY_PROV_INFO& info)
{
    storageProvider_ = openStorageProvider(info.pwszProvName, kSigningStorageProviderFailed);
    const SECURITY_STATUS status
        = openPersistedKey(storageProvider_, info.pwszContainerName, info.dwKeySpec, info.dwFlags, persistedKey_);
    if (status == NTE_BAD_KEYSET)
        throw std::runtime_error(std::string(kSigningOpenKeyFailed) + kKeysetNotFoundInfix + statusText(status));
    requireSuccess(status, kSigningOpenKeyFailed);
    inSoftware_ = std::wcscmp(info.pwszProvName, MS_KEY_STORAGE_PROVIDER) == 0;
    // The digests are made by CryptoAPI, as for a CSP's key.
    HCRYPTPROV context = 0;
    if (!CryptAcquireContextA(&context, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        throw std::runtime_error(kHashContextFailed + lastErrorText());
    context_.reset(context);
}

HashObject CertificateKey::createHash(const SigningAlgorithm& algorithm) const
{
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(context_.get(), algorithm.algId, 0, 0, &hash))
        throw std::runtime_error(algorithm.createHashFailure + lastErrorText());
    return HashObject(hash);
}

void CertificateKey::putValue(const HashObject& hash, const SigningAlgorithm& algorithm, const Bytes& value,
                              bool readyDigest) const
{
    if (readyDigest) {
        // The provider reads a whole digest's length from the value.
        if (value.size() != algorithm.digestLength)
            throw std::runtime_error(kDigestLengthMismatch);
        if (!CryptSetHashParam(hash.get(), HP_HASHVAL, value.data(), 0))
            throw std::runtime_error(kSetHashParamFailed);
    } else if (!CryptHashData(hash.get(), value.data(), static_cast<DWORD>(value.size()), 0)) {
        throw std::runtime_error(kHashDataFailed);
    }
}

Bytes CertificateKey::signHash(const HashObject& hash, const SigningAlgorithm& algorithm) const
{
    if (persistedKey_)
        return signDigest(hash, algorithm);
    DWORD size = 0;
    if (!CryptSignHashA(hash.get(), keySpec_, nullptr, 0, nullptr, &size))
        throw std::runtime_error(kSignHashFailed + lastErrorText());
    // One spare zero byte after the signature.
    Bytes signature(static_cast<std::size_t>(size) + 1);
    if (!CryptSignHashA(hash.get(), keySpec_, nullptr, 0, signature.data(), &size))
        throw std::runtime_error(kSignHashFailed + lastErrorText());
    return reverseBytes(signature.data(), size);
}

Bytes CertificateKey::signDigest(const HashObject& hash, const SigningAlgorithm& algorithm) const
{
    Bytes digest(algorithm.digestLength);
    DWORD digestSize = algorithm.digestLength;
    if (!CryptGetHashParam(hash.get(), HP_HASHVAL, digest.data(), &digestSize, 0))
        throw std::runtime_error(kHashValueFailed + lastErrorText());
    BCRYPT_PKCS1_PADDING_INFO padding{algorithm.cngName};
    DWORD size = 0;
    requireSuccess(NCryptSignHash(persistedKey_.get(), &padding, digest.data(), digestSize, nullptr, 0, &size,
                                  BCRYPT_PAD_PKCS1),
                   kSignDigestFailed);
    Bytes signature(size);
    requireSuccess(NCryptSignHash(persistedKey_.get(), &padding, digest.data(), digestSize, signature.data(), size,
                                  &size, BCRYPT_PAD_PKCS1),
                   kSignDigestFailed);
    // CNG writes the signature most significant byte first, as it is answered.
    signature.resize(size);
    return signature;
}
