// Which provider a name reaches: the smart-card providers known by name are
// opened as named, every other provider through Microsoft's software provider.
#pragma once

#include <array>
#include <string>

inline constexpr std::array<const char*, 9> KnownSmartCardProviders = {
    "Oberthur Card Systems Cryptographic Provider",
    "CSP Trevanol Multiplo",
    "eToken Base Cryptographic Provider",
    "Microsoft Base Smart Card Crypto Provider",
    "EnterSafe ePass2003 CSP v1.0",
    "Ardel Cryptographic Provider",
    "SafeSign IC Standard Windows Cryptographic Service Provider",
    "DXSafe Base Cryptographic Provider",
    "SafeSign Standard Cryptographic Service Provider",
};

inline constexpr const char* kSoftwareProvider = "Microsoft Enhanced RSA and AES Cryptographic Provider";
// Athena's CSP name is answered by the Microsoft smart-card provider.
inline constexpr const char* kRenamedProvider = "Athena ASECard Crypto CSP";
inline constexpr const char* kMicrosoftSmartCardProvider = "Microsoft Base Smart Card Crypto Provider";
inline constexpr const char* kRenamedProviderTarget = kMicrosoftSmartCardProvider;
// Names with this mark, except Microsoft's card provider, keep certificates
// in the user's "MY" store rather than with the key.
inline constexpr const char* kMicrosoftMark = "Microsoft";

enum class ProviderMatch { Substring, Equality };

// True when one of the known names occurs in `providerName` (case-sensitive).
bool isKnownSmartCardProvider(const std::string& providerName);

std::string mapProviderName(const std::string& providerName, ProviderMatch match);

// True when a certificate for this provider's key goes to the "MY" store:
// a KSP's key (provider type 0) is linked from there, as Windows links it,
// and so is a CSP's key by the name's marks (case-sensitive substring tests
// on the name as given).
bool installsInStore(const std::string& providerName, int providerType);
