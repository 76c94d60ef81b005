#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "advapi32TestSupport.h"

#include <cstdlib>
#include <fstream>

namespace advapi32test {

void StandInTest::SetUp()
{
    setenv("SIGBRID_WINROOT", root_.path().c_str(), 1);
    unsetenv("SIGBRID_FAULTS");
}

void StandInTest::TearDown() { unsetenv("SIGBRID_FAULTS"); }

void StandInTest::installProviders(const std::string& lines) const
{
    std::ofstream(root() + "/providers", std::ios::binary) << lines;
}

Context acquire(const char* container, const char* provider, DWORD type, DWORD flags)
{
    Context context;
    SetLastError(ERROR_SUCCESS);
    if (!CryptAcquireContextA(context.out(), container, provider, type, flags))
        *context.out() = 0;
    return context;
}

DWORD lastError() { return GetLastError(); }

Context containerWithKey(const std::string& name, DWORD flags)
{
    Context context = acquire(name.c_str(), MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET);
    Key key;
    if (!context || !CryptGenKey(context.get(), AT_KEYEXCHANGE, flags, key.out()))
        ADD_FAILURE() << "no container with a key: " << std::hex << GetLastError();
    return context;
}

Bytes exportKey(HCRYPTKEY key, DWORD blobType)
{
    DWORD size = 0;
    if (!CryptExportKey(key, 0, blobType, 0, nullptr, &size))
        return{};
    Bytes blob(size);
    if (!CryptExportKey(key, 0, blobType, 0, blob.data(), &size))
        return{};
    blob.resize(size);
    return blob;
}

std::string textParam(HCRYPTPROV context, DWORD param)
{
    DWORD size = 0;
    if (!CryptGetProvParam(context, param, nullptr, &size, 0))
        return "<failed>";
    std::string text(size, '\0');
    if (!CryptGetProvParam(context, param, reinterpret_cast<BYTE*>(text.data()), &size, 0))
        return "<failed>";
    text.resize(size ? size - 1 : 0);
    return text;
}

Pkey generateRsa(int bits) { return Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits))); }

namespace {
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

Bytes drain(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return Bytes(data, data + size);
}
}  // namespace

Bytes msBlob(EVP_PKEY* key, bool withPrivate)
{
    Bio bio(BIO_new(BIO_s_mem()));
    const int written = withPrivate ? i2b_PrivateKey_bio(bio.get(), key) : i2b_PublicKey_bio(bio.get(), key);
    return written > 0 ? drain(bio.get()) : Bytes{};
}

Pkey fromPublicBlob(const Bytes& blob)
{
    const unsigned char* cursor = blob.data();
    return Pkey(b2i_PublicKey(&cursor, static_cast<long>(blob.size())));
}

bool verifies(EVP_PKEY* key, const char* digest, const Bytes& data, const Bytes& signature)
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return EVP_DigestVerifyInit_ex(ctx.get(), nullptr, digest, nullptr, nullptr, key, nullptr) == 1
        && EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
}

Bytes reversed(Bytes bytes) { return Bytes(bytes.rbegin(), bytes.rend()); }

Bytes selfSignedCertificate(EVP_PKEY* key, const std::string& commonName)
{
    std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), X509_free);
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600);
    auto* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_set_pubkey(certificate.get(), key);
    if (X509_sign(certificate.get(), key, EVP_sha256()) <= 0)
        return{};
    unsigned char* der = nullptr;
    const int size = i2d_X509(certificate.get(), &der);
    Bytes out(der, der + (size > 0 ? size : 0));
    OPENSSL_free(der);
    return out;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace advapi32test
