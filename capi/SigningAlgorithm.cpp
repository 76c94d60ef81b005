#include "SigningAlgorithm.h"

#include "CapiMessages.h"

namespace {

constexpr SigningAlgorithm kSha1 = {"sha1", CALG_SHA1, 20, kCreateHashSha1Failed, BCRYPT_SHA1_ALGORITHM};
constexpr SigningAlgorithm kSha512 = {"sha512", CALG_SHA_512, 64, kCreateHashSha512Failed, BCRYPT_SHA512_ALGORITHM};
constexpr SigningAlgorithm kSha256 = {"sha256", CALG_SHA_256, 32, kCreateHashSha256Failed, BCRYPT_SHA256_ALGORITHM};

constexpr const SigningAlgorithm* kNamedAlgorithms[] = {&kSha1, &kSha512};

}  // namespace

const SigningAlgorithm& signingAlgorithm(const std::string& algorithmName)
{
    for (const SigningAlgorithm* algorithm : kNamedAlgorithms)
        if (algorithmName == algorithm->name)
            return *algorithm;
    return kSha256;
}
