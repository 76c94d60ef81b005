// crypt32 encoding: X.509 names with crypt32's character checks, single
// values given as Unicode text, and the to-be-signed part of certificate
// requests.
#include "crypt32/Encoding.h"

#include <algorithm>
#include <cstring>

#include "machine/FaultSwitch.h"
#include "machine/WideText.h"

namespace {

using standin::Bytes;

bool anyByte(unsigned char) { return true; }
bool numericByte(unsigned char c) { return (c >= '0' && c <= '9') || c == ' '; }
bool ia5Byte(unsigned char c) { return c < 0x80; }
bool printableByte(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
        || std::strchr(" '()+,-./:=?", c) != nullptr;
}

// How an 8-bit attribute value of each type is written, and what it may hold.
// OpenSSL's names hold no OCTET STRING or VisibleString values.
struct ValueType {
    DWORD type;
    int asn1Type;
    bool (*allowed)(unsigned char);
    DWORD refusal;
};

constexpr ValueType kValueTypes[] = {
    { CERT_RDN_NUMERIC_STRING, V_ASN1_NUMERICSTRING, numericByte, static_cast<DWORD>(CRYPT_E_INVALID_NUMERIC_STRING) },
    { CERT_RDN_PRINTABLE_STRING, V_ASN1_PRINTABLESTRING, printableByte,
        static_cast<DWORD>(CRYPT_E_INVALID_PRINTABLE_STRING) },
    { CERT_RDN_TELETEX_STRING, V_ASN1_T61STRING, anyByte, 0 },
    { CERT_RDN_IA5_STRING, V_ASN1_IA5STRING, ia5Byte, static_cast<DWORD>(CRYPT_E_INVALID_IA5_STRING) },
};

// crypt32 may answer a size query with room to spare ("the actual size can be
// slightly smaller than the size of the buffer"): callers keep only the bytes
// that the filling call reports.
constexpr DWORD kSizeQuerySpare = 16;

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

// WCHARs up to their terminator, as UTF-8.
Bytes utf8FromWide(const CERT_RDN_VALUE_BLOB& value)
{
    std::string text;
    const auto* characters = reinterpret_cast<const WCHAR*>(value.pbData);
    for (DWORD i = 0; i < value.cbData / sizeof(WCHAR) && characters[i]; ++i)
        standin::appendUtf8(text, static_cast<char32_t>(characters[i]));
    return Bytes(text.begin(), text.end());
}

// The value as an OpenSSL string type and its bytes; an encoded blob is
// written as it is (V_ASN1_OTHER).
std::pair<int, Bytes> attributeValue(const CERT_RDN_ATTR& attribute, DWORD rdn, DWORD index)
{
    const CERT_RDN_VALUE_BLOB& value = attribute.Value;
    if (value.cbData && !value.pbData)
        standin::failWith(E_INVALIDARG);
    const DWORD type = attribute.dwValueType & CERT_RDN_TYPE_MASK;
    if (type == CERT_RDN_ENCODED_BLOB)
        return { V_ASN1_OTHER, Bytes(value.pbData, value.pbData + value.cbData) };
    // As in crypt32, the value of a UTF-8 attribute is given as WCHARs.
    if (type == CERT_RDN_UTF8_STRING)
        return { V_ASN1_UTF8STRING, utf8FromWide(value) };
    const auto* row = std::find_if(std::begin(kValueTypes), std::end(kValueTypes),
        [type](const ValueType& candidate) { return candidate.type == type; });
    if (row == std::end(kValueTypes))
        standin::failWith(CRYPT_E_NOT_CHAR_STRING);
    for (DWORD i = 0; i < value.cbData; ++i)
        if (!row->allowed(value.pbData[i]))
            throw RefusedCharacter { row->refusal, errorIndex(rdn, index, i) };
    return { row->asn1Type, Bytes(value.pbData, value.pbData + value.cbData) };
}

standin::X509Name nameOf(const CERT_NAME_INFO& info)
{
    standin::X509Name name(standin::orFail(X509_NAME_new(), E_OUTOFMEMORY));
    for (DWORD r = 0; r < info.cRDN; ++r) {
        const CERT_RDN& rdn = info.rgRDN[r];
        // OpenSSL keeps no empty RDN.
        if (rdn.cRDNAttr == 0)
            standin::failWith(CRYPT_E_BAD_ENCODE);
        for (DWORD a = 0; a < rdn.cRDNAttr; ++a) {
            const standin::Asn1Object object = standin::objectIdentifier(rdn.rgRDNAttr[a].pszObjId);
            const auto [type, bytes] = attributeValue(rdn.rgRDNAttr[a], r, a);
            standin::X509NameEntry entry(standin::orFail(X509_NAME_ENTRY_create_by_OBJ(nullptr, object.get(), type,
                                                             bytes.data(), static_cast<int>(bytes.size())),
                E_OUTOFMEMORY));
            // The first attribute opens the RDN, the others join it; OpenSSL
            // orders an RDN's members as DER orders a SET OF.
            // OpenSSL reads the entry back as it adds it: an encoded value of a
            // type that names do not hold is refused there.
            if (X509_NAME_add_entry(name.get(), entry.get(), -1, a == 0 ? 0 : -1) != 1)
                standin::failWith(standin::readFailure());
        }
    }
    return name;
}

// One value, its text given as WCHARs; an octet string or an encoded value
// as its bytes.
Bytes unicodeNameValue(const CERT_NAME_VALUE& value)
{
    const BYTE* data = value.Value.pbData;
    if (value.Value.cbData && !data)
        standin::failWith(E_INVALIDARG);
    const DWORD type = value.dwValueType & CERT_RDN_TYPE_MASK;
    if (type == CERT_RDN_ENCODED_BLOB)
        return Bytes(data, data + value.Value.cbData);
    standin::Asn1String made;
    if (type == CERT_RDN_OCTET_STRING) {
        made.reset(standin::orFail(ASN1_OCTET_STRING_new(), E_OUTOFMEMORY));
        standin::orFail(ASN1_OCTET_STRING_set(made.get(), data, static_cast<int>(value.Value.cbData)), E_OUTOFMEMORY);
    } else {
        const standin::TextType* text = standin::textTypeOfValue(type);
        if (!text)
            standin::failWith(CRYPT_E_NOT_CHAR_STRING);
        const Bytes utf8 = utf8FromWide(value.Value);
        ASN1_STRING* converted = nullptr;
        if (ASN1_mbstring_copy(&converted, utf8.data(), static_cast<int>(utf8.size()), MBSTRING_UTF8,
                ASN1_tag2bit(text->asn1Type))
            <= 0) {
            ERR_clear_error();
            standin::failWith(CRYPT_E_INVALID_PRINTABLE_STRING);
        }
        made.reset(converted);
    }
    standin::Asn1Type wrapped(standin::orFail(ASN1_TYPE_new(), E_OUTOFMEMORY));
    standin::orFail(ASN1_TYPE_set1(wrapped.get(), ASN1_STRING_type(made.get()), made.get()), E_OUTOFMEMORY);
    return standin::toDer(i2d_ASN1_TYPE, wrapped.get());
}

// A name given already encoded; OpenSSL keeps its bytes as they came.
standin::X509Name encodedName(const CERT_NAME_BLOB& blob)
{
    return standin::fromDer<standin::X509Name>(d2i_X509_NAME, blob.pbData, blob.cbData);
}

standin::X509Attribute attributeOf(const CRYPT_ATTRIBUTE& attribute)
{
    const standin::Asn1Object object = standin::objectIdentifier(attribute.pszObjId);
    standin::X509Attribute made(standin::orFail(X509_ATTRIBUTE_new(), E_OUTOFMEMORY));
    standin::orFail(X509_ATTRIBUTE_set1_object(made.get(), object.get()), E_OUTOFMEMORY);
    for (DWORD v = 0; v < attribute.cValue; ++v) {
        const CRYPT_ATTR_BLOB& blob = attribute.rgValue[v];
        const auto value = standin::fromDer<standin::Asn1Type>(d2i_ASN1_TYPE, blob.pbData, blob.cbData);
        standin::orFail(
            X509_ATTRIBUTE_set1_data(made.get(), ASN1_TYPE_get(value.get()), value->value.ptr, -1), E_OUTOFMEMORY);
    }
    return made;
}

} // namespace

