// ncrypt on Linux: the key storage providers, their persisted RSA keys, and
// signing with them. Statuses are answers, as CNG gives them; nothing here
// sets the last error.
#include "ncrypt/StorageProviders.h"  // first: it orders OpenSSL before <wincrypt.h>

#include "advapi32/HashAlgorithms.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "kernel32/Handles.h"
#include "kernel32/Threads.h"
#include "machine/FaultSwitch.h"
#include "machine/WideText.h"

namespace {

using standin::StorageProvider;

// Far from advapi32's handles, so that no handle of one kind names another.
constexpr ULONG_PTR kProviderBase = ULONG_PTR{4} << 28;
constexpr ULONG_PTR kKeyBase = ULONG_PTR{5} << 28;
// The RSA lengths of Microsoft's software provider.
constexpr DWORD kMinimumLength = 512;
constexpr DWORD kMaximumLength = 16384;
constexpr DWORD kLengthStep = 64;
constexpr DWORD kKnownExportPolicy = NCRYPT_ALLOW_EXPORT_FLAG | NCRYPT_ALLOW_PLAINTEXT_EXPORT_FLAG;
constexpr DWORD kScopeFlags = NCRYPT_MACHINE_KEY_FLAG | NCRYPT_SILENT_FLAG;

struct ProviderObject {
    const StorageProvider* provider;
};

struct KeyObject {
    const StorageProvider* provider;
    bool machine;
    std::string name;
    standin::StoredKey stored;  // no key until the key is finalized
    // What a new key is made with.
    DWORD length = standin::RsaKey::kDefaultBits;
    DWORD exportPolicy = 0;

    standin::KeyFiles files() const { return standin::KeyFiles(*provider, machine); }
};

struct KeyNameBlock {
    NCryptKeyName record {};
    std::wstring name;
    std::wstring algorithm;
};

struct ProviderListBlock {
    std::vector<NCryptProviderName> records;
    std::vector<std::wstring> texts;
};

// NCryptEnumKeys' position: the names seen at the first call, the next to give.
struct EnumState {
    std::vector<std::string> names;
    std::size_t next = 0;
};

// Blocks that NCryptFreeBuffer takes back, by the address handed out. One
// still held when the process ends was leaked: the stand-in stops the program
// at it, as it does for handles.
template <typename Block>
class HeldBlocks {
public:
    HeldBlocks() = default;
    HeldBlocks(const HeldBlocks&) = delete;
    HeldBlocks& operator=(const HeldBlocks&) = delete;
    ~HeldBlocks()
    {
        if (!blocks_.empty())
            std::abort();
    }

    void add(const void* address, std::unique_ptr<Block> block)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        blocks_.emplace(address, std::move(block));
    }
    Block* find(const void* address) const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        auto it = blocks_.find(address);
        return it == blocks_.end() ? nullptr : it->second.get();
    }
    bool remove(const void* address)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return blocks_.erase(address) == 1;
    }

private:
    mutable std::mutex mutex_;
    std::map<const void*, std::unique_ptr<Block>> blocks_;
};

standin::HandleTable<ProviderObject>& providerHandles()
{
    static standin::HandleTable<ProviderObject> table(kProviderBase);
    return table;
}

standin::HandleTable<KeyObject>& keyHandles()
{
    static standin::HandleTable<KeyObject> table(kKeyBase);
    return table;
}

HeldBlocks<KeyNameBlock>& keyNames()
{
    static HeldBlocks<KeyNameBlock> blocks;
    return blocks;
}

HeldBlocks<ProviderListBlock>& providerLists()
{
    static HeldBlocks<ProviderListBlock> blocks;
    return blocks;
}

HeldBlocks<EnumState>& enumStates()
{
    static HeldBlocks<EnumState> blocks;
    return blocks;
}

// The fault switch's code as the call's status; ERROR_SUCCESS lets it go on.
SECURITY_STATUS injected(const char* function)
{
    return standin::injectFault(function) ? static_cast<SECURITY_STATUS>(GetLastError()) : ERROR_SUCCESS;
}

bool validKeySpec(DWORD legacyKeySpec)
{
    return legacyKeySpec == 0 || legacyKeySpec == AT_KEYEXCHANGE || legacyKeySpec == AT_SIGNATURE;
}

