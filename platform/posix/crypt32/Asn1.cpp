#include <openssl/asn1err.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include "crypt32/Asn1.h"

#include <algorithm>
#include <ctime>

namespace standin {
namespace {

constexpr unsigned long long kTicksPerSecond = 10000000ULL;
// Seconds from FILETIME's origin (1601-01-01) to time_t's (1970-01-01).
constexpr long long kFileTimeToUnixSeconds = 11644473600LL;

struct ReadFailure {
    int reason;
    DWORD code;
};

// Data that ends early is CRYPT_E_ASN1_EOD, a tag out of place
// CRYPT_E_ASN1_BADTAG; anything else is corrupt.
constexpr ReadFailure kReadFailures[] = {
    { ASN1_R_TOO_SMALL, static_cast<DWORD>(CRYPT_E_ASN1_EOD) },
    { ASN1_R_HEADER_TOO_LONG, static_cast<DWORD>(CRYPT_E_ASN1_EOD) },
    { ASN1_R_TOO_LONG, static_cast<DWORD>(CRYPT_E_ASN1_EOD) },
    { ASN1_R_NOT_ENOUGH_DATA, static_cast<DWORD>(CRYPT_E_ASN1_EOD) },
    { ASN1_R_WRONG_TAG, static_cast<DWORD>(CRYPT_E_ASN1_BADTAG) },
};

// Numbers separated by single dots.
bool wellFormedDottedText(const char* dotted)
{
    bool afterDigit = false;
    for (const char* c = dotted; *c; ++c) {
        if (*c == '.' && !afterDigit)
            return false;
        if (*c != '.' && (*c < '0' || *c > '9'))
            return false;
        afterDigit = *c != '.';
    }
    return afterDigit;
}

constexpr TextType kTextTypes[] = {
    { V_ASN1_NUMERICSTRING, CERT_RDN_NUMERIC_STRING },
    { V_ASN1_PRINTABLESTRING, CERT_RDN_PRINTABLE_STRING },
    { V_ASN1_T61STRING, CERT_RDN_TELETEX_STRING },
    { V_ASN1_VIDEOTEXSTRING, CERT_RDN_VIDEOTEX_STRING },
    { V_ASN1_IA5STRING, CERT_RDN_IA5_STRING },
    { V_ASN1_GRAPHICSTRING, CERT_RDN_GRAPHIC_STRING },
    { V_ASN1_VISIBLESTRING, CERT_RDN_VISIBLE_STRING },
    { V_ASN1_GENERALSTRING, CERT_RDN_GENERAL_STRING },
    { V_ASN1_UNIVERSALSTRING, CERT_RDN_UNIVERSAL_STRING },
    { V_ASN1_BMPSTRING, CERT_RDN_BMP_STRING },
    { V_ASN1_UTF8STRING, CERT_RDN_UTF8_STRING },
};

template <typename Match> const TextType* findTextType(Match match)
{
    const auto* found = std::find_if(std::begin(kTextTypes), std::end(kTextTypes), match);
    return found == std::end(kTextTypes) ? nullptr : found;
}

} // namespace

const TextType* textTypeOf(int asn1Type)
{
    return findTextType([asn1Type](const TextType& row) { return row.asn1Type == asn1Type; });
}

const TextType* textTypeOfValue(DWORD type)
{
    return findTextType([type](const TextType& row) { return row.type == type; });
}

DWORD readFailure()
{
    const unsigned long error = ERR_peek_error();
    ERR_clear_error();
    const auto* known
        = std::find_if(std::begin(kReadFailures), std::end(kReadFailures), [error](const ReadFailure& row) {
              return ERR_GET_LIB(error) == ERR_LIB_ASN1 && ERR_GET_REASON(error) == row.reason;
          });
    return known == std::end(kReadFailures) ? static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT) : known->code;
}

Asn1Object objectIdentifier(const char* dotted)
{
    // OpenSSL lets empty arcs pass ("1..2", "1.2."); crypt32 does not.
    if (!dotted || !wellFormedDottedText(dotted))
        failWith(CRYPT_E_OID_FORMAT);
    Asn1Object object(OBJ_txt2obj(dotted, 1));
    ERR_clear_error();
    if (!object)
        failWith(CRYPT_E_OID_FORMAT);
    return object;
}

