#include "Digest.h"

DigestStream::DigestStream(DWORD providerType, ALG_ID algorithm)
{
    HCRYPTPROV rawContext = 0;
    HCRYPTHASH rawHash = 0;
    failed_ = !CryptAcquireContextA(&rawContext, nullptr, nullptr, providerType, CRYPT_VERIFYCONTEXT);
    context_.reset(rawContext);
    failed_ = failed_ || !CryptCreateHash(context_.get(), algorithm, 0, 0, &rawHash);
    hash_.reset(rawHash);
}

bool DigestStream::add(const unsigned char* data, DWORD length)
{
    failed_ = failed_ || !CryptHashData(hash_.get(), data, length, 0);
    return !failed_;
}

bool DigestStream::finish(Bytes& digest)
{
    digest.clear();
    DWORD size = 0;
    DWORD sizeLength = sizeof size;
    if (failed_ || !CryptGetHashParam(hash_.get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &sizeLength, 0))
        return false;
    Bytes value(size);
    DWORD valueLength = size;
    if (!CryptGetHashParam(hash_.get(), HP_HASHVAL, value.data(), &valueLength, 0))
        return false;
    value.resize(valueLength < size ? valueLength : size);
    digest = std::move(value);
    return true;
}

bool computeDigest(DWORD providerType, ALG_ID algorithm, const unsigned char* data, DWORD length, Bytes& digest)
{
    DigestStream stream(providerType, algorithm);
    return stream.add(data, length) && stream.finish(digest);
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
