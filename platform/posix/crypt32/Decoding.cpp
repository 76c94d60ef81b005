// crypt32 decoding: names with their values as Unicode text, single values,
// alternative names; the key usage and extension lookups of a certificate.
// A decoded structure is laid out as crypt32 lays it out: the structure
// first, then everything it points to, in one block that one LocalFree (or
// the caller's own free) releases.

// OpenSSL first: <wincrypt.h> defines X509_NAME as crypt32's structure code.
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "crypt32/Asn1.h"
#include "machine/FaultSwitch.h"

namespace {

using standin::Bytes;
using standin::failWith;

// The answer while it is built: offsets into one buffer, and the places that
// become pointers once the block's address is known.
class FlatAnswer {
public:
    template <typename T> std::size_t reserve(std::size_t count = 1) { return place(nullptr, sizeof(T) * count); }
    std::size_t bytes(const void* data, std::size_t size) { return place(data, size); }

    template <typename T> void put(std::size_t offset, const T& value)
    {
        std::memcpy(buffer_.data() + offset, &value, sizeof(T));
    }
    // The pointer at `offset` is to lead to `target`.
    void point(std::size_t offset, std::size_t target) { links_.emplace_back(offset, target); }
    // A blob at `offset` holding these bytes; `extra` zero bytes follow them
    // (a text's terminator) and are not counted.
    void blob(std::size_t offset, const Bytes& data, std::size_t extra = 0)
    {
        put(offset, static_cast<DWORD>(data.size()));
        if (data.empty() && extra == 0)
            return;
        Bytes stored(data);
        stored.resize(data.size() + extra);
        point(offset + offsetof(CRYPT_DATA_BLOB, pbData), bytes(stored.data(), stored.size()));
    }
    // A zero-terminated text that the pointer at `offset` leads to.
    void text(std::size_t offset, const std::string& value) { point(offset, bytes(value.c_str(), value.size() + 1)); }
    void wideText(std::size_t offset, const std::wstring& value)
    {
        point(offset, bytes(value.c_str(), (value.size() + 1) * sizeof(WCHAR)));
    }

    std::size_t size() const { return buffer_.size(); }
    void writeTo(BYTE* block) const
    {
        std::memcpy(block, buffer_.data(), buffer_.size());
        for (const auto& [offset, target] : links_) {
            BYTE* address = block + target;
            std::memcpy(block + offset, &address, sizeof(address));
        }
    }

private:
    std::size_t place(const void* data, std::size_t size)
    {
        constexpr std::size_t kAlignment = alignof(std::max_align_t);
        const std::size_t at = (buffer_.size() + kAlignment - 1) / kAlignment * kAlignment;
        buffer_.resize(at + size);
        if (data && size)
            std::memcpy(buffer_.data() + at, data, size);
        return at;
    }

