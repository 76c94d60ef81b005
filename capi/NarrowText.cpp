#include "NarrowText.h"

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

}  // namespace

std::string narrowText(const WCHAR* wide)
{
    std::string text;
    if (!wide)
        return text;
    AnsiCharacterType ansi;
    std::vector<char> character(MB_CUR_MAX > 0 ? static_cast<std::size_t>(MB_CUR_MAX) : 1);
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
