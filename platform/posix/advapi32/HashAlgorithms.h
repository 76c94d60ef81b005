// The hash algorithms of the stand-in's providers, known to CryptoAPI by
// ALG_ID and to CNG by name.
#pragma once

// OpenSSL before <wincrypt.h>, which defines X509_NAME as a macro.
#include <openssl/evp.h>

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <string_view>

namespace standin {

struct HashAlgorithm {
    ALG_ID algId;
    // As CNG names it (BCRYPT_SHA256_ALGORITHM), and OpenSSL too.
    const char* name;
    // DER DigestInfo up to the digest, which PKCS#1 v1.5 signs before it.
    std::string_view digestInfoPrefix;
};

// nullptr for an algorithm that is not offered.
const HashAlgorithm* hashAlgorithm(ALG_ID algId);
const HashAlgorithm* hashAlgorithmNamed(const std::string& name);

// Fetched from OpenSSL's providers once per process: a digest named anew for
// every hash is looked up anew, and a signed list makes a hash per item.
const EVP_MD* digestOf(const HashAlgorithm& algorithm);

}  // namespace standin
