#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "crypt32TestSupport.h"

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace {

EVP_PKEY* sharedKey()
{
    static EVP_PKEY* key = EVP_RSA_gen(1024);
    if (!key)
        throw std::runtime_error("RSA key generation failed");
    return key;
}

} // namespace

MachineFixture::MachineFixture()
{
    setenv("SIGBRID_WINROOT", dir_.path().c_str(), 1);
    unsetenv("SIGBRID_FAULTS");
}

MachineFixture::~MachineFixture()
{
    unsetenv("SIGBRID_WINROOT");
    unsetenv("SIGBRID_FAULTS");
}

Bytes makeCertificate(long serial, const std::string& commonName)
{
    std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), X509_free);
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 365L * 24 * 3600);
    auto* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_set_pubkey(certificate.get(), sharedKey());
    if (X509_sign(certificate.get(), sharedKey(), EVP_sha256()) <= 0)
        throw std::runtime_error("X509_sign failed");
    const int size = i2d_X509(certificate.get(), nullptr);
    Bytes der(static_cast<std::size_t>(size));
    unsigned char* out = der.data();
    i2d_X509(certificate.get(), &out);
    return der;
}

Bytes sha1Of(const Bytes& data)
{
    Bytes digest(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &size, EVP_sha1(), nullptr);
    digest.resize(size);
    return digest;
}

HCERTSTORE openMyStore(DWORD extraFlags)
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER | extraFlags, L"MY");
}
