#include "ProviderEnumeration.h"

#include <wincrypt.h>

#include <algorithm>
#include <stdexcept>

#include <cwchar>

#include "AnsiText.h"
#include "CapiMessages.h"
#include "CryptHandles.h"
#include "KeyStorage.h"
#include "ProviderRules.h"

namespace {

// Container names are read into a buffer of this size.
constexpr DWORD kContainerNameBufferSize = 1000;

std::string providerDescription(const char* message, const std::string& providerName, int providerType)
{
    return message + providerName + kProviderTypeInfix + std::to_string(providerType);
}

// The name up to its first zero byte, never past the bytes returned.
std::string containerName(const BYTE* buffer, DWORD length)
{
    const BYTE* end = buffer + std::min(length, kContainerNameBufferSize);
    return std::string(buffer, std::find(buffer, end, BYTE{0}));
}

std::string utf8Of(LPCWSTR text) { return utf8FromUnits(text, std::wcslen(text)); }

// A KSP's persisted keys; a failure at any point fails the listing, which
// never answers part of the keys as if it were all of them.
std::vector<std::string> enumeratePersistedKeys(const std::string& providerName, int providerType)
{
    const std::string description = providerDescription("", providerName, providerType) + kStatusInfix;
    const KeyStorageProvider storage = openStorageProvider(
        wideName(providerName, kContainersStorageProviderFailed + description).data(),
        kContainersStorageProviderFailed + description);
    std::vector<std::string> names;
    CngBuffer state;
    for (;;) {
        NCryptKeyName* found = nullptr;
        PVOID position = state.get();
        const SECURITY_STATUS status = NCryptEnumKeys(storage.get(), nullptr, &found, &position, 0);
        if (!state)
            state.reset(position);
        if (status == NTE_NO_MORE_ITEMS)
            return names;
        requireSuccess(status, kContainersEnumKeysFailed + description);
        const CngBuffer name(found);
        names.push_back(utf8Of(found->pszName));
    }
}

}  // namespace

std::vector<StorageProviderEntry> enumerateStorageProviders()
{
    DWORD count = 0;
    NCryptProviderName* list = nullptr;
    requireSuccess(NCryptEnumStorageProviders(&count, &list, 0), kListKspsEnumFailed);
    const CngBuffer owner(list);
    std::vector<StorageProviderEntry> providers;
    for (DWORD i = 0; i < count; ++i) {
        const NCryptProviderName& provider = list[i];
        providers.push_back({utf8Of(provider.pszName),
                             provider.pszComment ? std::optional(utf8Of(provider.pszComment)) : std::nullopt});
    }
    return providers;
}

std::vector<ProviderEntry> enumerateProviders()
{
    std::vector<ProviderEntry> providers;
    DWORD index = 0;
    for (;;) {
        DWORD type = 0;
        DWORD size = 0;
        if (!CryptEnumProvidersA(index, nullptr, 0, &type, nullptr, &size))
            return providers;
        LocalBuffer name(LocalAlloc(LPTR, size));
        if (!name)
            throw std::runtime_error(kListCspsNoMemory);
        if (!CryptEnumProvidersA(index++, nullptr, 0, &type, static_cast<LPSTR>(name.get()), &size)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS)
                continue;
            throw std::runtime_error(kListCspsEnumFailed);
        }
        const char* text = static_cast<const char*>(name.get());
        providers.push_back({std::string(text, std::find(text, text + size, '\0')), type});
    }
}

std::vector<std::string> enumerateContainers(const std::string& requestedName, int providerType)
{
    if (requestedName.empty())
        throw std::runtime_error(kContainersProviderNameNull);
    if (static_cast<DWORD>(providerType) == kKeyStorageProviderType)
        return enumeratePersistedKeys(requestedName, providerType);
    const std::string providerName = mapProviderName(requestedName, ProviderMatch::Equality);

    HCRYPTPROV rawContext = 0;
    if (!CryptAcquireContextA(&rawContext, nullptr, providerName.c_str(), static_cast<DWORD>(providerType),
                              CRYPT_VERIFYCONTEXT))
        throw std::runtime_error(providerDescription(kContainersAcquireFailed, providerName, providerType));
    ProviderContext context(rawContext);

    std::vector<std::string> names;
    BYTE buffer[kContainerNameBufferSize] = {};
    // Every call gets the whole buffer: the length that a call leaves behind
    // is the size of its name, too short for a longer name after it.
    DWORD length = sizeof buffer;
    if (!CryptGetProvParam(context.get(), PP_ENUMCONTAINERS, buffer, &length, CRYPT_FIRST)) {
        if (GetLastError() == ERROR_NO_MORE_ITEMS)
            return names;
        throw std::runtime_error(providerDescription(kContainersFirstFailed, providerName, providerType));
    }
    do {
        names.push_back(utf8FromAnsi(containerName(buffer, length)));
        length = sizeof buffer;
    } while (CryptGetProvParam(context.get(), PP_ENUMCONTAINERS, buffer, &length, CRYPT_NEXT));
    return names;
}
