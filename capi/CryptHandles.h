// Owners for CryptoAPI and CNG handles and Windows buffers: each is released exactly
// once, when its owner goes out of scope. Declare them in the reverse of the
// order in which they are to be released (hash before context).
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <ncrypt.h>

#include <utility>

template <typename Handle, typename Release>
class CryptHandle {
public:
    CryptHandle() = default;
    explicit CryptHandle(Handle handle) : handle_(handle) {}
    CryptHandle(const CryptHandle&) = delete;
    CryptHandle& operator=(const CryptHandle&) = delete;
    CryptHandle(CryptHandle&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
    CryptHandle& operator=(CryptHandle&& other) noexcept
    {
        reset(std::exchange(other.handle_, Handle{}));
        return *this;
    }
    ~CryptHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }

    // Hands the handle over to a call that releases it.
    Handle release() { return std::exchange(handle_, Handle{}); }

    void reset(Handle handle = Handle{})
    {
        if (handle_ != Handle{})
            Release{}(handle_);
        handle_ = handle;
    }

private:
    Handle handle_{};
};

struct ReleaseContext {
    void operator()(HCRYPTPROV handle) const { CryptReleaseContext(handle, 0); }
};
struct DestroyHash {
    void operator()(HCRYPTHASH handle) const { CryptDestroyHash(handle); }
};

struct DestroyKey {
    void operator()(HCRYPTKEY handle) const { CryptDestroyKey(handle); }
};
// Forced: the store closes even when a certificate context is still open.
struct CloseStore {
    void operator()(HCERTSTORE handle) const { CertCloseStore(handle, CERT_CLOSE_STORE_FORCE_FLAG); }
};
struct FreeCertificate {
    void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
struct FreeLocal {
    void operator()(HLOCAL memory) const { LocalFree(memory); }
};

// Key storage providers and their keys alike; a key goes before its provider.
struct FreeNCryptObject {
    void operator()(NCRYPT_HANDLE handle) const { NCryptFreeObject(handle); }
};
struct FreeNCryptBuffer {
    void operator()(PVOID buffer) const { NCryptFreeBuffer(buffer); }
};

using ProviderContext = CryptHandle<HCRYPTPROV, ReleaseContext>;
using HashObject = CryptHandle<HCRYPTHASH, DestroyHash>;
using KeyObject = CryptHandle<HCRYPTKEY, DestroyKey>;
using CertificateStore = CryptHandle<HCERTSTORE, CloseStore>;
using CertificateContext = CryptHandle<PCCERT_CONTEXT, FreeCertificate>;
using LocalBuffer = CryptHandle<HLOCAL, FreeLocal>;
using KeyStorageProvider = CryptHandle<NCRYPT_PROV_HANDLE, FreeNCryptObject>;
using PersistedKey = CryptHandle<NCRYPT_KEY_HANDLE, FreeNCryptObject>;
using CngBuffer = CryptHandle<PVOID, FreeNCryptBuffer>;
