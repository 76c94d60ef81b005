// advapi32 on Linux: hash objects and signing with a container's key.
#include "advapi32/CryptObjects.h"  // first: it orders OpenSSL before <wincrypt.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "machine/FaultSwitch.h"

namespace {

using standin::fail;
using namespace std::string_view_literals;

struct HashAlgorithm {
    ALG_ID algId;
    const char* name;
    // DER DigestInfo up to the digest, which PKCS#1 v1.5 signs before it.
    std::string_view digestInfoPrefix;
};

const HashAlgorithm kHashAlgorithms[] = {
    {CALG_MD5, "MD5", "\x30\x20\x30\x0c\x06\x08\x2a\x86\x48\x86\xf7\x0d\x02\x05\x05\x00\x04\x10"sv},
    {CALG_SHA1, "SHA1", "\x30\x21\x30\x09\x06\x05\x2b\x0e\x03\x02\x1a\x05\x00\x04\x14"sv},
    {CALG_SHA_256, "SHA256", "\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20"sv},
    {CALG_SHA_384, "SHA384", "\x30\x41\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x02\x05\x00\x04\x30"sv},
    {CALG_SHA_512, "SHA512", "\x30\x51\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x03\x05\x00\x04\x40"sv},
};

const HashAlgorithm* hashAlgorithm(ALG_ID algId)
{
    for (const auto& algorithm : kHashAlgorithms)
        if (algorithm.algId == algId)
            return &algorithm;
    return nullptr;
}

struct EvpMdFree {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};

// Each algorithm's digest, fetched from OpenSSL's providers once per process:
// a digest named anew for every hash is looked up anew, and a signed list
// makes a hash per item.
const EVP_MD* digestOf(const HashAlgorithm& algorithm)
{
    static const auto digests = [] {
        std::array<std::unique_ptr<EVP_MD, EvpMdFree>, std::size(kHashAlgorithms)> fetched;
        for (std::size_t i = 0; i < fetched.size(); ++i)
            fetched[i].reset(EVP_MD_fetch(nullptr, kHashAlgorithms[i].name, nullptr));
        return fetched;
    }();
    return digests[static_cast<std::size_t>(&algorithm - kHashAlgorithms)].get();
}

bool finish(standin::HashObject& hash)
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

BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash)
{
    if (standin::injectFault("CryptCreateHash"))
        return FALSE;
    auto context = standin::findContext(hProv);
    if (!context)
        return fail(NTE_BAD_UID);
    // Only keyed hashes (HMAC, MAC) use hKey, and none is offered here.
    (void)hKey;
    if (dwFlags != 0)
        return fail(NTE_BAD_FLAGS);
    if (!phHash)
        return fail(ERROR_INVALID_PARAMETER);
    const HashAlgorithm* algorithm = hashAlgorithm(Algid);
    const EVP_MD* md = algorithm ? digestOf(*algorithm) : nullptr;
    if (!md)
        return fail(NTE_BAD_ALGID);
    auto hash = std::make_unique<standin::HashObject>();
    hash->context = std::move(context);
    hash->algId = Algid;
    hash->ctx.reset(EVP_MD_CTX_new());
    hash->size = static_cast<DWORD>(EVP_MD_get_size(md));
    if (!hash->ctx || EVP_DigestInit_ex(hash->ctx.get(), md, nullptr) != 1)
        return fail(NTE_NO_MEMORY);
    *phHash = standin::hashHandles().add(std::move(hash));
    return TRUE;
}

BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags)
{
    if (standin::injectFault("CryptHashData"))
        return FALSE;
    auto* hash = standin::hashHandles().find(hHash);
    if (!hash)
        return fail(NTE_BAD_HASH);
    if (dwFlags != 0)
        return fail(NTE_BAD_FLAGS);
    if (hash->finished)
        return fail(NTE_BAD_HASH_STATE);
    if (dwDataLen > 0 && !pbData)
        return fail(ERROR_INVALID_PARAMETER);
    if (dwDataLen > 0 && EVP_DigestUpdate(hash->ctx.get(), pbData, dwDataLen) != 1)
        return fail(NTE_FAIL);
    return TRUE;
}

BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags)
{
    if (standin::injectFault("CryptGetHashParam"))
        return FALSE;
    auto* hash = standin::hashHandles().find(hHash);
    if (!hash)
        return fail(NTE_BAD_HASH);
    if (dwFlags != 0)
        return fail(NTE_BAD_FLAGS);
    switch (dwParam) {
    case HP_HASHSIZE:
        return standin::copyOut(&hash->size, sizeof hash->size, pbData, pdwDataLen);
    case HP_HASHVAL:
        // Reading the value closes the hash to further data, as on Windows.
        if (pbData && !finish(*hash))
            return fail(NTE_FAIL);
        return standin::copyOut(hash->value, hash->size, pbData, pdwDataLen);
    default:
        return fail(NTE_BAD_TYPE);
    }
}

BOOL WINAPI CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags)
{
    if (standin::injectFault("CryptSetHashParam"))
        return FALSE;
    auto* hash = standin::hashHandles().find(hHash);
    if (!hash)
        return fail(NTE_BAD_HASH);
    if (dwFlags != 0)
        return fail(NTE_BAD_FLAGS);
    if (dwParam != HP_HASHVAL)
        return fail(NTE_BAD_TYPE);
    if (!pbData)
        return fail(ERROR_INVALID_PARAMETER);
    // Windows takes exactly the digest length from the caller's buffer.
    std::memcpy(hash->value, pbData, hash->size);
    hash->finished = true;
    return TRUE;
}

BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash)
{
    if (standin::injectFault("CryptDestroyHash"))
        return FALSE;
    return standin::hashHandles().remove(hHash) ? TRUE : fail(NTE_BAD_HASH);
}

BOOL WINAPI CryptSignHashA(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR szDescription, DWORD dwFlags, BYTE* pbSignature,
                           DWORD* pdwSigLen)
{
    (void)szDescription;  // Ignored by Windows since NT 4.
    if (standin::injectFault("CryptSignHashA"))
        return FALSE;
    auto* hash = standin::hashHandles().find(hHash);
    if (!hash)
        return fail(NTE_BAD_HASH);
    if (dwFlags != 0)
        return fail(NTE_BAD_FLAGS);
    if (dwKeySpec != AT_KEYEXCHANGE && dwKeySpec != AT_SIGNATURE)
        return fail(NTE_BAD_ALGID);
    if (!pdwSigLen)
        return fail(ERROR_INVALID_PARAMETER);
    DWORD error = ERROR_SUCCESS;
    const auto key = hash->context->container->key(dwKeySpec, error);
    if (!key)
        return fail(error);
    if (!pbSignature) {
        *pdwSigLen = key->size();
        return TRUE;
    }
    if (*pdwSigLen < key->size()) {
        *pdwSigLen = key->size();
        return fail(ERROR_MORE_DATA);
    }
    if (!finish(*hash))
        return fail(NTE_FAIL);

    std::string input(hashAlgorithm(hash->algId)->digestInfoPrefix);
    input.append(reinterpret_cast<const char*>(hash->value), hash->size);
    std::string signature;
    if (!key->sign(reinterpret_cast<const unsigned char*>(input.data()), input.size(), signature))
        return fail(NTE_FAIL);
    // CryptoAPI writes signatures least significant byte first.
    std::reverse_copy(signature.begin(), signature.end(), pbSignature);
    *pdwSigLen = static_cast<DWORD>(signature.size());
    return TRUE;
}
