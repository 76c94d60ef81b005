#include "SigningAlgorithm.h"

#include "CapiMessages.h"

namespace {

constexpr SigningAlgorithm kSha1 = {"sha1", CALG_SHA1, 20, kCreateHashSha1Failed};
constexpr SigningAlgorithm kSha512 = {"sha512", CALG_SHA_512, 64, kCreateHashSha512Failed};
constexpr SigningAlgorithm kSha256 = {"sha256", CALG_SHA_256, 32, kCreateHashSha256Failed};

constexpr const SigningAlgorithm* kNamedAlgorithms[] = {&kSha1, &kSha512};

}  // namespace

const SigningAlgorithm& signingAlgorithm(const std::string& algorithmName)
{
    for (const SigningAlgorithm* algorithm : kNamedAlgorithms)
        if (algorithmName == algorithm->name)
            return *algorithm;
    return kSha256;
}
