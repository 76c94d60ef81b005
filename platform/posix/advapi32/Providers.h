// The cryptographic service providers installed on the emulated machine.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace standin {

struct ProviderInfo {
    std::string name;
    DWORD type;
    // The directory, under the key-set scope, that holds the provider's
    // containers; Windows' RSA software providers share theirs, so a
    // container made through one is opened through another.
    std::string keyStore;
    bool rsaKeys;  // the DSS/DH providers make no RSA keys
    bool keepsCertificates;  // KP_CERTIFICATE is kept with the key (card providers)
};

// The installed providers in enumeration order: the file "providers" in the
// machine's directory when it exists (one provider a line, "<type> <name>";
// empty lines and lines starting with '#' are skipped), else Windows' own
// software providers.
std::vector<ProviderInfo> installedProviders();

// The provider of this name (exact, case-sensitive match); false when none.
bool findProvider(const std::string& name, ProviderInfo& provider);

// The provider that a NULL provider name stands for: Windows' default of the
// type when installed, else the first installed provider of the type.
bool defaultProvider(DWORD type, ProviderInfo& provider);

}  // namespace standin
