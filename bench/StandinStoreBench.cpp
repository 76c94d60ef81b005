// Prints what one sigbrid run pays in the stand-in's MY store as it grows:
// an installation, and the open + find by thumbprint + key-link read that
// signing does, for stores of 10 to 1000 certificates.
#include <chrono>
#include <cstdio>
#include <string>

#include "StandInSupport.h"

using namespace standin;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void install(const Bytes& der)
{
    CertificateStore store(openMyStore());
    CertificateContext created(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    PCCERT_CONTEXT stored = nullptr;
    CertAddCertificateContextToStore(store.get(), created.get(), CERT_STORE_ADD_ALWAYS, &stored);
    CertificateContext owned(stored);
    CRYPT_KEY_PROV_INFO info {};
    info.pwszContainerName = const_cast<LPWSTR>(L"bench");
    info.pwszProvName = const_cast<LPWSTR>(L"Microsoft Enhanced RSA and AES Cryptographic Provider");
    info.dwProvType = 24;
    info.dwKeySpec = 1;
    CertSetCertificateContextProperty(owned.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
}

bool findAndReadKeyLink(const Bytes& hash)
{
    CertificateStore store(openMyStore());
    CRYPT_HASH_BLOB blob { static_cast<DWORD>(hash.size()), const_cast<BYTE*>(hash.data()) };
    CertificateContext found(CertFindCertificateInStore(
        store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_HASH, &blob, nullptr));
    DWORD size = 0;
    return found.get() && CertGetCertificateContextProperty(found.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
}

} // namespace

int main()
{
    Machine machine;
    std::printf("%12s %16s %22s\n", "certificates", "install ms/each", "open+find+read ms");
    std::size_t installed = 0;
    Bytes oldest;
    for (const std::size_t target : { 10u, 100u, 1000u }) {
        double installMs = 0;
        const std::size_t added = target - installed;
        for (; installed < target; ++installed) {
            const Bytes der = makeCertificate(static_cast<long>(100000 + installed));
            if (oldest.empty())
                oldest = der;
            const auto start = Clock::now();
            install(der);
            installMs += millisecondsSince(start);
        }
        // The oldest certificate is listed last: the search passes every entry.
        const std::string digest = digestOf("sha1", std::string(oldest.begin(), oldest.end()));
        const Bytes hash(digest.begin(), digest.end());
        constexpr int kRounds = 5;
        const auto start = Clock::now();
        bool found = true;
        for (int round = 0; round < kRounds; ++round)
            found = findAndReadKeyLink(hash) && found;
        std::printf("%12zu %16.2f %22.2f%s\n", target, installMs / static_cast<double>(added),
            millisecondsSince(start) / kRounds, found ? "" : "  (not found!)");
    }
    return 0;
}
