#include "CertificateDetails.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "AnsiText.h"
#include "CapiMessages.h"
#include "CertificateBytes.h"
#include "CryptHandles.h"

namespace {

using Json = nlohmann::json;

constexpr DWORD kCertificateEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr std::size_t kSha1Length = 20;
constexpr BYTE kUniversalStringTag = 0x1c;
constexpr BYTE kBmpStringTag = 0x1e;

// What CryptDecodeObjectEx made of some bytes, in the one block it
// allocated; empty when they did not decode as that structure.
template <typename Structure> class Decoded {
public:
    Decoded(LPCSTR structType, const BYTE* data, DWORD size)
    {
        void* block = nullptr;
        DWORD blockSize = 0;
        if (CryptDecodeObjectEx(
                X509_ASN_ENCODING, structType, data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &block, &blockSize))
            block_.reset(block);
    }

    explicit operator bool() const { return static_cast<bool>(block_); }
    const Structure* operator->() const { return static_cast<const Structure*>(block_.get()); }

private:
    LocalBuffer block_;
};

// A name that does not decode makes the whole certificate undecodable.
struct Undecodable { };

// Every character the length counts, a NUL among them: a name value cut
// there would show another name.
std::string utf8Of(const WCHAR* text, std::size_t length) { return utf8FromUnits(text, length); }

// Whether the value, as the certificate encodes it, ends in a NUL character
// (a unit of zero bytes: two in a BMPString, four in a UniversalString).
bool endsInNul(const Bytes& encoding)
{
    const std::optional<DerElement> element = derElement(encoding.data(), encoding.size());
    const std::size_t unit = element->tag == kBmpStringTag ? 2 : element->tag == kUniversalStringTag ? 4 : 1;
    return element->contentSize >= unit
        && std::all_of(encoding.end() - static_cast<std::ptrdiff_t>(unit), encoding.end(), [](BYTE b) { return b == 0; });
}

// A text value's characters. crypt32 may count a terminator in the length
// (Wine's does for a UTF8String): the certificate's bytes tell whether the
// value itself ends in a NUL.
std::string valueText(const CERT_RDN_ATTR& attribute, const Bytes* encoding)
{
    const auto* text = reinterpret_cast<const WCHAR*>(attribute.Value.pbData);
    std::size_t length = attribute.Value.cbData / sizeof(WCHAR);
    if (length && text[length - 1] == WCHAR {} && encoding && !endsInNul(*encoding))
        --length;
    return utf8Of(text, length);
}

std::string utf8Of(const WCHAR* text) { return text ? utf8Of(text, std::wcslen(text)) : std::string(); }

// The attribute types that RFC 4514 names; any other goes by its number.
struct ShortName {
    const char* objectId;
    const char* name;
};

constexpr ShortName kShortNames[] = {
    { szOID_COMMON_NAME, "CN" },
    { szOID_LOCALITY_NAME, "L" },
    { szOID_STATE_OR_PROVINCE_NAME, "ST" },
    { szOID_ORGANIZATION_NAME, "O" },
    { szOID_ORGANIZATIONAL_UNIT_NAME, "OU" },
    { szOID_COUNTRY_NAME, "C" },
    { szOID_STREET_ADDRESS, "STREET" },
    { szOID_DOMAIN_COMPONENT, "DC" },
    { "0.9.2342.19200300.100.1.1", "UID" },
};

const char* shortNameOf(const char* objectId)
{
    const auto* found = std::find_if(std::begin(kShortNames), std::end(kShortNames),
        [objectId](const ShortName& row) { return std::strcmp(row.objectId, objectId) == 0; });
    return found == std::end(kShortNames) ? nullptr : found->name;
}

bool isText(DWORD valueType)
{
    const DWORD type = valueType & CERT_RDN_TYPE_MASK;
    return type != CERT_RDN_ENCODED_BLOB && type != CERT_RDN_OCTET_STRING;
}

// RFC 4514's escapes: the separators and quotes anywhere, a space or '#'
// first, a space last, and NUL.
std::string escaped(const std::string& value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\0') {
            out += "\\00";
            continue;
        }
        if (std::strchr("\"+,;<>\\", c) || (i == 0 && (c == ' ' || c == '#')) || (i + 1 == value.size() && c == ' '))
            out += '\\';
        out += c;
    }
    return out;
}

