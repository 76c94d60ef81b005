// advapi32 on Linux: provider contexts, their containers, and the listings of
// providers and containers.
#include "advapi32/CryptObjects.h"  // first: it orders OpenSSL before <wincrypt.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel32/Threads.h"
#include "machine/FaultSwitch.h"

namespace {

using standin::fail;

// Key sets are the user's only.
constexpr DWORD kKnownAcquireFlags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET;
constexpr DWORD kKnownEnumerationFlags = CRYPT_FIRST | CRYPT_NEXT;

// A NULL or empty container name is the user's default container, which
// Windows names after the user.
std::string defaultContainerName()
{
    if (const passwd* user = getpwuid(geteuid()); user && user->pw_name)
        return user->pw_name;
    return std::to_string(geteuid());
}

BOOL copyText(const std::string& text, BYTE* pbData, DWORD* pdwDataLen)
{
    return standin::copyOut(text.c_str(), static_cast<DWORD>(text.size() + 1), pbData, pdwDataLen);
}

BOOL enumerateContainers(standin::ProviderContext& context, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags)
{
    if (dwFlags & CRYPT_FIRST) {
        context.enumeration = standin::KeyStore(context.provider).names();
        context.enumerationNext = 0;
    }
    // Every caller offers its whole buffer: there is no size query.
    if (!pdwDataLen || !pbData)
        return fail(ERROR_INVALID_PARAMETER);
    if (context.enumerationNext >= context.enumeration.size())
        return fail(ERROR_NO_MORE_ITEMS);
    // A short buffer leaves the position where it is: the caller retries
    // the same name with a larger buffer.
    if (!copyText(context.enumeration[context.enumerationNext], pbData, pdwDataLen))
        return FALSE;
    ++context.enumerationNext;
    return TRUE;
}

DWORD openContainer(standin::ProviderContext& context, const std::string& name, DWORD dwFlags)
{
    const standin::KeyStore store(context.provider);
    if (dwFlags & CRYPT_NEWKEYSET)
        return store.create(name, context.container);
    return store.open(name, context.container);
}

}  // namespace

BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider, DWORD dwProvType,
                                 DWORD dwFlags)
{
    if (standin::injectFault("CryptAcquireContextA"))
        return FALSE;
    if (!phProv)
        return fail(ERROR_INVALID_PARAMETER);
    if (dwProvType == 0 || dwProvType > MAXPROVTYPES)
        return fail(NTE_BAD_PROV_TYPE);
    auto context = std::make_shared<standin::ProviderContext>();
    if (!szProvider) {
        if (!standin::defaultProvider(dwProvType, context->provider))
            return fail(NTE_PROV_TYPE_NOT_DEF);
    } else if (!standin::findProvider(szProvider, context->provider)) {
        return fail(NTE_KEYSET_NOT_DEF);
    }
    if (context->provider.type != dwProvType)
        return fail(NTE_PROV_TYPE_NO_MATCH);
    if (dwFlags & ~kKnownAcquireFlags)
        return fail(NTE_BAD_FLAGS);

    const bool named = szContainer && *szContainer;
    const std::string name = named ? std::string(szContainer) : defaultContainerName();
    if ((dwFlags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT) {
        // CRYPT_NEWKEYSET beside it changes nothing: there is no container.
        if (named)
            return fail(NTE_BAD_FLAGS);
        context->container = std::make_shared<standin::KeyContainer>();
    } else if (dwFlags & CRYPT_DELETEKEYSET) {
        // No context comes back: there is nothing left to release.
        if (dwFlags != CRYPT_DELETEKEYSET)
            return fail(NTE_BAD_FLAGS);
        const DWORD error = standin::KeyStore(context->provider).remove(name);
        *phProv = 0;
        return error == ERROR_SUCCESS ? TRUE : fail(error);
    } else if (const DWORD error = openContainer(*context, name, dwFlags); error != ERROR_SUCCESS) {
        return fail(error);
    } else if (context->provider.keepsCertificates) {
        // The providers that keep certificates with their keys are the cards'.
        standin::oneThreadPerCard(context->provider.keyStore);
    }
    *phProv = standin::contextHandles().add(
        std::make_unique<std::shared_ptr<standin::ProviderContext>>(std::move(context)));
    return TRUE;
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags)
{
    if (standin::injectFault("CryptReleaseContext"))
        return FALSE;
    const auto context = standin::findContext(hProv);
    if (!context)
        return fail(NTE_BAD_UID);
    // Windows frees the context here, and a key or hash made on it would
    // later be destroyed through freed memory: the stand-in stops the caller
    // at the mistake (the table and `context` are the only other owners).
    if (context.use_count() > 2)
        std::abort();
    standin::contextHandles().remove(hProv);
    return dwFlags == 0 ? TRUE : fail(NTE_BAD_FLAGS);
}

BOOL WINAPI CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags)
{
    if (standin::injectFault("CryptGetProvParam"))
        return FALSE;
    auto context = standin::findContext(hProv);
    if (!context)
        return fail(NTE_BAD_UID);
    if (dwParam == PP_ENUMCONTAINERS) {
        if (dwFlags & ~kKnownEnumerationFlags)
            return fail(NTE_BAD_FLAGS);
        return enumerateContainers(*context, pbData, pdwDataLen, dwFlags);
    }
    if (dwFlags != 0)
        return fail(NTE_BAD_FLAGS);
    switch (dwParam) {
    case PP_NAME:
        return copyText(context->provider.name, pbData, pdwDataLen);
    case PP_CONTAINER:
    case PP_UNIQUE_CONTAINER:
        return copyText(context->container->name(), pbData, pdwDataLen);
    case PP_PROVTYPE:
        return standin::copyOut(&context->provider.type, sizeof context->provider.type, pbData, pdwDataLen);
    default:
        return fail(NTE_BAD_TYPE);
    }
}

BOOL WINAPI CryptEnumProvidersA(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags, DWORD* pdwProvType, LPSTR szProvName,
                                DWORD* pcbProvName)
{
    if (standin::injectFault("CryptEnumProvidersA"))
        return FALSE;
    if (pdwReserved || !pcbProvName)
        return fail(ERROR_INVALID_PARAMETER);
    if (dwFlags != 0)
        return fail(NTE_BAD_FLAGS);
    const auto providers = standin::installedProviders();
    if (dwIndex >= providers.size())
        return fail(ERROR_NO_MORE_ITEMS);
    const auto& provider = providers[dwIndex];
    if (pdwProvType)
        *pdwProvType = provider.type;
    return copyText(provider.name, reinterpret_cast<BYTE*>(szProvName), pcbProvName);
}
