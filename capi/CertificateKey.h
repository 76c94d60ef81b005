// The private key of a certificate in the current user's "MY" store, found by
// thumbprint and reached through the certificate's key-provider information:
// in its CryptoAPI provider (CSP), or, for provider type 0, in its CNG key
// storage provider (KSP). One open key signs any number of items, one hash
// object each; a KSP's key signs the digest that a CryptoAPI hash made.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "CryptHandles.h"
#include "Encoding.h"
#include "SigningAlgorithm.h"

class CertificateKey {
public:
    // Opens the store, finds the certificate, reads its key-provider
    // information and opens the key (and for a KSP's key the context that
    // hashes), failing in that order. Only 40 lower-case hexadecimal digits
    // can find a certificate.
    explicit CertificateKey(const std::string& thumbprint);

    HashObject createHash(const SigningAlgorithm& algorithm) const;
    // Hashes `value`, or takes it as the digest when `readyDigest` is set.
    void putValue(const HashObject& hash, const SigningAlgorithm& algorithm, const Bytes& value,
                  bool readyDigest) const;
    // The signature, most significant byte first.
    Bytes signHash(const HashObject& hash, const SigningAlgorithm& algorithm) const;
    // Whether software holds the key (Microsoft's software CSP, which opens
    // every provider but the known cards', or Microsoft's software KSP): no
    // device serializes its signatures, and any thread may open it again.
    bool inSoftware() const { return inSoftware_; }

private:
    void openCngKey(const CRYPT_KEY_PROV_INFO& info);
    Bytes signDigest(const HashObject& hash, const SigningAlgorithm& algorithm) const;

    // Declared in the reverse of their release: the key-provider information
    // goes first, then the certificate, the store, a KSP's key and the KSP,
    // and last the context.
    ProviderContext context_;
    KeyStorageProvider storageProvider_;
    PersistedKey persistedKey_;
    CertificateStore store_;
    CertificateContext certificate_;
    Bytes keyProviderInfo_;
    DWORD keySpec_ = 0;
    bool inSoftware_ = false;
};