// A value without a short name or text is written '#' and the hexadecimal of
// its encoding as the certificate holds it; never encoded again, which would
// check each character against its type and refuse what CAs do issue.
std::string attributeText(const CERT_RDN_ATTR& attribute, const Bytes* encoding)
{
    const char* shortName = shortNameOf(attribute.pszObjId);
    if (shortName && isText(attribute.dwValueType))
        return std::string(shortName) + "=" + escaped(valueText(attribute, encoding));
    return std::string(shortName ? shortName : attribute.pszObjId) + "=#" + (encoding ? hexEncode(*encoding) : "");
}

// The last RDN first, RDNs joined by ',' and the attributes of one by '+'.
std::string rfc4514Name(const CERT_NAME_BLOB& name)
{
    const Decoded<CERT_NAME_INFO> info(X509_UNICODE_NAME, name.pbData, name.cbData);
    if (!info)
        throw Undecodable {};
    // What crypt32 decoded, attribute by attribute; a name that it reads in
    // another shape (BER that is not DER) has its encodings unread.
    auto encodings = nameValueEncodings(name);
    if (encodings && encodings->size() != info->cRDN)
        encodings.reset();
    std::string text;
    for (DWORD r = info->cRDN; r-- > 0;) {
        const CERT_RDN& rdn = info->rgRDN[r];
        const bool encoded = encodings && (*encodings)[r].size() == rdn.cRDNAttr;
        for (DWORD a = 0; a < rdn.cRDNAttr; ++a)
            text += (a ? "+" : "") + attributeText(rdn.rgRDNAttr[a], encoded ? &(*encodings)[r][a] : nullptr);
        if (r)
            text += ',';
    }
    return text;
}

// Big-endian hexadecimal of the INTEGER's two's complement, as it is encoded.
std::string serialText(const CRYPT_INTEGER_BLOB& serial)
{
    return hexEncode(reverseBytes(serial.pbData, serial.cbData));
}

std::optional<std::string> isoTime(const FILETIME& time)
{
    SYSTEMTIME utc {};
    if (!FileTimeToSystemTime(&time, &utc))
        return std::nullopt;
    // Room for any WORD in every field, though FileTimeToSystemTime gives none wider than the pattern.
    char text[sizeof "65535-65535-65535T65535:65535:65535Z"];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", unsigned { utc.wYear }, unsigned { utc.wMonth },
        unsigned { utc.wDay }, unsigned { utc.wHour }, unsigned { utc.wMinute }, unsigned { utc.wSecond });
    return std::string(text);
}

struct KeyUsageBit {
    std::size_t byte;
    BYTE mask;
    const char* name;
};

// RFC 5280's names, in the order of their bits.
constexpr KeyUsageBit kKeyUsageBits[] = {
    { 0, CERT_DIGITAL_SIGNATURE_KEY_USAGE, "digitalSignature" },
    { 0, CERT_NON_REPUDIATION_KEY_USAGE, "nonRepudiation" },
    { 0, CERT_KEY_ENCIPHERMENT_KEY_USAGE, "keyEncipherment" },
    { 0, CERT_DATA_ENCIPHERMENT_KEY_USAGE, "dataEncipherment" },
    { 0, CERT_KEY_AGREEMENT_KEY_USAGE, "keyAgreement" },
    { 0, CERT_KEY_CERT_SIGN_KEY_USAGE, "keyCertSign" },
    { 0, CERT_CRL_SIGN_KEY_USAGE, "cRLSign" },
    { 0, CERT_ENCIPHER_ONLY_KEY_USAGE, "encipherOnly" },
    { 1, CERT_DECIPHER_ONLY_KEY_USAGE, "decipherOnly" },
};

void addKeyUsage(Json& record, CERT_INFO* info)
{
    BYTE usage[2] = {};
    // FALSE without the extension: the certificate says nothing.
    if (!CertGetIntendedKeyUsage(X509_ASN_ENCODING, info, usage, sizeof usage))
        return;
    Json names = Json::array();
    for (const KeyUsageBit& bit : kKeyUsageBits)
        if (usage[bit.byte] & bit.mask)
            names.push_back(bit.name);
    record["keyUsage"] = names;
}

// ICP-Brasil's otherName fields of the alternative name and where their
// number sits: the holder's birth date (ddmmyyyy) comes before a CPF.
struct TaxpayerField {
    const char* objectId;
    const char* key;
    std::size_t offset;
    std::size_t digits;
    bool exactLength;
};

constexpr TaxpayerField kTaxpayerFields[] = {
    { "2.16.76.1.3.1", "cpf", 8, 11, false }, // the holder of a personal certificate
    { "2.16.76.1.3.4", "cpf", 8, 11, false }, // the person responsible for a company
    { "2.16.76.1.3.3", "cnpj", 0, 14, true },
};

