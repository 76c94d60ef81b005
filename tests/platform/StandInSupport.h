// What the stand-in's tests and benchmarks share: a private emulated machine,
// owners for the handles of advapi32 and crypt32, and the CryptoAPI tests' keys
// and certificates.
#pragma once

#include <sys/stat.h>

#include <windows.h>
#include <wincrypt.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "KeyMaterial.h"
#include "TempDir.h"

namespace standin {

using Bytes = std::vector<unsigned char>;

// Points SIGBRID_WINROOT at a fresh directory and clears the fault switch.
class Machine {
public:
    Machine();
    ~Machine();
    const std::string& root() const { return dir_.path(); }
    // Writes the machine's provider list, one "<type> <name>" a line.
    void installProviders(const std::string& lines) const;

private:
    TempDir dir_;
};

// Owns one handle; it moves, and declaring the move leaves it without copies.
template <typename Handle, BOOL (*Release)(Handle)> class Owned {
public:
    Owned() = default;
    explicit Owned(Handle handle)
        : handle_(handle)
    {
    }
    Owned(Owned&& other) noexcept
        : handle_(std::exchange(other.handle_, Handle {}))
    {
    }
    ~Owned() { reset(); }
    void reset()
    {
        if (handle_)
            Release(std::exchange(handle_, Handle {}));
    }
    Handle get() const { return handle_; }
    // For calls that write a new handle; the one held before is released.
    Handle* out()
    {
        reset();
        return &handle_;
    }
    explicit operator bool() const { return handle_ != Handle {}; }

private:
    Handle handle_ {};
};

inline BOOL releaseContext(HCRYPTPROV handle) { return CryptReleaseContext(handle, 0); }
inline BOOL forceClose(HCERTSTORE handle) { return CertCloseStore(handle, CERT_CLOSE_STORE_FORCE_FLAG); }
using Context = Owned<HCRYPTPROV, releaseContext>;
using Key = Owned<HCRYPTKEY, CryptDestroyKey>;
using Store = Owned<HCERTSTORE, forceClose>;
using Certificate = Owned<PCCERT_CONTEXT, CertFreeCertificateContext>;

// CryptAcquireContextA and CryptImportKey; empty, with the last error, on failure.
Context acquire(const char* container, const char* provider, DWORD type, DWORD flags);
Key importKey(HCRYPTPROV context, const std::string& blob, DWORD flags);

// A self-signed certificate, distinct for each serial.
Bytes makeCertificate(long serial, const std::string& commonName = "Test Certificate");

HCERTSTORE openMyStore();
// A file's permission bits; 0 when it is missing.
mode_t modeOf(const std::string& path);

// Runs `write` over and over in a child process, kills the child `after` its
// first write has ended, and checks that the kill is what ended it.
void killWhileWriting(const std::function<void()>& write, std::chrono::milliseconds after);

} // namespace standin
