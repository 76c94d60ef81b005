// Key containers of the stand-in's providers. A persistent container is a
// directory in its provider's key store holding one file per key and per
// certificate; a CRYPT_VERIFYCONTEXT context has a container in memory only.
// A new container appears together with its first key, so that a process
// killed in between leaves neither; until then its name is claimed by a lock
// that dies with the process.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

// RsaKey.h first: it orders OpenSSL before <wincrypt.h>.
#include "advapi32/RsaKey.h"

#include "advapi32/Providers.h"
#include "machine/StateFiles.h"

namespace standin {

class KeyContainer {
public:
    // A container in memory, gone with its context.
    KeyContainer() = default;
    KeyContainer(std::string name, std::string directory);
    // A container that is still to appear at `directory`: its first key is
    // written in `staging`, which then takes the container's name.
    KeyContainer(std::string name, std::string directory, std::string staging, std::unique_ptr<FileClaim> claim);

    const std::string& name() const { return name_; }
    bool persistent() const { return !directory_.empty(); }

    // The key of that spec (AT_KEYEXCHANGE or AT_SIGNATURE), read from its
    // file on first use and kept; nullptr with NTE_NO_KEY when there is none.
    std::shared_ptr<RsaKey> key(DWORD keySpec, DWORD& error);

    // Replaces the key of that spec; false when its file cannot be written.
    bool storeKey(DWORD keySpec, std::shared_ptr<RsaKey> key);

    bool storeCertificate(DWORD keySpec, const std::string& der);
    // False when the key of that spec has no certificate.
    bool certificate(DWORD keySpec, std::string& der);

private:
    std::string path(DWORD keySpec, const char* suffix) const;
    bool appearWith(DWORD keySpec, const std::string& keyText);

    std::string name_;
    std::string directory_;
    std::string staging_;
    std::unique_ptr<FileClaim> claim_; // held until the container appears
    std::map<DWORD, std::shared_ptr<RsaKey>> keys_;
    std::map<DWORD, std::string> certificates_;  // containers in memory only
};

// The user's containers of one provider.
class KeyStore {
public:
    explicit KeyStore(const ProviderInfo& provider);

    // Each answers ERROR_SUCCESS or the CryptAcquireContext error.
    DWORD create(const std::string& name, std::shared_ptr<KeyContainer>& container) const;
    DWORD open(const std::string& name, std::shared_ptr<KeyContainer>& container) const;
    DWORD remove(const std::string& name) const;

    // Container names, sorted bytewise.
    std::vector<std::string> names() const;

private:
    std::string containerDirectory(const std::string& name) const;
    // The hidden companions of a container's name, whatever its length.
    std::string hiddenPath(const char* kind, const std::string& name) const;

    std::string directory_;
};

}  // namespace standin