bool validLength(DWORD length)
{
    return length >= kMinimumLength && length <= kMaximumLength && length % kLengthStep == 0;
}

SECURITY_STATUS readDword(PBYTE input, DWORD size, DWORD& value)
{
    if (size != sizeof value)
        return NTE_INVALID_PARAMETER;
    std::memcpy(&value, input, sizeof value);
    return ERROR_SUCCESS;
}

SECURITY_STATUS setProperty(KeyObject& key, const std::wstring& property, PBYTE input, DWORD size)
{
    DWORD value = 0;
    if (property == NCRYPT_LENGTH_PROPERTY) {
        if (readDword(input, size, value) != ERROR_SUCCESS || !validLength(value))
            return NTE_INVALID_PARAMETER;
        key.length = value;
        return ERROR_SUCCESS;
    }
    if (property == NCRYPT_EXPORT_POLICY_PROPERTY) {
        if (readDword(input, size, value) != ERROR_SUCCESS || (value & ~kKnownExportPolicy))
            return NTE_INVALID_PARAMETER;
        if (value != 0 && !key.provider->exportable)
            return NTE_NOT_SUPPORTED;
        key.exportPolicy = value;
        return ERROR_SUCCESS;
    }
    return NTE_NOT_SUPPORTED;
}

// `value` into the caller's buffer, or its size alone when there is none.
SECURITY_STATUS copyOut(const std::string& value, PBYTE output, DWORD size, DWORD* result)
{
    *result = static_cast<DWORD>(value.size());
    if (!output)
        return ERROR_SUCCESS;
    if (size < value.size())
        return NTE_BUFFER_TOO_SMALL;
    std::memcpy(output, value.data(), value.size());
    return ERROR_SUCCESS;
}

// The PKCS#1 v1.5 input for a digest: its DigestInfo, or the bare digest when
// the padding names no algorithm.
SECURITY_STATUS signatureInput(
    const BCRYPT_PKCS1_PADDING_INFO& padding, PBYTE digest, DWORD size, std::string& input)
{
    input.clear();
    if (padding.pszAlgId) {
        const standin::HashAlgorithm* algorithm = standin::hashAlgorithmNamed(standin::utf8FromWide(padding.pszAlgId));
        const EVP_MD* md = algorithm ? standin::digestOf(*algorithm) : nullptr;
        if (!md)
            return NTE_NOT_SUPPORTED;
        if (size != static_cast<DWORD>(EVP_MD_get_size(md)))
            return NTE_INVALID_PARAMETER;
        input = algorithm->digestInfoPrefix;
    }
    input.append(reinterpret_cast<const char*>(digest), size);
    return ERROR_SUCCESS;
}

}  // namespace

SECURITY_STATUS WINAPI NCryptOpenStorageProvider(NCRYPT_PROV_HANDLE* phProvider, LPCWSTR pszProviderName,
                                                 DWORD dwFlags)
{
    if (const SECURITY_STATUS fault = injected("NCryptOpenStorageProvider"))
        return fault;
    if (!phProvider)
        return NTE_INVALID_PARAMETER;
    if (dwFlags != 0)
        return NTE_BAD_FLAGS;
    // No name is the default provider, Microsoft's software one.
    const StorageProvider* provider = standin::findStorageProvider(pszProviderName ? pszProviderName
                                                                                   : MS_KEY_STORAGE_PROVIDER);
    if (!provider)
        return NTE_PROV_DLL_NOT_FOUND;
    *phProvider = providerHandles().add(std::make_unique<ProviderObject>(ProviderObject{provider}));
    return ERROR_SUCCESS;
}

