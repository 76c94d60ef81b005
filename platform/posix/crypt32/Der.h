// The DER that crypt32 reads and writes: tag-length-value elements, object
// identifiers, integers in CryptoAPI's little-endian blobs, and times as
// FILETIME. Malformed input throws CryptFailure with crypt32's ASN.1 codes.
#pragma once

#include <wincrypt.h>
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace standin {

using Bytes = std::vector<unsigned char>;

namespace der {

constexpr unsigned char kBoolean = 0x01;
constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kBitString = 0x03;
constexpr unsigned char kOctetString = 0x04;
constexpr unsigned char kNull = 0x05;
constexpr unsigned char kObjectIdentifier = 0x06;
constexpr unsigned char kUtf8String = 0x0c;
constexpr unsigned char kNumericString = 0x12;
constexpr unsigned char kPrintableString = 0x13;
constexpr unsigned char kTeletexString = 0x14;
constexpr unsigned char kIa5String = 0x16;
constexpr unsigned char kUtcTime = 0x17;
constexpr unsigned char kGeneralizedTime = 0x18;
constexpr unsigned char kVisibleString = 0x1a;
constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kContext0 = 0xa0; // [0], constructed
constexpr unsigned char kContext1 = 0x81; // [1], primitive
constexpr unsigned char kContext2 = 0x82; // [2], primitive
constexpr unsigned char kContext3 = 0xa3; // [3], constructed

// One element: the whole encoding (header included) and its content.
struct Element {
    unsigned char tag = 0;
    const unsigned char* begin = nullptr;
    std::size_t size = 0;
    const unsigned char* content = nullptr;
    std::size_t contentSize = 0;
};

// Walks the elements of one level, in order.
class Reader {
public:
    Reader(const unsigned char* data, std::size_t size)
        : data_(data)
        , size_(size)
    {
    }
    explicit Reader(const Element& constructed)
        : Reader(constructed.content, constructed.contentSize)
    {
    }

    bool atEnd() const { return offset_ == size_; }
    bool nextIs(unsigned char tag) const { return !atEnd() && data_[offset_] == tag; }
    // The next element, which must carry `tag` (CRYPT_E_ASN1_BADTAG otherwise).
    Element read(unsigned char tag);
    Element readAny();

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

// Exactly one element filling `size` bytes, with `tag`.
Element readWhole(const unsigned char* data, std::size_t size, unsigned char tag);

Bytes encode(unsigned char tag, const unsigned char* content, std::size_t size);
Bytes encode(unsigned char tag, const Bytes& content);
void append(Bytes& to, const Bytes& more);
Bytes sequence(const std::vector<Bytes>& parts);

// "1.2.840.113549.1.1.11" and back; CRYPT_E_OID_FORMAT / CRYPT_E_ASN1_CORRUPT.
Bytes encodeObjectIdentifier(const char* dotted);
std::string decodeObjectIdentifier(const Element& element);

// CryptoAPI keeps INTEGER values least significant byte first. Signed blobs
// (serial numbers) keep their sign; unsigned ones get a 00 byte when needed.
Bytes encodeSignedInteger(const CRYPT_INTEGER_BLOB& littleEndian);
Bytes encodeUnsignedInteger(const unsigned char* littleEndian, std::size_t size);
Bytes integerLittleEndian(const Element& element);
DWORD decodeSmallInteger(const Element& element);

// Algorithm identifiers: parameters are copied as encoded; empty parameters
// become NULL where crypt32 writes NULL (signature algorithms).
Bytes encodeAlgorithm(const CRYPT_ALGORITHM_IDENTIFIER& algorithm, bool nullWhenEmpty);
Bytes encodeBitString(const CRYPT_BIT_BLOB& bits);
Bytes encodeTime(const FILETIME& time);
FILETIME decodeTime(const Element& element);

} // namespace der
} // namespace standin
