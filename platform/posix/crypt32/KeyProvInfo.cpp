#include "crypt32/KeyProvInfo.h"

#include <cstring>
#include <string>

#include "crypt32/CryptFailure.h"

namespace standin {
namespace {

constexpr DWORD kContainerPresent = 0x1;
constexpr DWORD kProviderPresent = 0x2;

void putWord(Bytes& out, DWORD value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<unsigned char>((value >> shift) & 0xff));
}

void putText(Bytes& out, LPCWSTR text)
{
    if (!text)
        return;
    const std::size_t length = std::wcslen(text);
    putWord(out, static_cast<DWORD>(length));
    for (std::size_t i = 0; i < length; ++i)
        putWord(out, static_cast<DWORD>(text[i]));
}

struct Unpacked {
    DWORD present = 0;
    CRYPT_KEY_PROV_INFO info {};
    std::wstring container;
    std::wstring provider;
};

class FlatReader {
public:
    explicit FlatReader(const Bytes& flat)
        : flat_(flat)
    {
    }

    DWORD word()
    {
        if (flat_.size() - at_ < sizeof(DWORD))
            failWith(CRYPT_E_NOT_FOUND);
        DWORD value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | flat_[at_ + static_cast<std::size_t>(i)];
        at_ += sizeof(DWORD);
        return value;
    }

    std::wstring text()
    {
        const DWORD length = word();
        if ((flat_.size() - at_) / sizeof(DWORD) < length)
            failWith(CRYPT_E_NOT_FOUND);
        std::wstring value;
        for (DWORD i = 0; i < length; ++i)
            value += static_cast<WCHAR>(word());
        return value;
    }

    bool atEnd() const { return at_ == flat_.size(); }

private:
    const Bytes& flat_;
    std::size_t at_ = 0;
};

Unpacked unpack(const Bytes& flat)
{
    FlatReader reader(flat);
    Unpacked out;
    out.present = reader.word();
    out.info.dwProvType = reader.word();
    out.info.dwFlags = reader.word();
    out.info.dwKeySpec = reader.word();
    if (out.present & kContainerPresent)
        out.container = reader.text();
    if (out.present & kProviderPresent)
        out.provider = reader.text();
    // The records keep a place for provider parameters, which are never
    // written: a record with any is damaged.
    if (reader.word() != 0 || !reader.atEnd())
        failWith(CRYPT_E_NOT_FOUND);
    return out;
}

std::size_t alignUp(std::size_t offset, std::size_t alignment)
{
    return (offset + alignment - 1) / alignment * alignment;
}

// Offsets of each part inside the caller's buffer, and the total.
struct Layout {
    std::size_t container, provider, size;
};

Layout layoutOf(const Unpacked& unpacked)
{
    Layout layout {};
    std::size_t at = sizeof(CRYPT_KEY_PROV_INFO);
    layout.container = at;
    if (unpacked.present & kContainerPresent)
        at += (unpacked.container.size() + 1) * sizeof(WCHAR);
    layout.provider = at;
    if (unpacked.present & kProviderPresent)
        at += (unpacked.provider.size() + 1) * sizeof(WCHAR);
    layout.size = alignUp(at, alignof(CRYPT_KEY_PROV_INFO));
    return layout;
}

} // namespace

Bytes flattenKeyProvInfo(const CRYPT_KEY_PROV_INFO& info)
{
    // No caller hands the provider parameters.
    if (info.cProvParam != 0)
        failWith(E_INVALIDARG);
    Bytes out;
    putWord(out, (info.pwszContainerName ? kContainerPresent : 0) | (info.pwszProvName ? kProviderPresent : 0));
    putWord(out, info.dwProvType);
    putWord(out, info.dwFlags);
    putWord(out, info.dwKeySpec);
    putText(out, info.pwszContainerName);
    putText(out, info.pwszProvName);
    putWord(out, 0); // the count of provider parameters
    return out;
}

DWORD keyProvInfoSize(const Bytes& flat) { return static_cast<DWORD>(layoutOf(unpack(flat)).size); }

void unflattenKeyProvInfo(const Bytes& flat, void* buffer)
{
    const Unpacked unpacked = unpack(flat);
    const Layout layout = layoutOf(unpacked);
    auto* base = static_cast<BYTE*>(buffer);
    std::memset(base, 0, layout.size);
    CRYPT_KEY_PROV_INFO info = unpacked.info;
    auto placeText = [base](const std::wstring& text, std::size_t offset) {
        auto* out = reinterpret_cast<WCHAR*>(base + offset);
        std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
        return out;
    };
    info.pwszContainerName
        = (unpacked.present & kContainerPresent) ? placeText(unpacked.container, layout.container) : nullptr;
    info.pwszProvName = (unpacked.present & kProviderPresent) ? placeText(unpacked.provider, layout.provider) : nullptr;
    std::memcpy(base, &info, sizeof info);
}

} // namespace standin