SECURITY_STATUS WINAPI NCryptEnumStorageProviders(DWORD* pdwProviderCount, NCryptProviderName** ppProviderList,
                                                  DWORD dwFlags)
{
    if (const SECURITY_STATUS fault = injected("NCryptEnumStorageProviders"))
        return fault;
    if (!pdwProviderCount || !ppProviderList)
        return NTE_INVALID_PARAMETER;
    if (dwFlags & ~NCRYPT_SILENT_FLAG)
        return NTE_BAD_FLAGS;
    auto block = std::make_unique<ProviderListBlock>();
    const auto& providers = standin::storageProviders();
    // Every text first: the records point into them.
    for (const auto& provider : providers) {
        block->texts.emplace_back(provider.name);
        block->texts.emplace_back(provider.comment ? provider.comment : L"");
    }
    for (std::size_t i = 0; i < providers.size(); ++i)
        block->records.push_back({block->texts[2 * i].data(), providers[i].comment ? block->texts[2 * i + 1].data()
                                                                                   : nullptr});
    *pdwProviderCount = static_cast<DWORD>(block->records.size());
    *ppProviderList = block->records.data();
    providerLists().add(*ppProviderList, std::move(block));
    return ERROR_SUCCESS;
}

SECURITY_STATUS WINAPI NCryptEnumKeys(NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszScope, NCryptKeyName** ppKeyName,
                                      PVOID* ppEnumState, DWORD dwFlags)
{
    if (const SECURITY_STATUS fault = injected("NCryptEnumKeys"))
        return fault;
    const ProviderObject* provider = providerHandles().find(hProvider);
    if (!provider)
        return NTE_INVALID_HANDLE;
    // Scopes name a card reader; the stand-in's providers have none.
    if (!ppKeyName || !ppEnumState || pszScope)
        return NTE_INVALID_PARAMETER;
    if (dwFlags & ~kScopeFlags)
        return NTE_BAD_FLAGS;
    const bool machine = dwFlags & NCRYPT_MACHINE_KEY_FLAG;
    const standin::KeyFiles files(*provider->provider, machine);
    EnumState* state = static_cast<EnumState*>(*ppEnumState);
    if (!state) {
        auto fresh = std::make_unique<EnumState>();
        fresh->names = files.names();
        state = fresh.get();
        enumStates().add(state, std::move(fresh));
        *ppEnumState = state;
    } else if (!enumStates().find(state)) {
        return NTE_INVALID_PARAMETER;
    }
    if (state->next >= state->names.size())
        return NTE_NO_MORE_ITEMS;
    const std::string& name = state->names[state->next++];
    standin::StoredKey stored;
    files.read(name, stored);
    auto block = std::make_unique<KeyNameBlock>();
    block->name = standin::wideFromUtf8(name);
    block->algorithm = NCRYPT_RSA_ALGORITHM;
    block->record = {block->name.data(), block->algorithm.data(), stored.legacyKeySpec,
                     machine ? static_cast<DWORD>(NCRYPT_MACHINE_KEY_FLAG) : 0};
    *ppKeyName = &block->record;
    keyNames().add(*ppKeyName, std::move(block));
    return ERROR_SUCCESS;
}

SECURITY_STATUS WINAPI NCryptFreeBuffer(PVOID pvInput)
{
    if (const SECURITY_STATUS fault = injected("NCryptFreeBuffer"))
        return fault;
    const bool freed = keyNames().remove(pvInput) || providerLists().remove(pvInput) || enumStates().remove(pvInput);
    return freed ? ERROR_SUCCESS : NTE_INVALID_PARAMETER;
}

SECURITY_STATUS WINAPI NCryptOpenKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE* phKey, LPCWSTR pszKeyName,
                                     DWORD dwLegacyKeySpec, DWORD dwFlags)
{
    if (const SECURITY_STATUS fault = injected("NCryptOpenKey"))
        return fault;
    const ProviderObject* provider = providerHandles().find(hProvider);
    if (!provider)
        return NTE_INVALID_HANDLE;
    if (!phKey || !pszKeyName || !validKeySpec(dwLegacyKeySpec))
        return NTE_INVALID_PARAMETER;
    if (dwFlags & ~kScopeFlags)
        return NTE_BAD_FLAGS;
    if ((dwFlags & NCRYPT_SILENT_FLAG) && provider->provider->asksUser)
        return NTE_SILENT_CONTEXT;
    auto key = std::make_unique<KeyObject>();
    key->provider = provider->provider;
    key->machine = dwFlags & NCRYPT_MACHINE_KEY_FLAG;
    key->name = standin::utf8FromWide(pszKeyName);
    if (const SECURITY_STATUS status = key->files().read(key->name, key->stored); status != ERROR_SUCCESS)
        return status;
    if (provider->provider->asksUser)
        standin::oneThreadPerCard(std::string("ksp-") + provider->provider->keyStore);
    *phKey = keyHandles().add(std::move(key));
    return ERROR_SUCCESS;
}