    Bytes buffer_;
    std::vector<std::pair<std::size_t, std::size_t>> links_;
};

// A CERT_RDN_ATTR ends in a CERT_NAME_VALUE's members.
static_assert(
    offsetof(CERT_RDN_ATTR, Value) - offsetof(CERT_RDN_ATTR, dwValueType) == offsetof(CERT_NAME_VALUE, Value));

std::wstring wideFromUtf8(const std::string& text)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        failWith(CRYPT_E_ASN1_CORRUPT);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::wstring wideText(const ASN1_STRING* value)
{
    unsigned char* utf8 = nullptr;
    const int size = ASN1_STRING_to_UTF8(&utf8, value);
    if (size < 0) {
        ERR_clear_error();
        failWith(CRYPT_E_ASN1_CORRUPT);
    }
    const std::string text(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(size));
    OPENSSL_free(utf8);
    return wideFromUtf8(text);
}

// A CERT_NAME_VALUE (or the value part of a CERT_RDN_ATTR) at `offset`.
void putValue(FlatAnswer& answer, std::size_t offset, const ASN1_TYPE* value)
{
    const std::size_t blob = offset + offsetof(CERT_NAME_VALUE, Value);
    const int asn1Type = ASN1_TYPE_get(value);
    const standin::TextType* text = standin::textTypeOf(asn1Type);
    if (text) {
        const std::wstring wide = wideText(value->value.asn1_string);
        const auto* characters = reinterpret_cast<const BYTE*>(wide.data());
        answer.put(offset, text->type);
        answer.blob(blob, Bytes(characters, characters + wide.size() * sizeof(WCHAR)), sizeof(WCHAR));
    } else if (asn1Type == V_ASN1_OCTET_STRING) {
        const ASN1_STRING* octets = value->value.octet_string;
        const unsigned char* data = ASN1_STRING_get0_data(octets);
        answer.put(offset, static_cast<DWORD>(CERT_RDN_OCTET_STRING));
        answer.blob(blob, Bytes(data, data + ASN1_STRING_length(octets)));
    } else {
        answer.put(offset, static_cast<DWORD>(CERT_RDN_ENCODED_BLOB));
        answer.blob(blob, standin::toDer(i2d_ASN1_TYPE, const_cast<ASN1_TYPE*>(value)));
    }
}

standin::Asn1Type typeOf(const ASN1_STRING* value)
{
    standin::Asn1Type type(standin::orFail(ASN1_TYPE_new(), E_OUTOFMEMORY));
    standin::orFail(ASN1_TYPE_set1(type.get(), ASN1_STRING_type(value), value), E_OUTOFMEMORY);
    return type;
}

FlatAnswer unicodeName(const BYTE* encoded, DWORD size)
{
    const auto name = standin::fromDer<standin::X509Name>(d2i_X509_NAME, encoded, size);
    // The entries in order, each RDN a run of entries with the same set number.
    std::vector<std::vector<const X509_NAME_ENTRY*>> rdns;
    for (int i = 0; i < X509_NAME_entry_count(name.get()); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name.get(), i);
        if (i == 0 || X509_NAME_ENTRY_set(entry) != X509_NAME_ENTRY_set(X509_NAME_get_entry(name.get(), i - 1)))
            rdns.emplace_back();
        rdns.back().push_back(entry);
    }
    FlatAnswer answer;
    const std::size_t info = answer.reserve<CERT_NAME_INFO>();
    answer.put(info, static_cast<DWORD>(rdns.size()));
    if (rdns.empty())
        return answer;
    const std::size_t rdnArray = answer.reserve<CERT_RDN>(rdns.size());
    answer.point(info + offsetof(CERT_NAME_INFO, rgRDN), rdnArray);
    for (std::size_t r = 0; r < rdns.size(); ++r) {
        const std::size_t rdn = rdnArray + r * sizeof(CERT_RDN);
        const std::size_t attributes = answer.reserve<CERT_RDN_ATTR>(rdns[r].size());
        answer.put(rdn, static_cast<DWORD>(rdns[r].size()));
        answer.point(rdn + offsetof(CERT_RDN, rgRDNAttr), attributes);
        for (std::size_t a = 0; a < rdns[r].size(); ++a) {
            const X509_NAME_ENTRY* entry = rdns[r][a];
            const std::size_t attribute = attributes + a * sizeof(CERT_RDN_ATTR);
            answer.text(
                attribute + offsetof(CERT_RDN_ATTR, pszObjId), standin::dottedText(X509_NAME_ENTRY_get_object(entry)));
            putValue(answer, attribute + offsetof(CERT_RDN_ATTR, dwValueType),
                typeOf(X509_NAME_ENTRY_get_data(entry)).get());
        }
    }
    return answer;
}

FlatAnswer unicodeNameValue(const BYTE* encoded, DWORD size)
{
    const auto value = standin::fromDer<standin::Asn1Type>(d2i_ASN1_TYPE, encoded, size);
    FlatAnswer answer;
    putValue(answer, answer.reserve<CERT_NAME_VALUE>(), value.get());
    return answer;
}

