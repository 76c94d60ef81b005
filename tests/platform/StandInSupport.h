// What the stand-in's tests and benchmarks share: a private emulated machine,
// the product's owners for the handles of advapi32 and crypt32, and the
// CryptoAPI tests' keys and certificates.
#pragma once

#include <sys/stat.h>

#include <windows.h>
#include <wincrypt.h>

#include <chrono>
#include <cstdlib>
#include <functional>
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

// CryptAcquireContextA and CryptImportKey; empty, with the last error, on failure.
ProviderContext acquire(const char* container, const char* provider, DWORD type, DWORD flags);
KeyObject importKey(HCRYPTPROV context, const std::string& blob, DWORD flags);

// A self-signed certificate, distinct for each serial.
Bytes makeCertificate(long serial, const std::string& commonName = "Test Certificate");

HCERTSTORE openMyStore();
// A file's permission bits; 0 when it is missing.
mode_t modeOf(const std::string& path);

// Runs `write` over and over in a child process, kills the child `after` its
// first write has ended, and checks that the kill is what ended it.
void killWhileWriting(const std::function<void()>& write, std::chrono::milliseconds after);

} // namespace standin
