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
inline constexpr const char* kRenamedProviderTarget = "Microsoft Base Smart Card Crypto Provider";

enum class ProviderMatch { Substring, Equality };

// True when one of the known names occurs in `providerName` (case-sensitive).
bool isKnownSmartCardProvider(const std::string& providerName);

std::string mapProviderName(const std::string& providerName, ProviderMatch match);
