// crypt32 encoding: X.509 names with crypt32's character checks, public key
// information, and the to-be-signed parts of certificates and requests.
#include <wincrypt.h>
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "machine/FaultSwitch.h"
#include "crypt32/Encoding.h"
#include "crypt32/CryptFailure.h"

namespace {

using standin::Bytes;
namespace der = standin::der;

bool anyByte(unsigned char) { return true; }
bool numericByte(unsigned char c) { return (c >= '0' && c <= '9') || c == ' '; }
bool ia5Byte(unsigned char c) { return c < 0x80; }
bool printableByte(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
        || std::strchr(" '()+,-./:=?", c) != nullptr;
}

// How an 8-bit attribute value of each type is written, and what it may hold.
struct ValueType {
    DWORD type;
    unsigned char tag;
    bool (*allowed)(unsigned char);
    DWORD refusal;
};

constexpr ValueType kValueTypes[] = {
    { CERT_RDN_OCTET_STRING, der::kOctetString, anyByte, 0 },
    { CERT_RDN_NUMERIC_STRING, der::kNumericString, numericByte, static_cast<DWORD>(CRYPT_E_INVALID_NUMERIC_STRING) },
    { CERT_RDN_PRINTABLE_STRING, der::kPrintableString, printableByte,
        static_cast<DWORD>(CRYPT_E_INVALID_PRINTABLE_STRING) },
    { CERT_RDN_TELETEX_STRING, der::kTeletexString, anyByte, 0 },
    { CERT_RDN_IA5_STRING, der::kIa5String, ia5Byte, static_cast<DWORD>(CRYPT_E_INVALID_IA5_STRING) },
    { CERT_RDN_VISIBLE_STRING, der::kVisibleString, anyByte, 0 },
};

// Where a refused character sits, in crypt32's error-index layout.
DWORD errorIndex(DWORD rdn, DWORD attribute, DWORD value)
{
    return ((rdn & CERT_UNICODE_RDN_ERR_INDEX_MASK) << CERT_UNICODE_RDN_ERR_INDEX_SHIFT)
        | ((attribute & CERT_UNICODE_ATTR_ERR_INDEX_MASK) << CERT_UNICODE_ATTR_ERR_INDEX_SHIFT)
        | ((value & CERT_UNICODE_VALUE_ERR_INDEX_MASK) << CERT_UNICODE_VALUE_ERR_INDEX_SHIFT);
}

// Thrown by the name encoder so that CryptEncodeObject can report the index.
struct RefusedCharacter {
    DWORD code;
    DWORD index;
};

void appendUtf8(Bytes& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<unsigned char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<unsigned char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<unsigned char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<unsigned char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<unsigned char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<unsigned char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<unsigned char>(0x80 | (c & 0x3F)));
    }
}

Bytes encodeValue(const CERT_RDN_ATTR& attribute, DWORD rdn, DWORD index)
{
    const CERT_RDN_VALUE_BLOB& value = attribute.Value;
    if (value.cbData && !value.pbData)
        standin::failWith(E_INVALIDARG);
    const DWORD type = attribute.dwValueType & CERT_RDN_TYPE_MASK;
    if (type == CERT_RDN_ENCODED_BLOB)
        return Bytes(value.pbData, value.pbData + value.cbData);
    if (type == CERT_RDN_UTF8_STRING) {
        // As in crypt32, the value of a UTF-8 attribute is given as WCHARs.
        Bytes text;
        const auto* characters = reinterpret_cast<const WCHAR*>(value.pbData);
        for (DWORD i = 0; i < value.cbData / sizeof(WCHAR) && characters[i]; ++i)
            appendUtf8(text, static_cast<char32_t>(characters[i]));
        return der::encode(der::kUtf8String, text);
    }
    const auto* row = std::find_if(std::begin(kValueTypes), std::end(kValueTypes),
        [type](const ValueType& candidate) { return candidate.type == type; });
    if (row == std::end(kValueTypes))
        standin::failWith(CRYPT_E_NOT_CHAR_STRING);
    for (DWORD i = 0; i < value.cbData; ++i)
        if (!row->allowed(value.pbData[i]))
            throw RefusedCharacter { row->refusal, errorIndex(rdn, index, i) };
    return der::encode(row->tag, value.pbData, value.cbData);
}

Bytes encodeAttributes(const CRYPT_ATTRIBUTE* attributes, DWORD count)
{
    Bytes content;
    std::vector<Bytes> encoded;
    for (DWORD i = 0; i < count; ++i) {
        Bytes values;
        for (DWORD v = 0; v < attributes[i].cValue; ++v)
            values.insert(values.end(), attributes[i].rgValue[v].pbData,
                attributes[i].rgValue[v].pbData + attributes[i].rgValue[v].cbData);
        encoded.push_back(
            der::sequence({ der::encodeObjectIdentifier(attributes[i].pszObjId), der::encode(der::kSet, values) }));
    }
    std::sort(encoded.begin(), encoded.end()); // DER orders the members of a SET OF
    for (const Bytes& attribute : encoded)
        der::append(content, attribute);
    return content;
}

} // namespace