SECURITY_STATUS WINAPI NCryptCreatePersistedKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE* phKey,
                                                LPCWSTR pszAlgId, LPCWSTR pszKeyName, DWORD dwLegacyKeySpec,
                                                DWORD dwFlags)
{
    if (const SECURITY_STATUS fault = injected("NCryptCreatePersistedKey"))
        return fault;
    const ProviderObject* provider = providerHandles().find(hProvider);
    if (!provider)
        return NTE_INVALID_HANDLE;
    // Keys without a name live in memory only; the stand-in makes none.
    if (!phKey || !pszAlgId || !pszKeyName || !validKeySpec(dwLegacyKeySpec))
        return NTE_INVALID_PARAMETER;
    if (std::wcscmp(pszAlgId, NCRYPT_RSA_ALGORITHM) != 0)
        return NTE_NOT_SUPPORTED;
    if (dwFlags & ~(kScopeFlags | NCRYPT_OVERWRITE_KEY_FLAG))
        return NTE_BAD_FLAGS;
    auto key = std::make_unique<KeyObject>();
    key->provider = provider->provider;
    key->machine = dwFlags & NCRYPT_MACHINE_KEY_FLAG;
    key->name = standin::utf8FromWide(pszKeyName);
    key->stored.legacyKeySpec = dwLegacyKeySpec;
    if (!(dwFlags & NCRYPT_OVERWRITE_KEY_FLAG) && key->files().exists(key->name))
        return NTE_EXISTS;
    *phKey = keyHandles().add(std::move(key));
    return ERROR_SUCCESS;
}

SECURITY_STATUS WINAPI NCryptSetProperty(NCRYPT_HANDLE hObject, LPCWSTR pszProperty, PBYTE pbInput, DWORD cbInput,
                                         DWORD dwFlags)
{
    if (const SECURITY_STATUS fault = injected("NCryptSetProperty"))
        return fault;
    KeyObject* key = keyHandles().find(hObject);
    if (!key)
        return providerHandles().find(hObject) ? NTE_NOT_SUPPORTED : NTE_INVALID_HANDLE;
    if (!pszProperty || !pbInput)
        return NTE_INVALID_PARAMETER;
    if (dwFlags & ~NCRYPT_SILENT_FLAG)
        return NTE_BAD_FLAGS;
    // A made key keeps the length and policy it was made with.
    if (key->stored.key)
        return NTE_BAD_KEY_STATE;
    return setProperty(*key, pszProperty, pbInput, cbInput);
}

SECURITY_STATUS WINAPI NCryptFinalizeKey(NCRYPT_KEY_HANDLE hKey, DWORD dwFlags)
{
    if (const SECURITY_STATUS fault = injected("NCryptFinalizeKey"))
        return fault;
    KeyObject* key = keyHandles().find(hKey);
    if (!key)
        return NTE_INVALID_HANDLE;
    if (dwFlags & ~NCRYPT_SILENT_FLAG)
        return NTE_BAD_FLAGS;
    if (key->stored.key)
        return NTE_BAD_KEY_STATE;
    standin::StoredKey made = key->stored;
    made.key = standin::RsaKey::generate(key->length, CALG_RSA_KEYX, key->exportPolicy & NCRYPT_ALLOW_EXPORT_FLAG);
    if (!made.key)
        return NTE_FAIL;
    if (const SECURITY_STATUS status = key->files().add(key->name, made); status != ERROR_SUCCESS)
        return status;
    key->stored = std::move(made);
    return ERROR_SUCCESS;
}