namespace standin {

X509Request requestToBeSigned(const CERT_REQUEST_INFO& info)
{
    X509Request request(orFail(X509_REQ_new(), E_OUTOFMEMORY));
    orFail(X509_REQ_set_version(request.get(), static_cast<long>(info.dwVersion)), CRYPT_E_BAD_ENCODE);
    orFail(X509_REQ_set_subject_name(request.get(), encodedName(info.Subject).get()), E_OUTOFMEMORY);
    setPublicKey(X509_REQ_get_X509_PUBKEY(request.get()), info.SubjectPublicKeyInfo);
    for (DWORD i = 0; i < info.cAttribute; ++i)
        orFail(X509_REQ_add1_attr(request.get(), attributeOf(info.rgAttribute[i]).get()), E_OUTOFMEMORY);
    return request;
}

Bytes encodeStructure(LPCSTR structType, const void* structInfo)
{
    if (!structInfo)
        failWith(E_INVALIDARG);
    if (structType == X509_NAME)
        return toDer(i2d_X509_NAME, nameOf(*static_cast<const CERT_NAME_INFO*>(structInfo)).get());
    if (structType == X509_UNICODE_NAME_VALUE)
        return unicodeNameValue(*static_cast<const CERT_NAME_VALUE*>(structInfo));
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
        if (!standin::callerHasRoom(static_cast<DWORD>(encoded.size()), pbEncoded, pcbEncoded)) {
            *pcbEncoded += kSizeQuerySpare;
            return TRUE;
        }
        std::memcpy(pbEncoded, encoded.data(), encoded.size());
        return TRUE;
    });
}
