// Signing rate of the stand-in against OpenSSL's own RSA-2048 signing on the
// same key: prints both rates and their ratio. A benchmark, not a test. Rates
// are per second of this process's CPU time, as `openssl speed` counts them,
// so that other load on the machine does not skew the comparison.
#include "StandInSupport.h"

#include <openssl/rsa.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace standin;

namespace {

constexpr int kSignatures = 1000;

double perSecond(std::clock_t start)
{
    return kSignatures / (static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
}

}  // namespace

int main()
{
    TempDir root;
    setenv("SIGBRID_WINROOT", root.path().c_str(), 1);
    const Pkey key = newRsaKey(2048);
    Bytes digest(32, 0x42);

    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                                    EVP_PKEY_CTX_free);
    EVP_PKEY_sign_init(ctx.get());
    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256());
    Bytes signature(256);
    std::clock_t start = std::clock();
    for (int i = 0; i < kSignatures; ++i) {
        size_t size = signature.size();
        EVP_PKEY_sign(ctx.get(), signature.data(), &size, digest.data(), digest.size());
    }
    const double openssl = perSecond(start);

    HCRYPTPROV context = 0;
    HCRYPTKEY imported = 0;
    const std::string blob = keyBlob(key.get());
    if (!CryptAcquireContextA(&context, "bench", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET)
        || !CryptImportKey(context, reinterpret_cast<const BYTE*>(blob.data()), static_cast<DWORD>(blob.size()), 0, 0,
                           &imported)) {
        std::printf("setup failed: 0x%08x\n", static_cast<unsigned>(GetLastError()));
        return 1;
    }
    CryptDestroyKey(imported);
    CryptReleaseContext(context, 0);
    // As a signing list runs it: one context, one hash per digest.
    start = std::clock();
    CryptAcquireContextA(&context, "bench", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0);
    for (int i = 0; i < kSignatures; ++i) {
        HCRYPTHASH hash = 0;
        DWORD size = 0;
        CryptCreateHash(context, CALG_SHA_256, 0, 0, &hash);
        CryptSetHashParam(hash, HP_HASHVAL, digest.data(), 0);
        CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &size);
        CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, signature.data(), &size);
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(context, 0);
    const double standIn = perSecond(start);

    std::printf("RSA-2048 PKCS#1 v1.5 signatures of 32-byte digests, %d each:\n", kSignatures);
    std::printf("  OpenSSL EVP_PKEY_sign   %8.1f /s\n", openssl);
    std::printf("  CryptSignHashA stand-in %8.1f /s  (%.0f%% of OpenSSL)\n", standIn, 100.0 * standIn / openssl);
    return 0;
}