SECURITY_STATUS WINAPI NCryptExportKey(NCRYPT_KEY_HANDLE hKey, NCRYPT_KEY_HANDLE hExportKey, LPCWSTR pszBlobType,
                                       NCryptBufferDesc* pParameterList, PBYTE pbOutput, DWORD cbOutput,
                                       DWORD* pcbResult, DWORD dwFlags)
{
    if (const SECURITY_STATUS fault = injected("NCryptExportKey"))
        return fault;
    const KeyObject* key = keyHandles().find(hKey);
    if (!key)
        return NTE_INVALID_HANDLE;
    if (!key->stored.key)
        return NTE_BAD_KEY_STATE;
    if (!pszBlobType || !pcbResult)
        return NTE_INVALID_PARAMETER;
    if (dwFlags & ~NCRYPT_SILENT_FLAG)
        return NTE_BAD_FLAGS;
    // Only the public half leaves the stand-in's providers, unwrapped.
    if (hExportKey || pParameterList || std::wcscmp(pszBlobType, LEGACY_RSAPUBLIC_BLOB) != 0)
        return NTE_NOT_SUPPORTED;
    const std::string blob = key->stored.key->publicBlob();
    if (blob.empty())
        return NTE_FAIL;
    return copyOut(blob, pbOutput, cbOutput, pcbResult);
}

SECURITY_STATUS WINAPI NCryptSignHash(NCRYPT_KEY_HANDLE hKey, void* pPaddingInfo, PBYTE pbHashValue,
                                      DWORD cbHashValue, PBYTE pbSignature, DWORD cbSignature, DWORD* pcbResult,
                                      DWORD dwFlags)
{
    if (const SECURITY_STATUS fault = injected("NCryptSignHash"))
        return fault;
    const KeyObject* key = keyHandles().find(hKey);
    if (!key)
        return NTE_INVALID_HANDLE;
    if (!key->stored.key)
        return NTE_BAD_KEY_STATE;
    if (!pPaddingInfo || !pbHashValue || !pcbResult)
        return NTE_INVALID_PARAMETER;
    // PKCS#1 v1.5 is the one padding that the stand-in signs with.
    if ((dwFlags & ~NCRYPT_SILENT_FLAG) != BCRYPT_PAD_PKCS1)
        return NTE_NOT_SUPPORTED;
    if ((dwFlags & NCRYPT_SILENT_FLAG) && key->provider->asksUser)
        return NTE_SILENT_CONTEXT;
    std::string input;
    const auto& padding = *static_cast<const BCRYPT_PKCS1_PADDING_INFO*>(pPaddingInfo);
    if (const SECURITY_STATUS status = signatureInput(padding, pbHashValue, cbHashValue, input);
        status != ERROR_SUCCESS)
        return status;
    *pcbResult = key->stored.key->size();
    if (!pbSignature)
        return ERROR_SUCCESS;
    if (cbSignature < *pcbResult)
        return NTE_BUFFER_TOO_SMALL;
    // Most significant byte first, as CNG writes it.
    std::string signature;
    if (!key->stored.key->sign(reinterpret_cast<const unsigned char*>(input.data()), input.size(), signature))
        return NTE_FAIL;
    return copyOut(signature, pbSignature, cbSignature, pcbResult);
}

SECURITY_STATUS WINAPI NCryptDeleteKey(NCRYPT_KEY_HANDLE hKey, DWORD dwFlags)
{
    if (const SECURITY_STATUS fault = injected("NCryptDeleteKey"))
        return fault;
    const KeyObject* key = keyHandles().find(hKey);
    if (!key)
        return NTE_INVALID_HANDLE;
    if (dwFlags & ~NCRYPT_SILENT_FLAG)
        return NTE_BAD_FLAGS;
    // A key that was never finalized was never stored.
    if (key->stored.key) {
        if (const SECURITY_STATUS status = key->files().remove(key->name); status != ERROR_SUCCESS)
            return status;
    }
    // Deleted, the key's handle is freed too.
    keyHandles().remove(hKey);
    return ERROR_SUCCESS;
}

SECURITY_STATUS WINAPI NCryptFreeObject(NCRYPT_HANDLE hObject)
{
    if (const SECURITY_STATUS fault = injected("NCryptFreeObject"))
        return fault;
    return keyHandles().remove(hObject) || providerHandles().remove(hObject) ? ERROR_SUCCESS : NTE_INVALID_HANDLE;
}

BOOL WINAPI NCryptIsKeyHandle(NCRYPT_KEY_HANDLE hKey) { return keyHandles().find(hKey) != nullptr; }
