#include "KeyMaterial.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <stdexcept>

namespace {

constexpr int kKeyBits = 2048;

// BLOBHEADER and RSAPUBKEY of a PRIVATEKEYBLOB, little-endian.
constexpr unsigned char kPrivateKeyBlob = 0x07;
constexpr unsigned char kCurBlobVersion = 0x02;
constexpr std::uint32_t kCalgRsaKeyx = 0xa400;
constexpr char kRsa2Magic[] = "RSA2";

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct BnFree {
    void operator()(BIGNUM* number) const { BN_free(number); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// One RSA key serves the whole test program; the certificates differ.
EVP_PKEY* suiteKey()
{
    static Pkey key(EVP_RSA_gen(kKeyBits));
    if (!key)
        throw std::runtime_error("RSA key generation failed");
    return key.get();
}

void appendLittleEndian(std::string& out, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);
}

void appendNumber(std::string& out, EVP_PKEY* key, const char* name, int size)
{
    BIGNUM* raw = nullptr;
    if (!EVP_PKEY_get_bn_param(key, name, &raw))
        throw std::runtime_error(std::string("no RSA parameter ") + name);
    std::unique_ptr<BIGNUM, BnFree> number(raw);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    BN_bn2lebinpad(number.get(), reinterpret_cast<unsigned char*>(&bytes[0]), size);
    out += bytes;
}

std::string privateKeyBlobOf(EVP_PKEY* key)
{
    const int length = kKeyBits / 8;
    std::string blob;
    blob += static_cast<char>(kPrivateKeyBlob);
    blob += static_cast<char>(kCurBlobVersion);
    appendLittleEndian(blob, 0, 2);
    appendLittleEndian(blob, kCalgRsaKeyx, 4);
    blob += kRsa2Magic;
    appendLittleEndian(blob, kKeyBits, 4);
    BIGNUM* exponent = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &exponent);
    appendLittleEndian(blob, static_cast<std::uint32_t>(BN_get_word(exponent)), 4);
    BN_free(exponent);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_N, length);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_FACTOR1, length / 2);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_FACTOR2, length / 2);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_EXPONENT1, length / 2);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_EXPONENT2, length / 2);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, length / 2);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_D, length);
    return blob;
}

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

}  // namespace

std::string privateKeyBlob() { return privateKeyBlobOf(suiteKey()); }

// A self-signed certificate for the suite's key, DER-encoded.
std::string selfSignedCertificate(long serial, const std::string& commonName)
{
    std::unique_ptr<X509, X509Free> certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400L * 30);
    X509_set_pubkey(certificate.get(), suiteKey());
    if (!X509_sign(certificate.get(), suiteKey(), EVP_sha256()))
        throw std::runtime_error("certificate signing failed");
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate.get(), &der);
    std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
    OPENSSL_free(der);
    return bytes;
}

std::string sha1Hex(const std::string& bytes)
{
    unsigned char sha1[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), sha1, &length, EVP_sha1(), nullptr);
    return hex(std::string(reinterpret_cast<char*>(sha1), length));
}

std::string publicKeyPem()
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_PUBKEY(bio.get(), suiteKey());
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

std::string base64(const std::string& bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::string unbase64(const std::string& text)
{
    std::string bytes(3 * (text.size() / 4) + 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&bytes[0]),
                                       reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0)
        return "";
    std::size_t size = static_cast<std::size_t>(length);
    for (auto it = text.rbegin(); it != text.rend() && *it == '=' && size > 0; ++it)
        --size;
    bytes.resize(size);
    return bytes;
}

std::string digestOf(const std::string& digestName, const std::string& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_get_digestbyname(digestName.c_str()), nullptr);
    return std::string(reinterpret_cast<char*>(digest), length);
}
