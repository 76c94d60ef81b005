// advapi32 CryptoAPI on Linux, on OpenSSL's libcrypto: provider contexts and
// hash objects.
#include <windows.h>
#include <wincrypt.h>

#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <string>

#include "Handles.h"

namespace {

struct HashAlgorithm {
    ALG_ID algId;
    const char* name;
};

constexpr HashAlgorithm kHashAlgorithms[] = {
    {CALG_MD5, "MD5"},
    {CALG_SHA1, "SHA1"},
    {CALG_SHA_256, "SHA256"},
    {CALG_SHA_384, "SHA384"},
    {CALG_SHA_512, "SHA512"},
};

const EVP_MD* digestFor(ALG_ID algId)
{
    for (const auto& algorithm : kHashAlgorithms)
        if (algorithm.algId == algId)
            return EVP_get_digestbyname(algorithm.name);
    return nullptr;
}

struct Provider {
    DWORD type;
};

struct EvpMdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

struct Hash {
    ALG_ID algId;
    std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree> ctx;
    DWORD size;
    bool finished = false;
    unsigned char value[EVP_MAX_MD_SIZE] = {};
};

standin::HandleTable<Provider> providers(0x10000);
standin::HandleTable<Hash> hashes(0x20000);

BOOL copyOut(const void* value, DWORD size, BYTE* pbData, DWORD* pdwDataLen)
{
    if (!pdwDataLen)
        return standin::fail(ERROR_INVALID_PARAMETER);
    if (!pbData) {
        *pdwDataLen = size;
        return TRUE;
    }
    if (*pdwDataLen < size) {
        *pdwDataLen = size;
        return standin::fail(ERROR_MORE_DATA);
    }
    std::memcpy(pbData, value, size);
    *pdwDataLen = size;
    return TRUE;
}

bool finish(Hash& hash)
{
    if (hash.finished)
        return true;
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(hash.ctx.get(), hash.value, &size) != 1)
        return false;
    hash.finished = true;
    return true;
}

}  // namespace

BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider, DWORD dwProvType,
                                 DWORD dwFlags)
{
    (void)szContainer;
    (void)szProvider;
    if (!phProv)
        return standin::fail(ERROR_INVALID_PARAMETER);
    if (dwFlags != CRYPT_VERIFYCONTEXT)
        return standin::fail(NTE_BAD_FLAGS);
    if (dwProvType != PROV_RSA_AES && dwProvType != PROV_RSA_FULL)
        return standin::fail(NTE_PROV_TYPE_NOT_DEF);
    *phProv = providers.add(std::make_unique<Provider>(Provider{dwProvType}));
    return TRUE;
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags)
{
    if (dwFlags != 0)
        return standin::fail(NTE_BAD_FLAGS);
    return providers.remove(hProv) ? TRUE : standin::fail(NTE_BAD_UID);
}

BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash)
{
    if (!providers.find(hProv))
        return standin::fail(NTE_BAD_UID);
    if (hKey != 0 || dwFlags != 0)
        return standin::fail(NTE_BAD_FLAGS);
    if (!phHash)
        return standin::fail(ERROR_INVALID_PARAMETER);
    const EVP_MD* md = digestFor(Algid);
    if (!md)
        return standin::fail(NTE_BAD_ALGID);
    auto hash = std::make_unique<Hash>();
    hash->algId = Algid;
    hash->ctx.reset(EVP_MD_CTX_new());
    hash->size = static_cast<DWORD>(EVP_MD_get_size(md));
    if (!hash->ctx || EVP_DigestInit_ex(hash->ctx.get(), md, nullptr) != 1)
        return standin::fail(NTE_NO_MEMORY);
    *phHash = hashes.add(std::move(hash));
    return TRUE;
}

BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags)
{
    Hash* hash = hashes.find(hHash);
    if (!hash)
        return standin::fail(NTE_BAD_HASH);
    if (dwFlags != 0)
        return standin::fail(NTE_BAD_FLAGS);
    if (hash->finished)
        return standin::fail(NTE_BAD_HASH_STATE);
    if (dwDataLen > 0 && !pbData)
        return standin::fail(ERROR_INVALID_PARAMETER);
    if (dwDataLen > 0 && EVP_DigestUpdate(hash->ctx.get(), pbData, dwDataLen) != 1)
        return standin::fail(NTE_FAIL);
    return TRUE;
}

BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags)
{
    Hash* hash = hashes.find(hHash);
    if (!hash)
        return standin::fail(NTE_BAD_HASH);
    if (dwFlags != 0)
        return standin::fail(NTE_BAD_FLAGS);
    switch (dwParam) {
    case HP_ALGID:
        return copyOut(&hash->algId, sizeof hash->algId, pbData, pdwDataLen);
    case HP_HASHSIZE:
        return copyOut(&hash->size, sizeof hash->size, pbData, pdwDataLen);
    case HP_HASHVAL:
        // Reading the value closes the hash to further data, as on Windows.
        if (pbData && !finish(*hash))
            return standin::fail(NTE_FAIL);
        return copyOut(hash->value, hash->size, pbData, pdwDataLen);
    default:
        return standin::fail(NTE_BAD_TYPE);
    }
}

BOOL WINAPI CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags)
{
    Hash* hash = hashes.find(hHash);
    if (!hash)
        return standin::fail(NTE_BAD_HASH);
    if (dwFlags != 0)
        return standin::fail(NTE_BAD_FLAGS);
    if (dwParam != HP_HASHVAL)
        return standin::fail(NTE_BAD_TYPE);
    if (!pbData)
        return standin::fail(ERROR_INVALID_PARAMETER);
    // Windows takes exactly the digest length from the caller's buffer.
    std::memcpy(hash->value, pbData, hash->size);
    hash->finished = true;
    return TRUE;
}

BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash)
{
    return hashes.remove(hHash) ? TRUE : standin::fail(NTE_BAD_HASH);
}
