#include "crypt32/DecodedCertificate.h"

namespace standin {
namespace {

// The blobs point into the certificate, which this object owns and never
// changes.
CRYPT_OBJID_BLOB blobOf(const unsigned char* data, std::size_t size)
{
    return CRYPT_OBJID_BLOB { static_cast<DWORD>(size), size ? const_cast<BYTE*>(data) : nullptr };
}

CRYPT_BIT_BLOB bitsOf(const ASN1_BIT_STRING* bits)
{
    if (!bits)
        return CRYPT_BIT_BLOB {};
    const CRYPT_OBJID_BLOB data
        = blobOf(ASN1_STRING_get0_data(bits), static_cast<std::size_t>(ASN1_STRING_length(bits)));
    const DWORD unused = (bits->flags & ASN1_STRING_FLAG_BITS_LEFT) ? static_cast<DWORD>(bits->flags & 0x07) : 0;
    return CRYPT_BIT_BLOB { data.cbData, data.pbData, unused };
}

CERT_NAME_BLOB nameOf(const X509_name_st* name)
{
    const unsigned char* der = nullptr;
    std::size_t size = 0;
    orFail(X509_NAME_get0_der(name, &der, &size), CRYPT_E_ASN1_CORRUPT);
    return blobOf(der, size);
}

} // namespace

DecodedCertificate::DecodedCertificate(Bytes encoded)
    : encoded_(std::move(encoded))
    , certificate_(fromDer<X509Certificate>(d2i_X509, encoded_.data(), encoded_.size()))
{
    const X509* x = certificate_.get();

    info_.dwVersion = static_cast<DWORD>(X509_get_version(x));
    serial_ = littleEndian(X509_get0_serialNumber(x));
    info_.SerialNumber = CRYPT_INTEGER_BLOB { static_cast<DWORD>(serial_.size()), serial_.data() };
    readAlgorithm(X509_get0_tbs_sigalg(x), info_.SignatureAlgorithm);
    info_.Issuer = nameOf(X509_get_issuer_name(x));
    info_.NotBefore = fileTime(X509_get0_notBefore(x));
    info_.NotAfter = fileTime(X509_get0_notAfter(x));
    info_.Subject = nameOf(X509_get_subject_name(x));
    X509_ALGOR* keyAlgorithm = nullptr;
    X509_PUBKEY_get0_param(nullptr, nullptr, nullptr, &keyAlgorithm, X509_get_X509_PUBKEY(x));
    readAlgorithm(keyAlgorithm, info_.SubjectPublicKeyInfo.Algorithm);
    info_.SubjectPublicKeyInfo.PublicKey = bitsOf(X509_get0_pubkey_bitstr(x));
    const ASN1_BIT_STRING* issuerId = nullptr;
    const ASN1_BIT_STRING* subjectId = nullptr;
    X509_get0_uids(x, &issuerId, &subjectId);
    info_.IssuerUniqueId = bitsOf(issuerId);
    info_.SubjectUniqueId = bitsOf(subjectId);
    readExtensions();
}

LPSTR DecodedCertificate::keep(std::string text)
{
    texts_.push_back(std::move(text));
    return texts_.back().data();
}

CRYPT_OBJID_BLOB DecodedCertificate::keep(Bytes bytes)
{
    copies_.push_back(std::move(bytes));
    return blobOf(copies_.back().data(), copies_.back().size());
}

void DecodedCertificate::readAlgorithm(const X509_ALGOR* from, CRYPT_ALGORITHM_IDENTIFIER& algorithm)
{
    algorithm.pszObjId = keep(dottedText(from->algorithm));
    if (from->parameter)
        algorithm.Parameters = keep(toDer(i2d_ASN1_TYPE, from->parameter));
}

void DecodedCertificate::readExtensions()
{
    const X509* x = certificate_.get();
    for (int i = 0; i < X509_get_ext_count(x); ++i) {
        X509_EXTENSION* extension = X509_get_ext(x, i);
        const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
        extensions_.push_back(CERT_EXTENSION { keep(dottedText(X509_EXTENSION_get_object(extension))),
            X509_EXTENSION_get_critical(extension) ? TRUE : FALSE,
            blobOf(ASN1_STRING_get0_data(value), static_cast<std::size_t>(ASN1_STRING_length(value))) });
    }
    info_.cExtension = static_cast<DWORD>(extensions_.size());
    info_.rgExtension = extensions_.empty() ? nullptr : extensions_.data();
}

} // namespace standin
