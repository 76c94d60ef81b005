#include "KeyMaterial.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>

#include "Encoding.h"

namespace {

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

// What a writer put into a memory BIO.
template <typename Write> std::string written(Write write)
{
    Bio bio(BIO_new(BIO_s_mem()), BIO_free);
    if (write(bio.get()) <= 0)
        throw std::runtime_error("OpenSSL could not write the key material");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

} // namespace

Pkey newRsaKey(int bits)
{
    Pkey key(EVP_RSA_gen(bits), EVP_PKEY_free);
    if (!key)
        throw std::runtime_error("RSA key generation failed");
    return key;
}

// One RSA key serves the whole test program; the certificates differ.
EVP_PKEY* suiteKey()
{
    static const Pkey key = newRsaKey(2048);
    return key.get();
}

std::string keyBlob(EVP_PKEY* key, bool withPrivate)
{
    return written([&](BIO* bio) { return withPrivate ? i2b_PrivateKey_bio(bio, key) : i2b_PublicKey_bio(bio, key); });
}

std::string selfSignedCertificate(long serial, const std::string& commonName, EVP_PKEY* subject)
{
    std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), X509_free);
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400L * 30);
    X509_set_pubkey(certificate.get(), subject);
    if (!X509_sign(certificate.get(), suiteKey(), EVP_sha256()))
        throw std::runtime_error("certificate signing failed");
    return written([&](BIO* bio) { return i2d_X509_bio(bio, certificate.get()); });
}

Pkey blobKey(const std::string& blob)
{
    Bio bio(BIO_new_mem_buf(blob.data(), static_cast<int>(blob.size())), BIO_free);
    return Pkey(b2i_PublicKey_bio(bio.get()), EVP_PKEY_free);
}

Pkey certificateKey(const std::string& der)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
    const std::unique_ptr<X509, decltype(&X509_free)> certificate(
        d2i_X509(nullptr, &bytes, static_cast<long>(der.size())), X509_free);
    return Pkey(certificate ? X509_get_pubkey(certificate.get()) : nullptr, EVP_PKEY_free);
}

std::string digestOf(const std::string& digestName, const std::string& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_get_digestbyname(digestName.c_str()), nullptr);
    return std::string(reinterpret_cast<char*>(digest), length);
}

std::string sha1Hex(const std::string& bytes)
{
    const std::string digest = digestOf("sha1", bytes);
    return hexEncode(reinterpret_cast<const unsigned char*>(digest.data()), digest.size());
}

std::string base64(const std::string& bytes)
{
    return base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string unbase64(const std::string& text)
{
    const Bytes bytes = base64Decode(text);
    return std::string(bytes.begin(), bytes.end());
}