using GeneralNames = standin::OpenSslOwner<GENERAL_NAMES, GENERAL_NAMES_free>;

void putEntry(FlatAnswer& answer, std::size_t entry, const GENERAL_NAME* name)
{
    const std::size_t choice = entry + offsetof(CERT_ALT_NAME_ENTRY, pOtherName);
    const auto ia5Text = [&](DWORD kind, const ASN1_IA5STRING* text) {
        answer.put(entry, kind);
        answer.wideText(choice, wideText(text));
    };
    switch (name->type) {
    case GEN_OTHERNAME: {
        // The value without its explicit tag, as crypt32 hands it out.
        const std::size_t other = answer.reserve<CERT_OTHER_NAME>();
        answer.put(entry, static_cast<DWORD>(CERT_ALT_NAME_OTHER_NAME));
        answer.point(choice, other);
        answer.text(other + offsetof(CERT_OTHER_NAME, pszObjId), standin::dottedText(name->d.otherName->type_id));
        answer.blob(other + offsetof(CERT_OTHER_NAME, Value), standin::toDer(i2d_ASN1_TYPE, name->d.otherName->value));
        break;
    }
    case GEN_EMAIL:
        ia5Text(CERT_ALT_NAME_RFC822_NAME, name->d.rfc822Name);
        break;
    case GEN_DNS:
        ia5Text(CERT_ALT_NAME_DNS_NAME, name->d.dNSName);
        break;
    case GEN_URI:
        ia5Text(CERT_ALT_NAME_URL, name->d.uniformResourceIdentifier);
        break;
    case GEN_DIRNAME:
        answer.put(entry, static_cast<DWORD>(CERT_ALT_NAME_DIRECTORY_NAME));
        answer.blob(choice, standin::toDer(i2d_X509_NAME, name->d.directoryName));
        break;
    case GEN_IPADD: {
        const unsigned char* address = ASN1_STRING_get0_data(name->d.iPAddress);
        answer.put(entry, static_cast<DWORD>(CERT_ALT_NAME_IP_ADDRESS));
        answer.blob(choice, Bytes(address, address + ASN1_STRING_length(name->d.iPAddress)));
        break;
    }
    case GEN_RID:
        answer.put(entry, static_cast<DWORD>(CERT_ALT_NAME_REGISTERED_ID));
        answer.text(choice, standin::dottedText(name->d.registeredID));
        break;
    default: // X.400 addresses and EDI party names are not decoded
        failWith(CRYPT_E_ASN1_BADTAG);
    }
}

FlatAnswer alternativeName(const BYTE* encoded, DWORD size)
{
    const auto names = standin::fromDer<GeneralNames>(d2i_GENERAL_NAMES, encoded, size);
    const int count = sk_GENERAL_NAME_num(names.get());
    FlatAnswer answer;
    const std::size_t info = answer.reserve<CERT_ALT_NAME_INFO>();
    answer.put(info, static_cast<DWORD>(count));
    if (count == 0)
        return answer;
    const std::size_t entries = answer.reserve<CERT_ALT_NAME_ENTRY>(static_cast<std::size_t>(count));
    answer.point(info + offsetof(CERT_ALT_NAME_INFO, rgAltEntry), entries);
    for (int i = 0; i < count; ++i)
        putEntry(answer, entries + static_cast<std::size_t>(i) * sizeof(CERT_ALT_NAME_ENTRY),
            sk_GENERAL_NAME_value(names.get(), i));
    return answer;
}

struct Decoder {
    LPCSTR structType;
    FlatAnswer (*decode)(const BYTE*, DWORD);
};

const Decoder kDecoders[] = {
    { X509_UNICODE_NAME, unicodeName },
    { X509_UNICODE_NAME_VALUE, unicodeNameValue },
    { X509_ALTERNATE_NAME, alternativeName },
};

} // namespace

