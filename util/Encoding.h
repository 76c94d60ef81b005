// The text forms in which binary values cross the command line and the
// answers: base64, lower-case hexadecimal, and PKCS#11's blank-padded fields.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Standard alphabet, "=" padding, no line breaks.
std::string base64Encode(const unsigned char* data, std::size_t length);
std::string base64Encode(const Bytes& data);

// Drops LF and CR, then decodes complete groups of four. Characters outside
// the alphabet are not rejected: they count as zero bits and suppress the
// byte they end, as the callers have always relied on.
Bytes base64Decode(const std::string& text);

// True when the text, once LF and CR are dropped, is standard base64: groups
// of four alphabet characters, at most two "=" and only at the end. The
// empty text is well formed.
bool isBase64(const std::string& text);

// Data to sign: text that is not base64 would decode to bytes the caller
// never sent, so it raises std::runtime_error with kDataNotBase64.
void requireBase64(const std::string& text);

// Base64 checked and decoded as it arrives, in pieces of any size: a text
// that isBase64 accepts decodes to the bytes that base64Decode gives it,
// wherever the pieces are cut, and a text that it refuses is refused at the
// first piece that shows it.
class Base64Stream {
public:
    // Appends the bytes of the groups that the piece completes to `out`;
    // false once the text can no longer be base64 (nothing more is taken).
    bool add(const char* text, std::size_t size, Bytes& out);
    // Whether all that was added is base64, ending on a whole group.
    bool complete() const { return !refused_ && filled_ == 0; }

private:
    // The current group's alphabet indexes, and how many it has.
    unsigned value_ = 0;
    int filled_ = 0;
    int padding_ = 0;
    bool refused_ = false;
};

// Two lower-case digits per byte.
std::string hexEncode(const unsigned char* data, std::size_t length);
std::string hexEncode(const Bytes& data);

// Recognises "0123456789abcdef" only; any other character counts as 15. An
// odd last character is ignored.
Bytes hexDecode(const std::string& text);

Bytes reverseBytes(const unsigned char* data, std::size_t length);

// A fixed-width field, not zero-terminated, given with its width plus one:
// the text up to the first zero byte, trimmed.
std::string fixedFieldText(const unsigned char* field, std::size_t widthPlusOne);
template <std::size_t width> std::string fixedFieldText(const unsigned char (&field)[width])
{
    return fixedFieldText(field, width + 1);
}

// Removes white space of the classic locale at both ends.
std::string trim(const std::string& text);

// The bytes up to the first zero byte, as text.
std::string textUpToZero(const Bytes& bytes);