namespace standin {

Bytes encodeName(const CERT_NAME_INFO& name)
{
    Bytes rdns;
    for (DWORD r = 0; r < name.cRDN; ++r) {
        const CERT_RDN& rdn = name.rgRDN[r];
        std::vector<Bytes> attributes;
        for (DWORD a = 0; a < rdn.cRDNAttr; ++a)
            attributes.push_back(der::sequence(
                { der::encodeObjectIdentifier(rdn.rgRDNAttr[a].pszObjId), encodeValue(rdn.rgRDNAttr[a], r, a) }));
        std::sort(attributes.begin(), attributes.end());
        Bytes set;
        for (const Bytes& attribute : attributes)
            der::append(set, attribute);
        der::append(rdns, der::encode(der::kSet, set));
    }
    return der::encode(der::kSequence, rdns);
}

Bytes encodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info)
{
    return der::sequence({ der::encodeAlgorithm(info.Algorithm, false), der::encodeBitString(info.PublicKey) });
}

Bytes encodeCertificateToBeSigned(const CERT_INFO& info)
{
    std::vector<Bytes> fields;
    if (info.dwVersion != CERT_V1) {
        const BYTE version = static_cast<BYTE>(info.dwVersion);
        fields.push_back(der::encode(der::kContext0, der::encode(der::kInteger, &version, 1)));
    }
    fields.push_back(der::encodeSignedInteger(info.SerialNumber));
    fields.push_back(der::encodeAlgorithm(info.SignatureAlgorithm, true));
    fields.push_back(Bytes(info.Issuer.pbData, info.Issuer.pbData + info.Issuer.cbData));
    fields.push_back(der::sequence({ der::encodeTime(info.NotBefore), der::encodeTime(info.NotAfter) }));
    fields.push_back(Bytes(info.Subject.pbData, info.Subject.pbData + info.Subject.cbData));
    fields.push_back(encodePublicKeyInfo(info.SubjectPublicKeyInfo));
    if (info.IssuerUniqueId.cbData) {
        Bytes bits = der::encodeBitString(info.IssuerUniqueId);
        bits[0] = der::kContext1;
        fields.push_back(bits);
    }
    if (info.SubjectUniqueId.cbData) {
        Bytes bits = der::encodeBitString(info.SubjectUniqueId);
        bits[0] = der::kContext2;
        fields.push_back(bits);
    }
    if (info.cExtension) {
        Bytes extensions;
        for (DWORD i = 0; i < info.cExtension; ++i) {
            const CERT_EXTENSION& extension = info.rgExtension[i];
            std::vector<Bytes> parts { der::encodeObjectIdentifier(extension.pszObjId) };
            if (extension.fCritical) {
                const BYTE isTrue = 0xff;
                parts.push_back(der::encode(der::kBoolean, &isTrue, 1));
            }
            parts.push_back(der::encode(der::kOctetString, extension.Value.pbData, extension.Value.cbData));
            der::append(extensions, der::sequence(parts));
        }
        fields.push_back(der::encode(der::kContext3, der::encode(der::kSequence, extensions)));
    }
    return der::sequence(fields);
}

Bytes encodeRequestToBeSigned(const CERT_REQUEST_INFO& info)
{
    const BYTE version = static_cast<BYTE>(info.dwVersion);
    return der::sequence({ der::encode(der::kInteger, &version, 1),
        Bytes(info.Subject.pbData, info.Subject.pbData + info.Subject.cbData),
        encodePublicKeyInfo(info.SubjectPublicKeyInfo),
        der::encode(der::kContext0, encodeAttributes(info.rgAttribute, info.cAttribute)) });
}

Bytes encodeStructure(LPCSTR structType, const void* structInfo)
{
    if (!structInfo)
        failWith(E_INVALIDARG);
    if (structType == X509_NAME)
        return encodeName(*static_cast<const CERT_NAME_INFO*>(structInfo));
    if (structType == X509_PUBLIC_KEY_INFO)
        return encodePublicKeyInfo(*static_cast<const CERT_PUBLIC_KEY_INFO*>(structInfo));
    if (structType == X509_CERT_TO_BE_SIGNED)
        return encodeCertificateToBeSigned(*static_cast<const CERT_INFO*>(structInfo));
    if (structType == X509_CERT_REQUEST_TO_BE_SIGNED)
        return encodeRequestToBeSigned(*static_cast<const CERT_REQUEST_INFO*>(structInfo));
    failWith(ERROR_FILE_NOT_FOUND); // no encoder is installed for it
}

} // namespace standin

BOOL WINAPI CryptEncodeObject(
    DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo, BYTE* pbEncoded, DWORD* pcbEncoded)
{
    if (standin::injectFault("CryptEncodeObject"))
        return FALSE;
    return standin::answerOrFail<BOOL>(FALSE, [&]() {
        if (!pcbEncoded)
            standin::failWith(E_INVALIDARG);
        if ((dwCertEncodingType & CERT_ENCODING_TYPE_MASK) != X509_ASN_ENCODING)
            standin::failWith(ERROR_FILE_NOT_FOUND);
        Bytes encoded;
        try {
            encoded = standin::encodeStructure(lpszStructType, pvStructInfo);
        } catch (const RefusedCharacter& refused) {
            *pcbEncoded = refused.index;
            standin::failWith(refused.code);
        }
        if (!standin::callerHasRoom(static_cast<DWORD>(encoded.size()), pbEncoded, pcbEncoded))
            return TRUE;
        std::memcpy(pbEncoded, encoded.data(), encoded.size());
        return TRUE;
    });
}
