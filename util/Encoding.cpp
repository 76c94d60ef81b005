#include "Encoding.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "EncodingMessages.h"

namespace {

constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
static_assert(kBase64Alphabet.size() == 64);
constexpr char kHexDigits[] = "0123456789abcdef";

// Each byte's index in the base64 alphabet, or -1 for "=" and every other
// byte: one lookup per character of texts that run to megabytes.
struct Base64Indexes {
    std::array<signed char, 256> of {};
    constexpr Base64Indexes()
    {
        for (signed char& index : of)
            index = -1;
        for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i)
            of[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<signed char>(i);
    }
};
constexpr Base64Indexes kBase64Indexes;

int base64Index(char c) { return kBase64Indexes.of[static_cast<unsigned char>(c)]; }

int hexValue(char c)
{
    if (c == '\0')
        return 15;
    const char* hit = std::strchr(kHexDigits, c);
    return hit ? static_cast<int>(hit - kHexDigits) : 15;
}

bool isLineBreak(char c) { return c == '\n' || c == '\r'; }

bool isClassicSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string base64Encode(const unsigned char* data, std::size_t length)
{
    // Sized once and filled in place: the padding is already there.
    std::string text((length + 2) / 3 * 4, '=');
    char* out = &text[0];
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const unsigned b0 = data[i], b1 = data[i + 1], b2 = data[i + 2];
        *out++ = kBase64Alphabet[b0 >> 2];
        *out++ = kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = kBase64Alphabet[((b1 & 15) << 2) | (b2 >> 6)];
        *out++ = kBase64Alphabet[b2 & 63];
    }
    if (length - i == 2) {
        const unsigned b0 = data[i], b1 = data[i + 1];
        *out++ = kBase64Alphabet[b0 >> 2];
        *out++ = kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = kBase64Alphabet[(b1 & 15) << 2];
    } else if (length - i == 1) {
        const unsigned b0 = data[i];
        *out++ = kBase64Alphabet[b0 >> 2];
        *out++ = kBase64Alphabet[(b0 & 3) << 4];
    }
    return text;
}

std::string base64Encode(const Bytes& data) { return base64Encode(data.data(), data.size()); }

Bytes base64Decode(const std::string& text)
{
    // Read in place, line breaks skipped: a value may run to megabytes. A
    // trailing incomplete group is dropped, so padding is judged on the last
    // complete group and the length matches what is written.
    const std::size_t groups = (text.size() - std::count_if(text.begin(), text.end(), isLineBreak)) / 4;
    Bytes out(groups * 3);
    std::size_t length = out.size(), next = 0, done = 0, filled = 0;
    char group[4];
    for (auto c = text.begin(); done < groups; ++c) {
        if (isLineBreak(*c))
            continue;
        group[filled++] = *c;
        if (filled < 4)
            continue;
        filled = 0;
        if (++done == groups && group[3] == '=')
            length -= group[2] == '=' ? 2 : 1;
        const int i0 = base64Index(group[0]), i1 = base64Index(group[1]);
        const int i2 = base64Index(group[2]), i3 = base64Index(group[3]);
        const unsigned v0 = std::max(i0, 0), v1 = std::max(i1, 0);
        const unsigned v2 = std::max(i2, 0), v3 = std::max(i3, 0);
        // Padding writes nothing: the length has dropped the bytes that it
        // stands for, so no group writes past the length.
        out[next++] = static_cast<unsigned char>((v0 << 2) | ((v1 >> 4) & 3));
        if (i2 >= 0)
            out[next++] = static_cast<unsigned char>((v1 << 4) | ((v2 >> 2) & 15));
        if (i3 >= 0)
            out[next++] = static_cast<unsigned char>((v2 << 6) | (v3 & 63));
    }
    out.resize(length);
    return out;
}

bool isBase64(const std::string& text)
{
    std::size_t count = 0, padding = 0;
    for (char c : text) {
        if (isLineBreak(c))
            continue;
        ++count;
        if (c == '=')
            ++padding;
        else if (padding > 0 || base64Index(c) < 0)
            return false;
    }
    return count % 4 == 0 && padding <= 2;
}

std::string hexEncode(const unsigned char* data, std::size_t length)
{
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text += kHexDigits[data[i] >> 4];
        text += kHexDigits[data[i] & 15];
    }
    return text;
}

std::string hexEncode(const Bytes& data) { return hexEncode(data.data(), data.size()); }

Bytes hexDecode(const std::string& text)
{
    Bytes out(text.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<unsigned char>((hexValue(text[2 * i]) << 4) | hexValue(text[2 * i + 1]));
    return out;
}

Bytes reverseBytes(const unsigned char* data, std::size_t length)
{
    return Bytes(std::make_reverse_iterator(data + length), std::make_reverse_iterator(data));
}

std::string fixedFieldText(const unsigned char* field, std::size_t widthPlusOne)
{
    const std::size_t width = widthPlusOne ? widthPlusOne - 1 : 0;
    const auto* end = std::find(field, field + width, '\0');
    return trim(std::string(field, end));
}

std::string trim(const std::string& text)
{
    std::size_t end = text.size();
    while (end > 0 && isClassicSpace(text[end - 1]))
        --end;
    std::size_t begin = 0;
    while (begin < end && isClassicSpace(text[begin]))
        ++begin;
    return text.substr(begin, end - begin);
}

std::string textUpToZero(const Bytes& bytes)
{
    return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), '\0'));
}

bool Base64Stream::add(const char* text, std::size_t size, Bytes& out)
{
    const char* end = text + size;
    for (const char* c = text; c < end && !refused_;) {
        // Whole groups of alphabet characters, as almost all of a value is.
        if (filled_ == 0 && padding_ == 0) {
            for (; end - c >= 4; c += 4) {
                const int i0 = base64Index(c[0]), i1 = base64Index(c[1]), i2 = base64Index(c[2]),
                          i3 = base64Index(c[3]);
                if ((i0 | i1 | i2 | i3) < 0)
                    break;
                const unsigned group = unsigned(i0) << 18 | unsigned(i1) << 12 | unsigned(i2) << 6 | unsigned(i3);
                const unsigned char bytes[] = { static_cast<unsigned char>(group >> 16),
                    static_cast<unsigned char>(group >> 8), static_cast<unsigned char>(group) };
                out.insert(out.end(), bytes, bytes + 3);
            }
            if (c == end)
                break;
        }
        const char next = *c++;
        if (isLineBreak(next))
            continue;
        const int index = base64Index(next);
        if (next == '=') {
            // At most two, and only at the end: the group they close is the last.
            refused_ = ++padding_ > 2;
        } else {
            refused_ = index < 0 || padding_ > 0;
            value_ |= unsigned(index < 0 ? 0 : index) << (18 - 6 * filled_);
        }
        if (refused_ || ++filled_ < 4)
            continue;
        // A group of four: three bytes, less one for each "=".
        const unsigned char bytes[] = { static_cast<unsigned char>(value_ >> 16),
            static_cast<unsigned char>(value_ >> 8), static_cast<unsigned char>(value_) };
        out.insert(out.end(), bytes, bytes + 3 - padding_);
        value_ = 0;
        filled_ = 0;
    }
    return !refused_;
}

void requireBase64(const std::string& text)
{
    if (!isBase64(text))
        throw std::runtime_error(kDataNotBase64);
}
