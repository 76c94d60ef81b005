// What the machine offers: installed providers and the key containers that
// one provider sees, in the order in which CryptoAPI enumerates them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ProviderEntry {
    std::string name;
    DWORD type;
};

std::vector<ProviderEntry> enumerateProviders();

// `providerName` as the caller wrote it; Athena's name, exactly, is rewritten.
std::vector<std::string> enumerateContainers(const std::string& providerName, int providerType);