std::string dottedText(const ASN1_OBJECT* object)
{
    const int size = OBJ_obj2txt(nullptr, 0, object, 1);
    if (size <= 0)
        failWith(CRYPT_E_ASN1_CORRUPT);
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    OBJ_obj2txt(text.data(), size + 1, object, 1);
    text.resize(static_cast<std::size_t>(size));
    return text;
}

Bytes littleEndian(const ASN1_INTEGER* integer)
{
    // The content octets of the DER INTEGER are the two's complement, most
    // significant byte first.
    const Bytes der = toDer(i2d_ASN1_INTEGER, integer);
    const unsigned char* content = der.data();
    long size = 0;
    int tag = 0, tagClass = 0;
    if (ASN1_get_object(&content, &size, &tag, &tagClass, static_cast<long>(der.size())) & 0x80)
        failWith(CRYPT_E_ASN1_CORRUPT);
    Bytes value(content, content + size);
    std::reverse(value.begin(), value.end());
    return value;
}

FILETIME fileTime(const ASN1_TIME* time)
{
    Asn1Time origin(orFail(ASN1_TIME_set(nullptr, 0), E_OUTOFMEMORY));
    int days = 0, seconds = 0;
    if (ASN1_TIME_diff(&days, &seconds, origin.get(), time) != 1) {
        ERR_clear_error();
        failWith(CRYPT_E_ASN1_CORRUPT);
    }
    const long long sinceOrigin = static_cast<long long>(days) * 86400 + seconds + kFileTimeToUnixSeconds;
    const unsigned long long ticks = static_cast<unsigned long long>(sinceOrigin) * kTicksPerSecond;
    return FILETIME { static_cast<DWORD>(ticks & 0xffffffff), static_cast<DWORD>(ticks >> 32) };
}

void setAlgorithm(X509_ALGOR* algorithm, const CRYPT_ALGORITHM_IDENTIFIER& from, bool nullWhenEmpty)
{
    Asn1Object object = objectIdentifier(from.pszObjId);
    Asn1Type parameters;
    if (from.Parameters.cbData) {
        parameters = fromDer<Asn1Type>(d2i_ASN1_TYPE, from.Parameters.pbData, from.Parameters.cbData);
    } else if (nullWhenEmpty) {
        parameters.reset(orFail(ASN1_TYPE_new(), E_OUTOFMEMORY));
        ASN1_TYPE_set(parameters.get(), V_ASN1_NULL, nullptr);
    }
    ASN1_OBJECT_free(algorithm->algorithm);
    ASN1_TYPE_free(algorithm->parameter);
    algorithm->algorithm = object.release();
    algorithm->parameter = parameters.release();
}

void setPublicKey(X509_PUBKEY* key, const CERT_PUBLIC_KEY_INFO& from)
{
    // OpenSSL writes a public key whole, with no unused bits.
    if (from.PublicKey.cUnusedBits != 0)
        failWith(CRYPT_E_BAD_ENCODE);
    if (from.PublicKey.cbData && !from.PublicKey.pbData)
        failWith(E_INVALIDARG);
    auto* bits = static_cast<unsigned char*>(orFail(OPENSSL_malloc(from.PublicKey.cbData + 1), E_OUTOFMEMORY));
    std::copy(from.PublicKey.pbData, from.PublicKey.pbData + from.PublicKey.cbData, bits);
    Asn1Object placeholder = objectIdentifier(from.Algorithm.pszObjId);
    if (X509_PUBKEY_set0_param(
            key, placeholder.get(), V_ASN1_UNDEF, nullptr, bits, static_cast<int>(from.PublicKey.cbData))
        != 1) {
        OPENSSL_free(bits);
        failWith(E_OUTOFMEMORY);
    }
    placeholder.release();
    X509_ALGOR* algorithm = nullptr;
    X509_PUBKEY_get0_param(nullptr, nullptr, nullptr, &algorithm, key);
    setAlgorithm(algorithm, from.Algorithm, false);
}

void setBits(ASN1_BIT_STRING* bits, const BYTE* data, DWORD size, DWORD unusedBits)
{
    orFail(ASN1_BIT_STRING_set(bits, const_cast<BYTE*>(data), static_cast<int>(size)), E_OUTOFMEMORY);
    // Without this flag OpenSSL would count trailing zero bits as unused.
    bits->flags = (bits->flags & ~0x07L) | ASN1_STRING_FLAG_BITS_LEFT | (size ? (unusedBits & 0x07) : 0);
}

} // namespace standin