// The field's characters: a text value's, or an OCTET STRING's bytes.
std::optional<std::string> otherNameText(const CERT_OTHER_NAME& name)
{
    const Decoded<CERT_NAME_VALUE> value(X509_UNICODE_ANY_STRING, name.Value.pbData, name.Value.cbData);
    if (!value)
        return std::nullopt;
    const DWORD type = value->dwValueType & CERT_RDN_TYPE_MASK;
    if (type == CERT_RDN_OCTET_STRING)
        return std::string(value->Value.pbData, value->Value.pbData + value->Value.cbData);
    if (!isText(type))
        return std::nullopt;
    // A number has no NUL: one that crypt32 counted as a terminator goes.
    const auto* text = reinterpret_cast<const WCHAR*>(value->Value.pbData);
    return utf8Of(text, std::find(text, text + value->Value.cbData / sizeof(WCHAR), WCHAR {}) - text);
}

void addTaxpayerNumbers(Json& record, CERT_INFO* info)
{
    const CERT_EXTENSION* extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    if (!extension)
        return;
    const Decoded<CERT_ALT_NAME_INFO> names(X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData);
    for (DWORD i = 0; names && i < names->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice != CERT_ALT_NAME_OTHER_NAME)
            continue;
        const auto* field = std::find_if(std::begin(kTaxpayerFields), std::end(kTaxpayerFields),
            [&](const TaxpayerField& row) { return std::strcmp(row.objectId, entry.pOtherName->pszObjId) == 0; });
        if (field == std::end(kTaxpayerFields) || record.contains(field->key))
            continue;
        const std::optional<std::string> text = otherNameText(*entry.pOtherName);
        const std::size_t end = field->offset + field->digits;
        if (!text || text->size() < end || (field->exactLength && text->size() != end)
            || text->find_first_not_of("0123456789") < end)
            continue;
        record[field->key] = text->substr(field->offset, field->digits);
    }
}

std::string thumbprintOf(PCCERT_CONTEXT certificate)
{
    BYTE hash[kSha1Length] = {};
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size))
        return {};
    return hexEncode(hash, std::min<std::size_t>(size, sizeof hash));
}

// The certificate's key link, when it has one.
void addKeyLink(Json& record, PCCERT_CONTEXT certificate)
{
    DWORD size = 0;
    record["hasPrivateKey"] = false;
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
        return;
    // Pointer-aligned: the record's pointers lead into the same block.
    std::vector<void*> block(size / sizeof(void*) + 1);
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, block.data(), &size)
        || size < sizeof(CRYPT_KEY_PROV_INFO))
        return;
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(block.data());
    record["hasPrivateKey"] = true;
    record["provider"] = utf8Of(info->pwszProvName);
    record["providerType"] = info->dwProvType;
    record["container"] = utf8Of(info->pwszContainerName);
}

} // namespace

Json certificateDetails(PCCERT_CONTEXT certificate)
{
    CERT_INFO* info = certificate->pCertInfo;
    try {
        Json record = { { "decodable", true }, { "subject", rfc4514Name(info->Subject) },
            { "issuer", rfc4514Name(info->Issuer) }, { "serialNumber", serialText(info->SerialNumber) } };
        for (const auto& [key, time] : { std::pair { "notBefore", info->NotBefore }, { "notAfter", info->NotAfter } })
            if (const std::optional<std::string> text = isoTime(time))
                record[key] = *text;
        addKeyUsage(record, info);
        addTaxpayerNumbers(record, info);
        return record;
    } catch (const Undecodable&) {
        return { { "decodable", false } };
    }
}

Json certificateDetails(const Bytes& der, const std::string& thumbprint)
{
    const CertificateContext certificate(
        CertCreateCertificateContext(kCertificateEncoding, der.data(), static_cast<DWORD>(der.size())));
    Json record = certificate ? certificateDetails(certificate.get()) : Json { { "decodable", false } };
    record["thumbprint"] = thumbprint;
    return record;
}

Json storeCertificates()
{
    const CertificateStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"));
    if (!store)
        throw std::runtime_error(kCertOpenStoreFailed);
    Json records = Json::array();
    CertificateContext current;
    // Each step frees the context that it is handed.
    while ((current = CertificateContext(CertEnumCertificatesInStore(store.get(), current.release())))) {
        Json record = certificateDetails(current.get());
        record["thumbprint"] = thumbprintOf(current.get());
        addKeyLink(record, current.get());
        records.push_back(std::move(record));
    }
    return records;
}
