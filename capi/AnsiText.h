// The 8-bit text of the machine's ANSI code page, which the A entry points
// take and give, next to wide text (UTF-16 on Windows, wchar_t on the Linux
// stand-in, whose ANSI code page is UTF-8) and the UTF-8 of the answers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Characters that the code page cannot hold become '?', as Windows writes
// them; the result is sized in bytes, so multi-byte characters survive.
std::string ansiFromWide(const WCHAR* wide);

// A name as CryptoAPI gives it, for a JSON answer. Text that does not convert
// is kept as it is; the answer's writer replaces what is not UTF-8.
std::string utf8FromAnsi(const std::string& ansi);

// Wide text of either width as UTF-8: UTF-16 pairs are joined, a lone
// surrogate becomes U+FFFD.
std::string utf8FromWide(const std::vector<WCHAR>& wide);
