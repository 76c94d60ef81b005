// Wide text of the stand-in (wchar_t, one code point a unit) and the UTF-8
// of its files and of its ANSI code page.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace standin {

void appendUtf8(std::string& out, char32_t c);

// The UTF-8 sequence at text[i] as one code point; answers its length, or 0
// when the bytes there are not UTF-8.
int decodeUtf8(const unsigned char* text, std::size_t size, std::size_t i, char32_t& out);

// Up to the terminator.
std::string utf8FromWide(const WCHAR* text);

// Bytes that are not UTF-8 become U+FFFD.
std::wstring wideFromUtf8(const std::string& text);

}  // namespace standin
