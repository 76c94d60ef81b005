// What the machine offers: installed providers (CSPs and KSPs) and the key
// containers that one provider sees, in the order in which CryptoAPI and CNG
// enumerate them.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

struct ProviderEntry {
    std::string name;
    DWORD type;
};

std::vector<ProviderEntry> enumerateProviders();

// Names and comments in UTF-8; a KSP without a comment has none.
struct StorageProviderEntry {
    std::string name;
    std::optional<std::string> comment;
};

std::vector<StorageProviderEntry> enumerateStorageProviders();

// The names in UTF-8. `providerName` as the caller wrote it; Athena's name,
// exactly, is rewritten. Provider type 0 names a KSP, whose persisted keys
// are its containers.
std::vector<std::string> enumerateContainers(const std::string& providerName, int providerType);
