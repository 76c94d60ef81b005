#include "CertificateBytes.h"

#include "CryptHandles.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr BYTE kDerSequence = 0x30;
constexpr BYTE kDerSet = 0x31;
constexpr BYTE kDerObjectIdentifier = 0x06;
constexpr BYTE kDerLongLength = 0x80;
constexpr std::size_t kDerMaxLengthBytes = 4;

// The elements that fill some content, one after the other; none when one
// does not read or they do not fill it exactly.
std::optional<std::vector<const BYTE*>> derElements(const BYTE* data, std::size_t size)
{
    std::vector<const BYTE*> elements;
    for (std::size_t at = 0; at < size;) {
        const std::optional<DerElement> element = derElement(data + at, size - at);
        if (!element)
            return std::nullopt;
        elements.push_back(data + at);
        at += element->size();
    }
    return elements;
}

// The content of the element at `data` if it has that tag.
std::optional<std::vector<const BYTE*>> contentOf(const BYTE* data, std::size_t size, BYTE tag)
{
    const std::optional<DerElement> element = derElement(data, size);
    if (!element || element->tag != tag)
        return std::nullopt;
    return derElements(data + element->headerSize, element->contentSize);
}

} // namespace

std::optional<DerElement> derElement(const BYTE* data, std::size_t size)
{
    if (size < 2)
        return std::nullopt;
    DerElement element { data[0], 2, data[1] };
    if (data[1] & kDerLongLength) {
        const std::size_t lengthBytes = data[1] & ~kDerLongLength;
        if (lengthBytes == 0 || lengthBytes > kDerMaxLengthBytes || size < 2 + lengthBytes)
            return std::nullopt;
        element.contentSize = 0;
        for (std::size_t i = 0; i < lengthBytes; ++i)
            element.contentSize = element.contentSize << 8 | data[2 + i];
        element.headerSize += lengthBytes;
    }
    if (size - element.headerSize < element.contentSize)
        return std::nullopt;
    return element;
}

bool isOneDerSequence(const Bytes& der)
{
    const std::optional<DerElement> element = derElement(der.data(), der.size());
    return element && element->tag == kDerSequence && element->size() == der.size();
}

bool isOneCertificate(const Bytes& der)
{
    return isOneDerSequence(der)
        && CertificateContext(CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
}

std::optional<std::vector<std::vector<Bytes>>> nameValueEncodings(const CERT_NAME_BLOB& name)
{
    // Name: SEQUENCE OF RDN; RDN: SET OF SEQUENCE { type OID, value ANY }.
    const BYTE* end = name.pbData + name.cbData;
    const auto rdns = contentOf(name.pbData, name.cbData, kDerSequence);
    if (!rdns)
        return std::nullopt;
    std::vector<std::vector<Bytes>> values;
    for (const BYTE* rdn : *rdns) {
        const auto attributes = contentOf(rdn, end - rdn, kDerSet);
        if (!attributes)
            return std::nullopt;
        values.emplace_back();
        for (const BYTE* attribute : *attributes) {
            const auto parts = contentOf(attribute, end - attribute, kDerSequence);
            if (!parts || parts->size() != 2 || *parts->front() != kDerObjectIdentifier)
                return std::nullopt;
            const BYTE* value = parts->back();
            values.back().emplace_back(value, value + derElement(value, end - value)->size());
        }
    }
    return values;
}
