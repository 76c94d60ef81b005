// Opening a key container by the provider rules: a known smart-card provider
// as named, any other provider through Microsoft's software provider.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "CryptHandles.h"

// The calling operation's messages for a failed acquisition, one per branch.
// With `withLastError` the text of the last error follows the message (and a
// missing key set is spelled out before it).
struct AcquireFailures {
    const char* knownProvider;
    const char* softwareProvider;
    bool withLastError;
};

ProviderContext acquireKeyContext(const std::string& containerName, const std::string& providerName,
                                  DWORD providerType, DWORD flags, const AcquireFailures& failures);
