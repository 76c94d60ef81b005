#include "advapi32/HashAlgorithms.h"

#include <array>
#include <iterator>
#include <memory>

namespace standin {
namespace {

using namespace std::string_view_literals;

const HashAlgorithm kHashAlgorithms[] = {
    {CALG_MD5, "MD5", "\x30\x20\x30\x0c\x06\x08\x2a\x86\x48\x86\xf7\x0d\x02\x05\x05\x00\x04\x10"sv},
    {CALG_SHA1, "SHA1", "\x30\x21\x30\x09\x06\x05\x2b\x0e\x03\x02\x1a\x05\x00\x04\x14"sv},
    {CALG_SHA_256, "SHA256", "\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20"sv},
    {CALG_SHA_384, "SHA384", "\x30\x41\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x02\x05\x00\x04\x30"sv},
    {CALG_SHA_512, "SHA512", "\x30\x51\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x03\x05\x00\x04\x40"sv},
};

struct EvpMdFree {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};

}  // namespace

const HashAlgorithm* hashAlgorithm(ALG_ID algId)
{
    for (const auto& algorithm : kHashAlgorithms)
        if (algorithm.algId == algId)
            return &algorithm;
    return nullptr;
}

const HashAlgorithm* hashAlgorithmNamed(const std::string& name)
{
    for (const auto& algorithm : kHashAlgorithms)
        if (name == algorithm.name)
            return &algorithm;
    return nullptr;
}

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

}  // namespace standin
