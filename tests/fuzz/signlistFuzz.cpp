// capi crypt signList with any list: the base64 of the fuzzer's bytes goes
// through the decoding, the parse and the item checks to the signing, with a
// key and certificate in place; the answer is one envelope of one member.
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>

#include "Encoding.h"
#include "FuzzMachine.h"

namespace {

const std::string kProvider = "Microsoft Enhanced RSA and AES Cryptographic Provider";
const std::string kContainer = "fuzz";
std::string thumbprint;

// Any certificate serves: the container's key signs, found through the
// certificate's key-provider information.
Bytes someCertificate()
{
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_RSA_gen(1024), EVP_PKEY_free);
    const std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), X509_free);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate.get()), "CN", MBSTRING_ASC,
        reinterpret_cast<const unsigned char*>("fuzz"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), X509_get_subject_name(certificate.get()));
    X509_set_pubkey(certificate.get(), key.get());
    X509_sign(certificate.get(), key.get(), EVP_sha256());
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate.get(), &der);
    Bytes bytes(der, der + length);
    OPENSSL_free(der);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    useFreshMachine();
    answer({ "capi", "repo", "createKeyPair", kProvider, "24", kContainer, "false", "false", "1024", "-", "fuzz",
        "false" });
    const Bytes der = someCertificate();
    if (!answer({ "capi", "repo", "importCertificate", kProvider, "24", kContainer, base64Encode(der) })
             .contains("success"))
        std::abort();
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(der.data(), der.size(), digest);
    thumbprint = hexEncode(digest, sizeof digest);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    answer({ "capi", "crypt", "signList", thumbprint, "sha256", base64Encode(data, size) });
    return 0;
}
