#include "AnsiText.h"

#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace {

// Names of the ANSI code page for the C runtime: Windows runtimes know it as
// ".ACP"; the Linux stand-in's ANSI code page is UTF-8.
constexpr const char* kAnsiLocales[] = {".ACP", "C.UTF-8", "en_US.UTF-8"};

// Puts LC_CTYPE on the ANSI code page for the conversion and restores the
// process's setting afterwards.
class AnsiCharacterType {
public:
    AnsiCharacterType()
    {
        const char* current = std::setlocale(LC_CTYPE, nullptr);
        previous_ = current ? current : "C";
        for (const char* name : kAnsiLocales)
            if (std::setlocale(LC_CTYPE, name))
                return;
    }
    ~AnsiCharacterType() { std::setlocale(LC_CTYPE, previous_.c_str()); }
    AnsiCharacterType(const AnsiCharacterType&) = delete;
    AnsiCharacterType& operator=(const AnsiCharacterType&) = delete;

private:
    std::string previous_;
};

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void appendUtf8(std::string& text, char32_t code)
{
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = kReplacementCharacter;
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

template <typename Unit> std::string utf8FromUnits(const Unit* units, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char32_t code = static_cast<char32_t>(units[i]);
        if (sizeof(Unit) == 2 && isHighSurrogate(code) && i + 1 < count
            && isLowSurrogate(static_cast<char32_t>(units[i + 1]))) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char32_t>(units[i + 1]) - 0xDC00);
            ++i;
        }
        appendUtf8(text, code);
    }
    return text;
}

template std::string utf8FromUnits(const char16_t*, std::size_t);
template std::string utf8FromUnits(const char32_t*, std::size_t);
template std::string utf8FromUnits(const wchar_t*, std::size_t);

std::string utf8FromWide(const std::vector<WCHAR>& wide) { return utf8FromUnits(wide.data(), wide.size()); }

std::string ansiFromWide(const WCHAR* wide)
{
    std::string text;
    if (!wide)
        return text;
    AnsiCharacterType ansi;
    // MB_CUR_MAX is at least 1 in every locale.
    std::vector<char> character(static_cast<std::size_t>(MB_CUR_MAX));
    std::mbstate_t state{};
    // One character at a time, so that one the code page cannot hold spoils
    // only itself.
    for (const WCHAR* next = wide; *next; ++next) {
        const std::size_t size = std::wcrtomb(character.data(), static_cast<wchar_t>(*next), &state);
        if (size == static_cast<std::size_t>(-1)) {
            text += '?';
            state = std::mbstate_t{};
        } else {
            text.append(character.data(), size);
        }
    }
    return text;
}

std::optional<std::vector<WCHAR>> wideFromAnsi(const std::string& ansi, DWORD flags)
{
    // Empty text fails the count (length 0).
    const int length = static_cast<int>(ansi.size());
    const int count = MultiByteToWideChar(CP_ACP, flags, ansi.data(), length, nullptr, 0);
    if (count <= 0)
        return std::nullopt;
    std::vector<WCHAR> wide(static_cast<std::size_t>(count));
    if (MultiByteToWideChar(CP_ACP, flags, ansi.data(), length, wide.data(), count) != count)
        return std::nullopt;
    return wide;
}

std::string utf8FromAnsi(const std::string& ansi)
{
    const std::optional<std::vector<WCHAR>> wide = wideFromAnsi(ansi, 0);
    return wide ? utf8FromWide(*wide) : ansi;
}
