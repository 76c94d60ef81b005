// Wide (UTF-16 on Windows, wchar_t on the Linux stand-in) names turned into
// the 8-bit text of the machine's ANSI code page, which the A entry points
// expect.
#pragma once

#include <windows.h>

#include <string>

// Characters that the code page cannot hold become '?', as Windows writes
// them; the result is sized in bytes, so multi-byte characters survive.
std::string narrowText(const WCHAR* wide);
