// The RSA key of a test program and what is made from it: the PRIVATEKEYBLOB
// that CryptoAPI imports, self-signed certificates, the public key in PEM.
#pragma once

#include <string>

// One RSA 2048 key per program, made on first use.
std::string privateKeyBlob();
std::string publicKeyPem();
// A self-signed certificate for the key, DER-encoded.
std::string selfSignedCertificate(long serial, const std::string& commonName);

std::string sha1Hex(const std::string& bytes);
std::string base64(const std::string& bytes);
std::string unbase64(const std::string& text);
// The raw digest of `data` with "sha1", "sha256", ...
std::string digestOf(const std::string& digestName, const std::string& data);
