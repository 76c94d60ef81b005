#include "Digest.h"

#include "CryptHandles.h"

bool computeDigest(DWORD providerType, ALG_ID algorithm, const unsigned char* data, DWORD length, Bytes& digest)
{
    digest.clear();
    HCRYPTPROV rawContext = 0;
    if (!CryptAcquireContextA(&rawContext, nullptr, nullptr, providerType, CRYPT_VERIFYCONTEXT))
        return false;
    ProviderContext context(rawContext);

    HCRYPTHASH rawHash = 0;
    if (!CryptCreateHash(context.get(), algorithm, 0, 0, &rawHash))
        return false;
    HashObject hash(rawHash);

    if (!CryptHashData(hash.get(), data, length, 0))
        return false;
    DWORD size = 0;
    DWORD sizeLength = sizeof size;
    if (!CryptGetHashParam(hash.get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &sizeLength, 0))
        return false;
    Bytes value(size);
    DWORD valueLength = size;
    if (!CryptGetHashParam(hash.get(), HP_HASHVAL, value.data(), &valueLength, 0))
        return false;
    value.resize(valueLength < size ? valueLength : size);
    digest = std::move(value);
    return true;
}

bool digestSha1(const unsigned char* data, DWORD length, Bytes& digest)
{
    return computeDigest(PROV_RSA_AES, CALG_SHA1, data, length, digest);
}

bool digestSha256(const unsigned char* data, DWORD length, Bytes& digest)
{
    return computeDigest(PROV_RSA_AES, CALG_SHA_256, data, length, digest);
}

bool digestSha512(const unsigned char* data, DWORD length, Bytes& digest)
{
    return computeDigest(PROV_RSA_AES, CALG_SHA_512, data, length, digest);
}
