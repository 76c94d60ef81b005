#include "advapi32/Providers.h"

#include <algorithm>
#include <cstdlib>

#include "machine/StateFiles.h"
#include "machine/WinRoot.h"

namespace standin {
namespace {

struct KnownProvider {
    const char* name;
    DWORD type;
    const char* keyStore;
    bool rsaKeys;
    bool keepsCertificates;
};

// Windows' software providers in the order Windows enumerates them.
constexpr KnownProvider kWindowsProviders[] = {
    {MS_DEF_PROV_A, PROV_RSA_FULL, "rsa", true, false},
    {MS_DEF_DSS_DH_PROV_A, PROV_DSS_DH, "dss", false, false},
    {MS_DEF_DSS_PROV_A, PROV_DSS, "dss", false, false},
    {MS_SCARD_PROV_A, PROV_RSA_FULL, "smartcard", true, true},
    {MS_DEF_DH_SCHANNEL_PROV_A, PROV_DH_SCHANNEL, "dss", false, false},
    {MS_ENHANCED_PROV_A, PROV_RSA_FULL, "rsa", true, false},
    {MS_ENH_DSS_DH_PROV_A, PROV_DSS_DH, "dss", false, false},
    {MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, "rsa", true, false},
    {MS_DEF_RSA_SCHANNEL_PROV_A, PROV_RSA_SCHANNEL, "rsa", true, false},
    {MS_STRONG_PROV_A, PROV_RSA_FULL, "rsa", true, false},
};

struct DefaultProvider {
    DWORD type;
    const char* name;
};

constexpr DefaultProvider kDefaultProviders[] = {
    {PROV_RSA_FULL, MS_STRONG_PROV_A},
    {PROV_DSS, MS_DEF_DSS_PROV_A},
    {PROV_RSA_SCHANNEL, MS_DEF_RSA_SCHANNEL_PROV_A},
    {PROV_DSS_DH, MS_ENH_DSS_DH_PROV_A},
    {PROV_DH_SCHANNEL, MS_DEF_DH_SCHANNEL_PROV_A},
    {PROV_RSA_AES, MS_ENH_RSA_AES_PROV_A},
};

constexpr char kProvidersFile[] = "/providers";
// Stores of installed providers carry a prefix, so that no name can reach
// the shared stores of the Windows providers.
constexpr char kInstalledStorePrefix[] = "csp-";

ProviderInfo describe(const std::string& name, DWORD type)
{
    for (const auto& known : kWindowsProviders)
        if (name == known.name)
            return {name, type, known.keyStore, known.rsaKeys, known.keepsCertificates};
    return {name, type, kInstalledStorePrefix + encodeFileName(name), true, true};
}

bool parseLine(std::string line, ProviderInfo& provider)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty() || line[0] == '#')
        return false;
    const auto space = line.find(' ');
    if (space == std::string::npos || space == 0 || space + 1 == line.size())
        return false;
    const std::string typeText = line.substr(0, space);
    char* rest = nullptr;
    const unsigned long type = std::strtoul(typeText.c_str(), &rest, 10);
    if (*rest != '\0' || type == 0 || type > MAXPROVTYPES)
        return false;
    provider = describe(line.substr(space + 1), static_cast<DWORD>(type));
    return true;
}

}  // namespace

std::vector<ProviderInfo> installedProviders()
{
    std::vector<ProviderInfo> providers;
    std::string text;
    if (!readFile(winRoot() + kProvidersFile, text)) {
        for (const auto& known : kWindowsProviders)
            providers.push_back(describe(known.name, known.type));
        return providers;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        ProviderInfo provider;
        if (parseLine(text.substr(start, end - start), provider))
            providers.push_back(provider);
        start = end + 1;
    }
    return providers;
}

bool findProvider(const std::string& name, ProviderInfo& provider)
{
    for (const auto& installed : installedProviders()) {
        if (installed.name == name) {
            provider = installed;
            return true;
        }
    }
    return false;
}

bool defaultProvider(DWORD type, ProviderInfo& provider)
{
    const auto providers = installedProviders();
    std::string preferred;
    for (const auto& entry : kDefaultProviders)
        if (entry.type == type)
            preferred = entry.name;
    auto chosen = std::find_if(providers.begin(), providers.end(),
                               [&](const ProviderInfo& p) { return p.type == type && p.name == preferred; });
    if (chosen == providers.end())
        chosen
            = std::find_if(providers.begin(), providers.end(), [&](const ProviderInfo& p) { return p.type == type; });
    if (chosen == providers.end())
        return false;
    provider = *chosen;
    return true;
}

}  // namespace standin
