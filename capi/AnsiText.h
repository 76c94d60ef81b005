// The 8-bit text of the machine's ANSI code page, which the A entry points
// take and give, next to wide text (UTF-16 on Windows, wchar_t on the Linux
// stand-in, whose ANSI code page is UTF-8) and the UTF-8 of the answers.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Characters that the code page cannot hold become '?', as Windows writes
// them; the result is sized in bytes, so multi-byte characters survive.
std::string ansiFromWide(const WCHAR* wide);

// The text as wide text, without a terminator; nothing when the code page
// does not convert it (with MB_ERR_INVALID_CHARS among `flags`, also when it
// holds bytes that the code page does not define).
std::optional<std::vector<WCHAR>> wideFromAnsi(const std::string& ansi, DWORD flags);

// A name as CryptoAPI gives it, for a JSON answer. Text that does not convert
// is kept as it is; the answer's writer replaces what is not UTF-8.
std::string utf8FromAnsi(const std::string& ansi);

// Text units as UTF-8. Where units are 2 bytes wide (UTF-16, the wide text
// of Windows) surrogate pairs are joined; a lone surrogate, and any value
// past U+10FFFF, becomes U+FFFD. Made for char16_t, char32_t and wchar_t.
template <typename Unit> std::string utf8FromUnits(const Unit* units, std::size_t count);

// Wide text of either width as UTF-8, as above.
std::string utf8FromWide(const std::vector<WCHAR>& wide);
