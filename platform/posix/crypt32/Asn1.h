// OpenSSL's ASN.1 and X.509 objects as crypt32 uses them: owners, DER out of
// them, CryptoAPI's forms of object identifiers, integers, times, algorithms
// and public keys, and crypt32's codes for what OpenSSL cannot read.
#pragma once

// OpenSSL first: <wincrypt.h> defines X509_NAME as crypt32's structure code,
// so OpenSSL's name type is spelled X509_name_st below.
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <wincrypt.h>
#include <windows.h>

#include <memory>
#include <string>

#include "crypt32/Bytes.h"
#include "crypt32/CryptFailure.h"

namespace standin {

template <typename T, void (*Free)(T*)> struct OpenSslFree {
    void operator()(T* object) const { Free(object); }
};
template <typename T, void (*Free)(T*)> using OpenSslOwner = std::unique_ptr<T, OpenSslFree<T, Free>>;

using Asn1Object = OpenSslOwner<ASN1_OBJECT, ASN1_OBJECT_free>;
using Asn1Time = OpenSslOwner<ASN1_TIME, ASN1_TIME_free>;
using Asn1Type = OpenSslOwner<ASN1_TYPE, ASN1_TYPE_free>;
using Asn1String = OpenSslOwner<ASN1_STRING, ASN1_STRING_free>;
using Asn1Null = OpenSslOwner<ASN1_NULL, ASN1_NULL_free>;
using EvpPublicKey = OpenSslOwner<EVP_PKEY, EVP_PKEY_free>;
using X509Certificate = OpenSslOwner<X509, X509_free>;
using X509Request = OpenSslOwner<X509_REQ, X509_REQ_free>;
using X509Name = OpenSslOwner<X509_name_st, X509_NAME_free>;
using X509NameEntry = OpenSslOwner<X509_NAME_ENTRY, X509_NAME_ENTRY_free>;
using X509Algorithm = OpenSslOwner<X509_ALGOR, X509_ALGOR_free>;
using X509Attribute = OpenSslOwner<X509_ATTRIBUTE, X509_ATTRIBUTE_free>;

// Throws CryptFailure with `code` when OpenSSL answered null or failure.
template <typename T> T* orFail(T* result, DWORD code)
{
    if (!result)
        failWith(code);
    return result;
}
inline void orFail(int result, DWORD code)
{
    if (result <= 0)
        failWith(code);
}

// What an i2d function writes for `object`.
template <typename T, typename Writer> Bytes toDer(Writer write, T* object)
{
    unsigned char* out = nullptr;
    const int size = write(object, &out);
    if (size < 0)
        failWith(CRYPT_E_ASN1_ERROR);
    Bytes der(out, out + size);
    OPENSSL_free(out);
    return der;
}

// crypt32's code for the reading that just failed, taken from the oldest
// error OpenSSL queued (the queue is cleared).
DWORD readFailure();

// What a d2i function reads from exactly these bytes; crypt32's ASN.1 code
// when they are not that, or more than that.
template <typename Owner, typename Reader> Owner fromDer(Reader read, const unsigned char* data, std::size_t size)
{
    ERR_clear_error();
    const unsigned char* cursor = data;
    Owner object(read(nullptr, &cursor, static_cast<long>(size)));
    if (!object)
        failWith(readFailure());
    if (cursor != data + size)
        failWith(CRYPT_E_ASN1_CORRUPT);
    return object;
}

// "1.2.840.113549.1.1.11" and back; CRYPT_E_OID_FORMAT for text that is none.
Asn1Object objectIdentifier(const char* dotted);
std::string dottedText(const ASN1_OBJECT* object);

// CryptoAPI keeps INTEGER values least significant byte first, in two's
// complement: a serial number keeps its sign.
Bytes littleEndian(const ASN1_INTEGER* integer);

FILETIME fileTime(const ASN1_TIME* time);

// The string types that crypt32 hands out as Unicode text, by both names;
// null for any other.
struct TextType {
    int asn1Type;
    DWORD type;
};
const TextType* textTypeOf(int asn1Type);
const TextType* textTypeOfValue(DWORD type);

// Parameters are copied as encoded; empty ones become NULL where crypt32
// writes NULL (signature algorithms) and are left out elsewhere.
void setAlgorithm(X509_ALGOR* algorithm, const CRYPT_ALGORITHM_IDENTIFIER& from, bool nullWhenEmpty);
void setPublicKey(X509_PUBKEY* key, const CERT_PUBLIC_KEY_INFO& from);
// A BIT STRING with exactly these bytes and unused bits.
void setBits(ASN1_BIT_STRING* bits, const BYTE* data, DWORD size, DWORD unusedBits);

} // namespace standin
