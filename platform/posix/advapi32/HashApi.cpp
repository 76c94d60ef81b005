// advapi32 on Linux: hash objects and signing with a container's key.
#include "advapi32/CryptObjects.h"  // first: it orders OpenSSL before <wincrypt.h>
#include "advapi32/HashAlgorithms.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "machine/FaultSwitch.h"

namespace {

using standin::fail;
using standin::HashAlgorithm;
using standin::digestOf;
using standin::hashAlgorithm;

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
