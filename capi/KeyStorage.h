// Keys that a CNG key storage provider holds (Microsoft's software and
// smart-card KSPs, vendors' own). A certificate's key link names such a key
// with provider type 0; CryptAcquireContext cannot open it.
#pragma once

#include <windows.h>
#include <ncrypt.h>

#include <string>
#include <vector>

#include "CryptHandles.h"

inline constexpr DWORD kKeyStorageProviderType = 0;

// "Err " and the status in unsigned decimal.
std::string statusText(SECURITY_STATUS status);

// Fails with `message` followed by the status unless the status is success.
void requireSuccess(SECURITY_STATUS status, const std::string& message);

// A name that the caller gave, as zero-terminated wide text; fails with
// `message` and the last error when the ANSI code page does not convert it.
std::vector<WCHAR> wideName(const std::string& ansi, const std::string& message);

KeyStorageProvider openStorageProvider(LPCWSTR providerName, const std::string& message);

// The new RSA exchange key of `keyBits` (in whole kilobits; less than one
// lets the provider choose), made and stored by the provider.
PersistedKey createExchangeKey(const KeyStorageProvider& provider, LPCWSTR keyName, int keyBits, bool exportable);

// The key, from a key link or a caller's container name; it stays
// interactive, so that a smart-card provider asks for its PIN itself.
SECURITY_STATUS openPersistedKey(
    const KeyStorageProvider& provider, LPCWSTR keyName, DWORD keySpec, DWORD flags, PersistedKey& key);

// Deletes the key if it is there, answering nothing: a request's clean-up.
void deletePersistedKey(const std::string& providerName, const std::string& keyName);
