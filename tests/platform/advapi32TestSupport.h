// What the advapi32 tests share: a private emulated machine per test, owners
// for contexts, keys and hashes, and OpenSSL as the independent judge of keys
// and signatures.
#pragma once

#include <openssl/evp.h>

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "TempDir.h"

namespace advapi32test {

using Bytes = std::vector<unsigned char>;

// Every test gets its own machine directory and a clear fault switch.
class StandInTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    const std::string& root() const { return root_.path(); }
    // Writes the machine's provider list, one "<type> <name>" a line.
    void installProviders(const std::string& lines) const;

private:
    TempDir root_;
};

template <typename Handle, BOOL (*Release)(Handle)> class Owned {
public:
    Owned() = default;
    explicit Owned(Handle handle)
        : handle_(handle)
    {
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept
        : handle_(std::exchange(other.handle_, Handle {}))
    {
    }
    Owned& operator=(Owned&& other) noexcept
    {
        reset();
        handle_ = std::exchange(other.handle_, Handle {});
        return *this;
    }
    ~Owned() { reset(); }
    void reset()
    {
        if (handle_)
            Release(std::exchange(handle_, Handle {}));
    }
    Handle get() const { return handle_; }
    Handle* out() { return &handle_; }
    explicit operator bool() const { return handle_ != Handle {}; }

private:
    Handle handle_ {};
};

inline BOOL releaseContext(HCRYPTPROV handle) { return CryptReleaseContext(handle, 0); }
using Context = Owned<HCRYPTPROV, releaseContext>;
using Key = Owned<HCRYPTKEY, CryptDestroyKey>;
using Hash = Owned<HCRYPTHASH, CryptDestroyHash>;

// CryptAcquireContextA; an empty context and the last error on failure.
Context acquire(const char* container, const char* provider, DWORD type, DWORD flags);
DWORD lastError();

// A new container in the AES provider with an AT_KEYEXCHANGE key.
Context containerWithKey(const std::string& name, DWORD flags = (1024u << 16) | CRYPT_EXPORTABLE);

Bytes exportKey(HCRYPTKEY key, DWORD blobType);
std::string textParam(HCRYPTPROV context, DWORD param);

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

Pkey generateRsa(int bits);
// The key as a CryptoAPI blob, written by OpenSSL's own MSBLOB encoder.
Bytes msBlob(EVP_PKEY* key, bool withPrivate);
// OpenSSL's reading of a CryptoAPI public key blob.
Pkey fromPublicBlob(const Bytes& blob);
// OpenSSL's verdict on a PKCS#1 v1.5 signature (most significant byte first).
bool verifies(EVP_PKEY* key, const char* digest, const Bytes& data, const Bytes& signature);
Bytes reversed(Bytes bytes);
// A self-signed DER certificate for `key`.
Bytes selfSignedCertificate(EVP_PKEY* key, const std::string& commonName);

Bytes bytesOf(const std::string& text);

}  // namespace advapi32test
