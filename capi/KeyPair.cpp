#include "KeyPair.h"

#include <wincrypt.h>

#include <cstring>
#include <stdexcept>

#include "CapiMessages.h"
#include "CryptHandles.h"
#include "KeyStorage.h"
#include "LocalBytes.h"
#include "ProviderRules.h"

namespace {

constexpr int kKeyLengthStep = 1024;
constexpr int kKeyLengthShift = 16;
constexpr int kLargestKeyLength = 0xFFFF;
constexpr DWORD kRsaPublicKeyMagic = 0x31415352; // "RSA1"

std::string blobAnswer(const Bytes& blob)
{
    const std::string answer = base64Encode(blob);
    if (answer.empty())
        throw std::runtime_error(kKeyPairBase64Failed + std::to_string(blob.size()) + kKeyPairBase64FailedInfix);
    checkPublicKeyBlob(blob);
    return answer;
}

// A KSP makes the key when it is finalized; it exports the PUBLICKEYBLOB of a
// CSP's key as LEGACY_RSAPUBLIC_BLOB.
std::string persistedKeyBlob(const std::string& providerName, int keyBits, const std::string& containerName,
    bool useExistingKey, bool exportable, NewContainer& made)
{
    const std::vector<WCHAR> provider = wideName(providerName, kKeyPairStorageProviderFailed);
    const std::vector<WCHAR> container
        = wideName(containerName, useExistingKey ? kKeyPairOpenKeyFailed : kKeyPairCreateKeyFailed);
    // Declared in the reverse of their release: key, provider.
    const KeyStorageProvider storage = openStorageProvider(provider.data(), kKeyPairStorageProviderFailed);
    PersistedKey key;
    if (useExistingKey) {
        requireSuccess(openPersistedKey(storage, container.data(), AT_KEYEXCHANGE, 0, key), kKeyPairOpenKeyFailed);
    } else {
        key = createExchangeKey(storage, container.data(), keyBits, exportable);
        made.made(providerName, containerName, kKeyStorageProviderType);
    }
    DWORD size = 0;
    requireSuccess(NCryptExportKey(key.get(), 0, LEGACY_RSAPUBLIC_BLOB, nullptr, nullptr, 0, &size, 0),
        kKeyPairExportKeyFailed);
    Bytes blob(size);
    requireSuccess(NCryptExportKey(key.get(), 0, LEGACY_RSAPUBLIC_BLOB, nullptr, blob.data(), size, &size, 0),
        kKeyPairExportKeyFailed);
    blob.resize(size);
    return blobAnswer(blob);
}

} // namespace

NewContainer::~NewContainer()
{
    HCRYPTPROV unused = 0;
    if (!made_)
        return;
    if (providerType_ == kKeyStorageProviderType)
        deletePersistedKey(provider_, container_);
    else
        CryptAcquireContextA(&unused, container_.c_str(), provider_.c_str(), providerType_, CRYPT_DELETEKEYSET);
}

void NewContainer::made(const std::string& provider, const std::string& container, DWORD providerType)
{
    made_ = true;
    provider_ = provider;
    container_ = container;
    providerType_ = providerType;
}

std::optional<DWORD> keyGenerationFlags(int keyBits, bool exportable)
{
    const int length = keyBits / kKeyLengthStep * kKeyLengthStep;
    // A length cut to 16 bits would silently ask for another length.
    if (length < 0 || length > kLargestKeyLength)
        return std::nullopt;
    return static_cast<DWORD>(length) << kKeyLengthShift | (exportable ? CRYPT_EXPORTABLE : 0);
}

void checkPublicKeyBlob(const Bytes& blob)
{
    BLOBHEADER header {};
    RSAPUBKEY rsa {};
    if (blob.size() < sizeof header || blob[0] != PUBLICKEYBLOB)
        throw std::runtime_error(kKeyPairInvalidBlob);
    if (blob.size() < sizeof header + sizeof rsa)
        throw std::runtime_error(kKeyPairInvalidKeyType);
    std::memcpy(&rsa, blob.data() + sizeof header, sizeof rsa);
    if (rsa.magic != kRsaPublicKeyMagic)
        throw std::runtime_error(kKeyPairInvalidKeyType);
}

std::string exchangeKeyBlob(const std::string& providerName, int keyBits, const std::string& containerName,
    bool useExistingKey, bool exportable, int providerType, NewContainer& made)
{
    if (providerName.empty())
        throw std::runtime_error(kKeyPairProviderNameNull);
    if (containerName.empty())
        throw std::runtime_error(kKeyPairContainerNameNull);
    if (static_cast<DWORD>(providerType) == kKeyStorageProviderType)
        return persistedKeyBlob(providerName, keyBits, containerName, useExistingKey, exportable, made);
    // Opened as named: the software-provider rule of signing does not apply.
    const std::string provider = mapProviderName(providerName, ProviderMatch::Substring);

    // Declared in the reverse of their release: blob, key, context.
    ProviderContext context;
    KeyObject key;
    LocalBytes blob;
    HCRYPTPROV rawContext = 0;
    if (!CryptAcquireContextA(&rawContext, containerName.c_str(), provider.c_str(), static_cast<DWORD>(providerType),
            useExistingKey ? 0 : CRYPT_NEWKEYSET))
        throw std::runtime_error(kKeyPairAcquireFailed);
    context.reset(rawContext);
    if (!useExistingKey)
        made.made(provider, containerName, static_cast<DWORD>(providerType));

    HCRYPTKEY rawKey = 0;
    if (useExistingKey) {
        if (!CryptGetUserKey(context.get(), AT_KEYEXCHANGE, &rawKey))
            throw std::runtime_error(kKeyPairGetUserKeyFailed);
    } else {
        const std::optional<DWORD> flags = keyGenerationFlags(keyBits, exportable);
        if (!flags || !CryptGenKey(context.get(), AT_KEYEXCHANGE, *flags, &rawKey))
            throw std::runtime_error(kKeyPairGenKeyFailed);
    }
    key.reset(rawKey);

    blob = sizeThenFill(
        [&](BYTE* data, DWORD* size) { return CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, data, size); },
        { kKeyPairExportFailed, kKeyPairNoMemory, kKeyPairExportFailed });
    return blobAnswer(blob.bytes());
}