BOOL WINAPI CryptDecodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded, DWORD cbEncoded,
    DWORD dwFlags, PCRYPT_DECODE_PARA pDecodePara, void* pvStructInfo, DWORD* pcbStructInfo)
{
    if (standin::injectFault("CryptDecodeObjectEx"))
        return FALSE;
    return standin::answerOrFail<BOOL>(FALSE, [&]() {
        if (!pcbStructInfo || (!pbEncoded && cbEncoded))
            failWith(E_INVALIDARG);
        if ((dwCertEncodingType & CERT_ENCODING_TYPE_MASK) != X509_ASN_ENCODING)
            failWith(ERROR_FILE_NOT_FOUND);
        const auto* decoder = std::find_if(std::begin(kDecoders), std::end(kDecoders),
            [lpszStructType](const Decoder& row) { return row.structType == lpszStructType; });
        if (decoder == std::end(kDecoders))
            failWith(ERROR_FILE_NOT_FOUND); // no decoder is installed for it
        if (cbEncoded == 0)
            failWith(CRYPT_E_ASN1_EOD);
        const FlatAnswer answer = decoder->decode(pbEncoded, cbEncoded);
        const auto size = static_cast<DWORD>(answer.size());
        if (dwFlags & CRYPT_DECODE_ALLOC_FLAG) {
            if (!pvStructInfo)
                failWith(E_INVALIDARG);
            void* block = pDecodePara && pDecodePara->pfnAlloc ? pDecodePara->pfnAlloc(size) : LocalAlloc(LPTR, size);
            if (!block)
                failWith(E_OUTOFMEMORY);
            answer.writeTo(static_cast<BYTE*>(block));
            *static_cast<void**>(pvStructInfo) = block;
            *pcbStructInfo = size;
        } else if (standin::callerHasRoom(size, pvStructInfo, pcbStructInfo)) {
            answer.writeTo(static_cast<BYTE*>(pvStructInfo));
        }
        return TRUE;
    });
}

PCERT_EXTENSION WINAPI CertFindExtension(LPCSTR pszObjId, DWORD cExtensions, CERT_EXTENSION rgExtensions[])
{
    for (DWORD i = 0; i < cExtensions && pszObjId; ++i)
        if (std::strcmp(rgExtensions[i].pszObjId, pszObjId) == 0)
            return &rgExtensions[i];
    SetLastError(CRYPT_E_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI CertGetIntendedKeyUsage(DWORD dwCertEncodingType, PCERT_INFO pCertInfo, BYTE* pbKeyUsage, DWORD cbKeyUsage)
{
    return standin::answerOrFail<BOOL>(FALSE, [&]() {
        if (!pCertInfo || (!pbKeyUsage && cbKeyUsage))
            failWith(E_INVALIDARG);
        if ((dwCertEncodingType & CERT_ENCODING_TYPE_MASK) != X509_ASN_ENCODING)
            failWith(ERROR_FILE_NOT_FOUND);
        const CERT_EXTENSION* extension
            = CertFindExtension(szOID_KEY_USAGE, pCertInfo->cExtension, pCertInfo->rgExtension);
        // No extension: FALSE with no error, all uses allowed.
        if (!extension)
            failWith(ERROR_SUCCESS);
        using BitString = standin::OpenSslOwner<ASN1_BIT_STRING, ASN1_BIT_STRING_free>;
        const auto bits
            = standin::fromDer<BitString>(d2i_ASN1_BIT_STRING, extension->Value.pbData, extension->Value.cbData);
        std::fill(pbKeyUsage, pbKeyUsage + cbKeyUsage, 0);
        const auto used = std::min<std::size_t>(cbKeyUsage, static_cast<std::size_t>(ASN1_STRING_length(bits.get())));
        std::copy(ASN1_STRING_get0_data(bits.get()), ASN1_STRING_get0_data(bits.get()) + used, pbKeyUsage);
        return TRUE;
    });
}
