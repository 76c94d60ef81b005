// The CNG key storage providers of the emulated machine and their persisted
// keys: one file a key, in a folder per provider and scope (the user's or the
// machine's), beside the CryptoAPI providers' containers.
#pragma once

// RsaKey.h first: it orders OpenSSL before <wincrypt.h>.
#include "advapi32/RsaKey.h"

#include <ncrypt.h>

#include <memory>
#include <string>
#include <vector>

namespace standin {

struct StorageProvider {
    const WCHAR* name;
    const WCHAR* comment;  // nullptr: none
    const char* keyStore;
    // A card's keys never leave it: no export policy but none is taken.
    bool exportable;
    // The provider asks the user for the card's PIN itself, so a call that
    // must stay silent fails.
    bool asksUser;
};

// Windows' own two, in the order Windows enumerates them.
const std::vector<StorageProvider>& storageProviders();
// The provider of exactly this name; nullptr when none is installed.
const StorageProvider* findStorageProvider(const WCHAR* name);

struct StoredKey {
    std::shared_ptr<RsaKey> key;
    DWORD legacyKeySpec = 0;
};

// One provider's persisted keys in one scope, known by name.
class KeyFiles {
public:
    KeyFiles(const StorageProvider& provider, bool machine);

    bool exists(const std::string& name) const;
    // NTE_BAD_KEYSET when there is no such key.
    SECURITY_STATUS read(const std::string& name, StoredKey& key) const;
    // Written whole under a name that is still free: NTE_EXISTS when it is
    // taken, also by a creator that finished first.
    SECURITY_STATUS add(const std::string& name, const StoredKey& key) const;
    SECURITY_STATUS remove(const std::string& name) const;
    // Sorted bytewise.
    std::vector<std::string> names() const;

private:
    std::string path(const std::string& name) const;

    std::string directory_;
};

}  // namespace standin
