#include "KeyContext.h"

#include <stdexcept>

#include "CapiMessages.h"
#include "Failures.h"
#include "ProviderRules.h"

namespace {

[[noreturn]] void failAcquire(const char* message, bool withLastError)
{
    if (!withLastError)
        throw std::runtime_error(message);
    const DWORD code = GetLastError();
    std::string text = message;
    if (code == static_cast<DWORD>(NTE_BAD_KEYSET))
        text += kKeysetNotFoundInfix;
    throw std::runtime_error(text + errorCodeText(code));
}

}  // namespace

ProviderContext acquireKeyContext(const std::string& containerName, const std::string& providerName,
                                  DWORD providerType, DWORD flags, const AcquireFailures& failures)
{
    HCRYPTPROV context = 0;
    if (isKnownSmartCardProvider(providerName)) {
        if (!CryptAcquireContextA(&context, containerName.c_str(), providerName.c_str(), providerType, flags))
            failAcquire(failures.knownProvider, failures.withLastError);
    } else if (!CryptAcquireContextA(&context, containerName.c_str(), kSoftwareProvider, PROV_RSA_AES, flags)) {
        failAcquire(failures.softwareProvider, failures.withLastError);
    }
    return ProviderContext(context);
}
