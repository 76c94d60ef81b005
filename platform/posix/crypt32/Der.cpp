#include "crypt32/Der.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crypt32/CryptFailure.h"

namespace standin::der {
namespace {

constexpr unsigned char kLongLengthFlag = 0x80;
constexpr std::size_t kMaxLengthBytes = 4;
constexpr unsigned long long kTicksPerSecond = 10000000ULL;
constexpr long long kDaysFrom1601To1970 = 134774;
constexpr int kFirstUtcTimeYear = 1950;
constexpr int kLastUtcTimeYear = 2049;

// Days since 1970-01-01 of a proleptic Gregorian date.
long long daysFromCivil(long long year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

void civilFromDays(long long days, int& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<int>(static_cast<long long>(yearOfEra) + era * 400 + (month <= 2));
}

unsigned digits(const unsigned char* text, std::size_t count)
{
    unsigned value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            failWith(CRYPT_E_ASN1_CORRUPT);
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

Bytes lengthBytes(std::size_t size)
{
    if (size < kLongLengthFlag)
        return { static_cast<unsigned char>(size) };
    Bytes value;
    for (std::size_t rest = size; rest; rest >>= 8)
        value.insert(value.begin(), static_cast<unsigned char>(rest & 0xff));
    value.insert(value.begin(), static_cast<unsigned char>(kLongLengthFlag | value.size()));
    return value;
}

// Drops leading bytes that repeat the sign of a big-endian two's complement.
Bytes minimalSigned(Bytes bigEndian)
{
    while (bigEndian.size() > 1
        && ((bigEndian[0] == 0x00 && !(bigEndian[1] & 0x80)) || (bigEndian[0] == 0xff && (bigEndian[1] & 0x80))))
        bigEndian.erase(bigEndian.begin());
    return bigEndian;
}

} // namespace

Element Reader::readAny()
{
    if (atEnd())
        failWith(CRYPT_E_ASN1_EOD);
    Element element;
    element.begin = data_ + offset_;
    element.tag = data_[offset_];
    std::size_t at = offset_ + 1;
    if (at >= size_)
        failWith(CRYPT_E_ASN1_EOD);
    std::size_t length = data_[at++];
    if (length & kLongLengthFlag) {
        const std::size_t count = length & ~kLongLengthFlag;
        if (count == 0 || count > kMaxLengthBytes)
            failWith(CRYPT_E_ASN1_CORRUPT); // indefinite lengths are not DER
        if (at + count > size_)
            failWith(CRYPT_E_ASN1_EOD);
        length = 0;
        for (std::size_t i = 0; i < count; ++i)
            length = (length << 8) | data_[at++];
    }
    if (length > size_ - at)
        failWith(CRYPT_E_ASN1_EOD);
    element.content = data_ + at;
    element.contentSize = length;
    element.size = at + length - offset_;
    offset_ = at + length;
    return element;
}

Element Reader::read(unsigned char tag)
{
    if (atEnd())
        failWith(CRYPT_E_ASN1_EOD);
    if (data_[offset_] != tag)
        failWith(CRYPT_E_ASN1_BADTAG);
    return readAny();
}

Element readWhole(const unsigned char* data, std::size_t size, unsigned char tag)
{
    Reader reader(data, size);
    Element element = reader.read(tag);
    if (!reader.atEnd())
        failWith(CRYPT_E_ASN1_CORRUPT);
    return element;
}

Bytes encode(unsigned char tag, const unsigned char* content, std::size_t size)
{
    Bytes out { tag };
    append(out, lengthBytes(size));
    out.insert(out.end(), content, content + size);
    return out;
}

Bytes encode(unsigned char tag, const Bytes& content) { return encode(tag, content.data(), content.size()); }

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

Bytes sequence(const std::vector<Bytes>& parts)
{
    Bytes content;
    for (const Bytes& part : parts)
        append(content, part);
    return encode(kSequence, content);
}

Bytes encodeObjectIdentifier(const char* dotted)
{
    if (!dotted)
        failWith(CRYPT_E_OID_FORMAT);
    std::vector<unsigned long> arcs;
    const char* at = dotted;
    while (true) {
        if (*at < '0' || *at > '9')
            failWith(CRYPT_E_OID_FORMAT);
        char* end = nullptr;
        arcs.push_back(std::strtoul(at, &end, 10));
        at = end;
        if (*at == '\0')
            break;
        if (*at++ != '.')
            failWith(CRYPT_E_OID_FORMAT);
    }
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39))
        failWith(CRYPT_E_OID_FORMAT);
    Bytes content;
    auto appendArc = [&content](unsigned long arc) {
        Bytes groups { static_cast<unsigned char>(arc & 0x7f) };
        for (arc >>= 7; arc; arc >>= 7)
            groups.insert(groups.begin(), static_cast<unsigned char>(0x80 | (arc & 0x7f)));
        append(content, groups);
    };
    appendArc(arcs[0] * 40 + arcs[1]);
    for (std::size_t i = 2; i < arcs.size(); ++i)
        appendArc(arcs[i]);
    return encode(kObjectIdentifier, content);
}

std::string decodeObjectIdentifier(const Element& element)
{
    if (element.tag != kObjectIdentifier)
        failWith(CRYPT_E_ASN1_BADTAG);
    if (element.contentSize == 0 || (element.content[element.contentSize - 1] & 0x80))
        failWith(CRYPT_E_ASN1_CORRUPT);
    std::string dotted;
    unsigned long long arc = 0;
    bool first = true;
    for (std::size_t i = 0; i < element.contentSize; ++i) {
        arc = (arc << 7) | (element.content[i] & 0x7f);
        if (element.content[i] & 0x80)
            continue;
        if (first) {
            const unsigned long long top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
            dotted = std::to_string(top) + "." + std::to_string(arc - top * 40);
            first = false;
        } else {
            dotted += "." + std::to_string(arc);
        }
        arc = 0;
    }
    return dotted;
}

Bytes encodeSignedInteger(const CRYPT_INTEGER_BLOB& littleEndian)
{
    Bytes bigEndian(littleEndian.pbData, littleEndian.pbData + littleEndian.cbData);
    std::reverse(bigEndian.begin(), bigEndian.end());
    if (bigEndian.empty())
        bigEndian.push_back(0);
    return encode(kInteger, minimalSigned(bigEndian));
}

Bytes encodeUnsignedInteger(const unsigned char* littleEndian, std::size_t size)
{
    Bytes bigEndian(littleEndian, littleEndian + size);
    std::reverse(bigEndian.begin(), bigEndian.end());
    bigEndian.insert(bigEndian.begin(), 0x00);
    return encode(kInteger, minimalSigned(bigEndian));
}

Bytes integerLittleEndian(const Element& element)
{
    if (element.tag != kInteger)
        failWith(CRYPT_E_ASN1_BADTAG);
    if (element.contentSize == 0)
        failWith(CRYPT_E_ASN1_CORRUPT);
    Bytes value(element.content, element.content + element.contentSize);
    std::reverse(value.begin(), value.end());
    return value;
}

DWORD decodeSmallInteger(const Element& element)
{
    const Bytes value = integerLittleEndian(element);
    if (value.size() > sizeof(DWORD))
        failWith(CRYPT_E_ASN1_LARGE);
    DWORD result = 0;
    for (std::size_t i = value.size(); i-- > 0;)
        result = (result << 8) | value[i];
    return result;
}

Bytes encodeAlgorithm(const CRYPT_ALGORITHM_IDENTIFIER& algorithm, bool nullWhenEmpty)
{
    Bytes content = encodeObjectIdentifier(algorithm.pszObjId);
    if (algorithm.Parameters.cbData)
        content.insert(
            content.end(), algorithm.Parameters.pbData, algorithm.Parameters.pbData + algorithm.Parameters.cbData);
    else if (nullWhenEmpty)
        append(content, encode(kNull, nullptr, 0));
    return encode(kSequence, content);
}

Bytes encodeBitString(const CRYPT_BIT_BLOB& bits)
{
    Bytes content { static_cast<unsigned char>(bits.cbData ? bits.cUnusedBits : 0) };
    content.insert(content.end(), bits.pbData, bits.pbData + bits.cbData);
    return encode(kBitString, content);
}

Bytes encodeTime(const FILETIME& time)
{
    const unsigned long long ticks = (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    const long long seconds = static_cast<long long>(ticks / kTicksPerSecond);
    const long long days = seconds / 86400 - kDaysFrom1601To1970;
    const long long secondOfDay = seconds % 86400;
    int year;
    unsigned month, day;
    civilFromDays(days, year, month, day);
    char text[32];
    const bool utc = year >= kFirstUtcTimeYear && year <= kLastUtcTimeYear;
    const int written
        = std::snprintf(text, sizeof text, utc ? "%02d%02u%02u%02lld%02lld%02lldZ" : "%04d%02u%02u%02lld%02lld%02lldZ",
            utc ? year % 100 : year, month, day, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
    return encode(utc ? kUtcTime : kGeneralizedTime, reinterpret_cast<const unsigned char*>(text),
        static_cast<std::size_t>(written));
}

FILETIME decodeTime(const Element& element)
{
    const unsigned char* text = element.content;
    std::size_t size = element.contentSize;
    int year;
    if (element.tag == kUtcTime) {
        if (size < 11)
            failWith(CRYPT_E_ASN1_CORRUPT);
        const int yy = static_cast<int>(digits(text, 2));
        year = yy < 50 ? 2000 + yy : 1900 + yy;
        text += 2, size -= 2;
    } else if (element.tag == kGeneralizedTime) {
        if (size < 13)
            failWith(CRYPT_E_ASN1_CORRUPT);
        year = static_cast<int>(digits(text, 4));
        text += 4, size -= 4;
    } else {
        failWith(CRYPT_E_ASN1_BADTAG);
    }
    // MMDDHHMM, optional SS, then Z.
    const unsigned month = digits(text, 2), day = digits(text + 2, 2);
    const unsigned hour = digits(text + 4, 2), minute = digits(text + 6, 2);
    unsigned second = 0;
    std::size_t at = 8;
    if (size >= at + 3)
        second = digits(text + at, 2), at += 2;
    if (size != at + 1 || text[at] != 'Z' || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59
        || second > 60)
        failWith(CRYPT_E_ASN1_CORRUPT);
    const long long days = daysFromCivil(year, month, day) + kDaysFrom1601To1970;
    const unsigned long long ticks
        = (static_cast<unsigned long long>(days) * 86400 + hour * 3600 + minute * 60 + second) * kTicksPerSecond;
    return FILETIME { static_cast<DWORD>(ticks & 0xffffffff), static_cast<DWORD>(ticks >> 32) };
}

} // namespace standin::der
