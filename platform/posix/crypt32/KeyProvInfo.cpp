#include "crypt32/KeyProvInfo.h"

#include <cstring>
#include <string>
#include <vector>

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

struct ProvParam {
    DWORD param;
    DWORD flags;
    Bytes data;
};

struct Unpacked {
    DWORD present = 0;
    CRYPT_KEY_PROV_INFO info {};
    std::wstring container;
    std::wstring provider;
    std::vector<ProvParam> params;
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

    Bytes bytes(DWORD size)
    {
        if (flat_.size() - at_ < size)
            failWith(CRYPT_E_NOT_FOUND);
        Bytes value(
            flat_.begin() + static_cast<std::ptrdiff_t>(at_), flat_.begin() + static_cast<std::ptrdiff_t>(at_ + size));
        at_ += size;
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
    const DWORD count = reader.word();
    for (DWORD i = 0; i < count; ++i) {
        ProvParam param;
        param.param = reader.word();
        param.flags = reader.word();
        param.data = reader.bytes(reader.word());
        out.params.push_back(std::move(param));
    }
    if (!reader.atEnd())
        failWith(CRYPT_E_NOT_FOUND);
    out.info.cProvParam = count;
    return out;
}

std::size_t alignUp(std::size_t offset, std::size_t alignment)
{
    return (offset + alignment - 1) / alignment * alignment;
}

// Offsets of each part inside the caller's buffer, and the total.
struct Layout {
    std::size_t container, provider, params, data, size;
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
    at = alignUp(at, alignof(CRYPT_KEY_PROV_PARAM));
    layout.params = at;
    at += unpacked.params.size() * sizeof(CRYPT_KEY_PROV_PARAM);
    layout.data = at;
    for (const ProvParam& param : unpacked.params)
        at += param.data.size();
    layout.size = alignUp(at, alignof(CRYPT_KEY_PROV_INFO));
    return layout;
}

} // namespace

Bytes flattenKeyProvInfo(const CRYPT_KEY_PROV_INFO& info)
{
    Bytes out;
    putWord(out, (info.pwszContainerName ? kContainerPresent : 0) | (info.pwszProvName ? kProviderPresent : 0));
    putWord(out, info.dwProvType);
    putWord(out, info.dwFlags);
    putWord(out, info.dwKeySpec);
    putText(out, info.pwszContainerName);
    putText(out, info.pwszProvName);
    const DWORD count = info.rgProvParam ? info.cProvParam : 0;
    putWord(out, count);
    for (DWORD i = 0; i < count; ++i) {
        const CRYPT_KEY_PROV_PARAM& param = info.rgProvParam[i];
        putWord(out, param.dwParam);
        putWord(out, param.dwFlags);
        const DWORD size = param.pbData ? param.cbData : 0;
        putWord(out, size);
        if (size)
            out.insert(out.end(), param.pbData, param.pbData + size);
    }
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
    info.rgProvParam
        = unpacked.params.empty() ? nullptr : reinterpret_cast<CRYPT_KEY_PROV_PARAM*>(base + layout.params);
    std::size_t data = layout.data;
    for (std::size_t i = 0; i < unpacked.params.size(); ++i) {
        const ProvParam& param = unpacked.params[i];
        CRYPT_KEY_PROV_PARAM placed { param.param, param.data.empty() ? nullptr : base + data,
            static_cast<DWORD>(param.data.size()), param.flags };
        if (!param.data.empty())
            std::memcpy(base + data, param.data.data(), param.data.size());
        data += param.data.size();
        std::memcpy(base + layout.params + i * sizeof(CRYPT_KEY_PROV_PARAM), &placed, sizeof placed);
    }
    std::memcpy(base, &info, sizeof info);
}

} // namespace standin
