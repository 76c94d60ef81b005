// Owners for CryptoAPI handles: each is released exactly once, when its owner
// goes out of scope. Declare them in acquisition order so that release runs
// in reverse (hash before context).
#pragma once

#include <windows.h>
#include <wincrypt.h>

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

using ProviderContext = CryptHandle<HCRYPTPROV, ReleaseContext>;
using HashObject = CryptHandle<HCRYPTHASH, DestroyHash>;
