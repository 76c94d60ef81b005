#include "crypt32/DecodedCertificate.h"

#include "crypt32/CryptFailure.h"

namespace standin {

DecodedCertificate::DecodedCertificate(Bytes encoded)
    : encoded_(std::move(encoded))
{
    const der::Element certificate = der::readWhole(encoded_.data(), encoded_.size(), der::kSequence);
    der::Reader parts(certificate);
    const der::Element toBeSigned = parts.read(der::kSequence);
    der::Reader fields(toBeSigned);

    info_.dwVersion = CERT_V1;
    if (fields.nextIs(der::kContext0)) {
        der::Reader version(fields.read(der::kContext0));
        info_.dwVersion = der::decodeSmallInteger(version.read(der::kInteger));
    }
    serial_ = der::integerLittleEndian(fields.read(der::kInteger));
    info_.SerialNumber = CRYPT_INTEGER_BLOB { static_cast<DWORD>(serial_.size()), serial_.data() };
    readAlgorithm(fields.read(der::kSequence), info_.SignatureAlgorithm);
    const der::Element issuer = fields.read(der::kSequence);
    info_.Issuer = blob(issuer.begin, issuer.size);
    der::Reader validity(fields.read(der::kSequence));
    info_.NotBefore = der::decodeTime(validity.readAny());
    info_.NotAfter = der::decodeTime(validity.readAny());
    const der::Element subject = fields.read(der::kSequence);
    info_.Subject = blob(subject.begin, subject.size);
    der::Reader publicKey(fields.read(der::kSequence));
    readAlgorithm(publicKey.read(der::kSequence), info_.SubjectPublicKeyInfo.Algorithm);
    readBitString(publicKey.read(der::kBitString), info_.SubjectPublicKeyInfo.PublicKey);
    if (fields.nextIs(der::kContext1))
        readBitString(fields.read(der::kContext1), info_.IssuerUniqueId);
    if (fields.nextIs(der::kContext2))
        readBitString(fields.read(der::kContext2), info_.SubjectUniqueId);
    if (fields.nextIs(der::kContext3))
        readExtensions(fields.read(der::kContext3));
    if (!fields.atEnd())
        failWith(CRYPT_E_ASN1_CORRUPT);

    // The outer signature is checked for shape only, as crypt32 does.
    parts.read(der::kSequence);
    parts.read(der::kBitString);
    if (!parts.atEnd())
        failWith(CRYPT_E_ASN1_CORRUPT);
}

LPSTR DecodedCertificate::keep(std::string text)
{
    texts_.push_back(std::move(text));
    return texts_.back().data();
}

CRYPT_OBJID_BLOB DecodedCertificate::blob(const unsigned char* data, std::size_t size)
{
    // `data` lies inside encoded_, which this object owns and never changes.
    return CRYPT_OBJID_BLOB { static_cast<DWORD>(size), size ? const_cast<BYTE*>(data) : nullptr };
}

void DecodedCertificate::readAlgorithm(const der::Element& element, CRYPT_ALGORITHM_IDENTIFIER& algorithm)
{
    der::Reader reader(element);
    algorithm.pszObjId = keep(der::decodeObjectIdentifier(reader.read(der::kObjectIdentifier)));
    if (!reader.atEnd()) {
        const der::Element parameters = reader.readAny();
        algorithm.Parameters = blob(parameters.begin, parameters.size);
    }
    if (!reader.atEnd())
        failWith(CRYPT_E_ASN1_CORRUPT);
}

void DecodedCertificate::readBitString(const der::Element& element, CRYPT_BIT_BLOB& bits)
{
    if (element.contentSize == 0 || element.content[0] > 7)
        failWith(CRYPT_E_ASN1_CORRUPT);
    const CRYPT_OBJID_BLOB data = blob(element.content + 1, element.contentSize - 1);
    bits = CRYPT_BIT_BLOB { data.cbData, data.pbData, element.content[0] };
}

void DecodedCertificate::readExtensions(const der::Element& element)
{
    der::Reader wrapper(element);
    der::Reader list(wrapper.read(der::kSequence));
    while (!list.atEnd()) {
        der::Reader fields(list.read(der::kSequence));
        CERT_EXTENSION extension {};
        extension.pszObjId = keep(der::decodeObjectIdentifier(fields.read(der::kObjectIdentifier)));
        if (fields.nextIs(der::kBoolean)) {
            const der::Element critical = fields.read(der::kBoolean);
            extension.fCritical = critical.contentSize == 1 && critical.content[0] ? TRUE : FALSE;
        }
        const der::Element value = fields.read(der::kOctetString);
        extension.Value = blob(value.content, value.contentSize);
        extensions_.push_back(extension);
    }
    info_.cExtension = static_cast<DWORD>(extensions_.size());
    info_.rgExtension = extensions_.empty() ? nullptr : extensions_.data();
}

} // namespace standin
