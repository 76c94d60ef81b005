#include "ProviderRules.h"

#include "KeyStorage.h"

bool isKnownSmartCardProvider(const std::string& providerName)
{
    for (const char* known : KnownSmartCardProviders)
        if (providerName.find(known) != std::string::npos)
            return true;
    return false;
}

std::string mapProviderName(const std::string& providerName, ProviderMatch match)
{
    const bool matches = match == ProviderMatch::Equality ? providerName == kRenamedProvider
                                                          : providerName.find(kRenamedProvider) != std::string::npos;
    return matches ? kRenamedProviderTarget : providerName;
}

bool installsInStore(const std::string& providerName, int providerType)
{
    return static_cast<DWORD>(providerType) == kKeyStorageProviderType
           || (providerName.find(kMicrosoftMark) != std::string::npos
               && providerName.find(kMicrosoftSmartCardProvider) == std::string::npos);
}
