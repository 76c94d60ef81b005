#include <openssl/evp.h>

#include "crypt32/Thumbprint.h"

#include "crypt32/CryptFailure.h"

namespace standin {
namespace {

Bytes digest(const EVP_MD* md, const Bytes& encoded)
{
    Bytes value(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (EVP_Digest(encoded.data(), encoded.size(), value.data(), &size, md, nullptr) != 1)
        failWith(NTE_FAIL);
    value.resize(size);
    return value;
}

} // namespace

Bytes sha1Thumbprint(const Bytes& encoded) { return digest(EVP_sha1(), encoded); }

} // namespace standin
