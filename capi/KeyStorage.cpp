#include "KeyStorage.h"

#include <optional>
#include <stdexcept>

#include "AnsiText.h"
#include "CapiMessages.h"
#include "Failures.h"

namespace {

constexpr int kKeyLengthStep = 1024;
// CRYPT_EXPORTABLE's meaning: the private key may leave in plain text.
constexpr DWORD kExportablePolicy = NCRYPT_ALLOW_EXPORT_FLAG | NCRYPT_ALLOW_PLAINTEXT_EXPORT_FLAG;
// Of a key link's flags only the scope reaches CNG: a silent call would stop
// a smart-card provider from asking for the PIN.
constexpr DWORD kKeyLinkFlags = NCRYPT_MACHINE_KEY_FLAG;

void setDword(const PersistedKey& key, LPCWSTR property, DWORD value)
{
    requireSuccess(NCryptSetProperty(key.get(), property, reinterpret_cast<PBYTE>(&value), sizeof value, 0),
                   kKeyPairSetPropertyFailed);
}

}  // namespace

std::string statusText(SECURITY_STATUS status) { return kErrorCodePrefix + std::to_string(static_cast<DWORD>(status)); }

void requireSuccess(SECURITY_STATUS status, const std::string& message)
{
    if (status != ERROR_SUCCESS)
        throw std::runtime_error(message + statusText(status));
}

std::vector<WCHAR> wideName(const std::string& ansi, const std::string& message)
{
    std::optional<std::vector<WCHAR>> wide = wideFromAnsi(ansi, 0);
    if (!wide)
        throw std::runtime_error(message + lastErrorText());
    wide->push_back(WCHAR{});
    return std::move(*wide);
}

KeyStorageProvider openStorageProvider(LPCWSTR providerName, const std::string& message)
{
    NCRYPT_PROV_HANDLE provider = 0;
    requireSuccess(NCryptOpenStorageProvider(&provider, providerName, 0), message);
    return KeyStorageProvider(provider);
}

PersistedKey createExchangeKey(const KeyStorageProvider& provider, LPCWSTR keyName, int keyBits, bool exportable)
{
    NCRYPT_KEY_HANDLE handle = 0;
    requireSuccess(
        NCryptCreatePersistedKey(provider.get(), &handle, NCRYPT_RSA_ALGORITHM, keyName, AT_KEYEXCHANGE, 0),
        kKeyPairCreateKeyFailed);
    PersistedKey key(handle);
    // Kilobits, as CryptGenKey takes them; the provider judges the rest.
    if (const int length = keyBits / kKeyLengthStep * kKeyLengthStep; length != 0)
        setDword(key, NCRYPT_LENGTH_PROPERTY, static_cast<DWORD>(length));
    if (exportable)
        setDword(key, NCRYPT_EXPORT_POLICY_PROPERTY, kExportablePolicy);
    requireSuccess(NCryptFinalizeKey(key.get(), 0), kKeyPairFinalizeFailed);
    return key;
}

SECURITY_STATUS openPersistedKey(
    const KeyStorageProvider& provider, LPCWSTR keyName, DWORD keySpec, DWORD flags, PersistedKey& key)
{
    // A link may name a key of no legacy kind (CERT_NCRYPT_KEY_SPEC).
    const DWORD legacyKeySpec = keySpec == AT_KEYEXCHANGE || keySpec == AT_SIGNATURE ? keySpec : 0;
    NCRYPT_KEY_HANDLE handle = 0;
    const SECURITY_STATUS status
        = NCryptOpenKey(provider.get(), &handle, keyName, legacyKeySpec, flags & kKeyLinkFlags);
    if (status == ERROR_SUCCESS)
        key.reset(handle);
    return status;
}

void deletePersistedKey(const std::string& providerName, const std::string& keyName)
{
    const std::optional<std::vector<WCHAR>> provider = wideFromAnsi(providerName + '\0', 0);
    const std::optional<std::vector<WCHAR>> name = wideFromAnsi(keyName + '\0', 0);
    NCRYPT_PROV_HANDLE rawProvider = 0;
    if (!provider || !name || NCryptOpenStorageProvider(&rawProvider, provider->data(), 0) != ERROR_SUCCESS)
        return;
    const KeyStorageProvider storage(rawProvider);
    PersistedKey key;
    // A deleted key's handle is freed with it.
    if (openPersistedKey(storage, name->data(), AT_KEYEXCHANGE, 0, key) == ERROR_SUCCESS
        && NCryptDeleteKey(key.get(), 0) == ERROR_SUCCESS)
        key.release();
}
