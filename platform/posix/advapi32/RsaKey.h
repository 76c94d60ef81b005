// An RSA key of the stand-in's providers on an OpenSSL EVP_PKEY, parsed once
// and kept for the life of the objects that use it, and its CryptoAPI blob
// and file forms.
#pragma once

// OpenSSL before <wincrypt.h>, which defines X509_NAME as a macro.
#include <openssl/evp.h>

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <mutex>
#include <string>

namespace standin {

struct EvpPkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct EvpPkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using EvpPkey = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;
using EvpPkeyCtx = std::unique_ptr<EVP_PKEY_CTX, EvpPkeyCtxFree>;

class RsaKey {
public:
    static constexpr DWORD kDefaultBits = 2048;
    static constexpr DWORD kMinimumBits = 384;
    static constexpr DWORD kMaximumBits = 16384;
    static constexpr DWORD kBitStep = 8;

    RsaKey(EvpPkey key, ALG_ID algId, bool exportable);

    // A new key pair with public exponent 65537; nullptr when OpenSSL fails.
    static std::shared_ptr<RsaKey> generate(DWORD bits, ALG_ID algId, bool exportable);

    // A key pair, not exportable, from a PRIVATEKEYBLOB; nullptr with `error`
    // set (NTE_BAD_DATA, NTE_BAD_VER, NTE_BAD_TYPE, NTE_BAD_ALGID)
    // when the blob is not one.
    static std::shared_ptr<RsaKey> fromBlob(const BYTE* blob, DWORD size, DWORD& error);

    // The key file form: a line "exportable: 0|1", then the PKCS#8 PEM.
    static std::shared_ptr<RsaKey> fromFileText(const std::string& text, ALG_ID algId);
    std::string fileText() const;

    // The PUBLICKEYBLOB, empty when OpenSSL fails.
    std::string publicBlob() const;

    // PKCS#1 v1.5 signature block over `input` (normally a DigestInfo), most
    // significant byte first; false when OpenSSL fails.
    bool sign(const unsigned char* input, std::size_t size, std::string& signature) const;

    DWORD bits() const { return bits_; }
    DWORD size() const { return (bits_ + 7) / 8; }
    ALG_ID algId() const { return algId_; }

private:
    EvpPkey key_;
    ALG_ID algId_;
    bool exportable_;
    DWORD bits_;
    // The signing context is set up on first use and reused for every
    // signature, so that a run of signatures pays the setup once.
    mutable std::mutex signMutex_;
    mutable EvpPkeyCtx signCtx_;
};

}  // namespace standin
