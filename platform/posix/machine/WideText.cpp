#include "machine/WideText.h"

namespace standin {

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

int decodeUtf8(const unsigned char* text, std::size_t size, std::size_t i, char32_t& out)
{
    const unsigned char lead = text[i];
    int length;
    char32_t value;
    char32_t minimum;
    if (lead < 0x80)
        return out = lead, 1;
    if ((lead & 0xE0) == 0xC0)
        length = 2, value = lead & 0x1F, minimum = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        length = 3, value = lead & 0x0F, minimum = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        length = 4, value = lead & 0x07, minimum = 0x10000;
    else
        return 0;
    if (i + length > size)
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((text[i + k] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (text[i + k] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    out = value;
    return length;
}

std::string utf8FromWide(const WCHAR* text)
{
    std::string out;
    for (; *text; ++text)
        appendUtf8(out, static_cast<char32_t>(*text));
    return out;
}

std::wstring wideFromUtf8(const std::string& text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::wstring wide;
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const int length = decodeUtf8(bytes, text.size(), i, c);
        wide += static_cast<WCHAR>(length ? c : 0xFFFD);
        i += length ? static_cast<std::size_t>(length) : 1;
    }
    return wide;
}

}  // namespace standin
