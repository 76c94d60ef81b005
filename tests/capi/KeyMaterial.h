// The RSA keys of a test program and what is made from them: the blobs that
// CryptoAPI imports and exports, self-signed certificates.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>

using Pkey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Pkey newRsaKey(int bits);
// One RSA 2048 key per program, made on first use: key generation is the slow
// part of the tests.
EVP_PKEY* suiteKey();
// A PRIVATEKEYBLOB, as CryptImportKey takes it, or a PUBLICKEYBLOB.
std::string keyBlob(EVP_PKEY* key = suiteKey(), bool withPrivate = true);
// A certificate that the suite's key issues for `subject`, DER-encoded: for
// itself by default, self-signed.
std::string selfSignedCertificate(long serial, const std::string& commonName, EVP_PKEY* subject = suiteKey());
// The key of a PUBLICKEYBLOB, as CryptExportKey gives it, or of a
// DER-encoded certificate.
Pkey blobKey(const std::string& blob);
Pkey certificateKey(const std::string& der);

std::string sha1Hex(const std::string& bytes);
std::string base64(const std::string& bytes);
std::string unbase64(const std::string& text);
// The raw digest of `data` with "sha1", "sha256", ...
std::string digestOf(const std::string& digestName, const std::string& data);
