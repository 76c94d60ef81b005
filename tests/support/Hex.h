// Lower-case hex of any byte sequence, as the token module's scripts and logs
// carry bytes: written here once for the module and the tests that read it.
#pragma once

#include <string>

template <typename ByteSequence> std::string hexOf(const ByteSequence& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0xF];
    }
    return out;
}
