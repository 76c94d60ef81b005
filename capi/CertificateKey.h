// The private key of a certificate in the current user's "MY" store, found by
// thumbprint and reached through the certificate's key-provider information.
// One open key signs any number of items, one hash object each.
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
    // information and opens the key's context, failing in that order. Only
    // 40 lower-case hexadecimal digits can find a certificate.
    explicit CertificateKey(const std::string& thumbprint);

    HashObject createHash(const SigningAlgorithm& algorithm) const;
    // Hashes `value`, or takes it as the digest when `readyDigest` is set.
    void putValue(const HashObject& hash, const SigningAlgorithm& algorithm, const Bytes& value,
                  bool readyDigest) const;
    // The signature, most significant byte first.
    Bytes signHash(const HashObject& hash) const;

private:
    // Declared in the reverse of their release: the key-provider information
    // goes first, then the certificate, the store and last the context.
    ProviderContext context_;
    CertificateStore store_;
    CertificateContext certificate_;
    Bytes keyProviderInfo_;
    DWORD keySpec_ = 0;
};
