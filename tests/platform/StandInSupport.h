// What the stand-in's tests and benchmarks share: a private emulated machine,
// the product's owners for the handles of advapi32 and crypt32, the CryptoAPI
// tests' keys and certificates, and the user's "MY" store.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "CryptHandles.h"
#include "KeyMaterial.h"
#include "TempDir.h"

namespace standin {

using Bytes = std::vector<unsigned char>;

// A fresh directory that SIGBRID_WINROOT points at.
struct Machine : TempDir {
    Machine() { setenv("SIGBRID_WINROOT", path().c_str(), 1); }
};

// A self-signed certificate, distinct for each serial.
inline Bytes makeCertificate(long serial, const std::string& commonName = "Test Certificate")
{
    const std::string der = selfSignedCertificate(serial, commonName);
    return Bytes(der.begin(), der.end());
}

inline HCERTSTORE openMyStore()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
}

} // namespace standin
