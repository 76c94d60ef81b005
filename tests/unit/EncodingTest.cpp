#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "Encoding.h"

namespace {

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(Base64, EncodesFullGroupsAndPadding)
{
    const std::pair<Bytes, const char*> rows[] = { { bytesOf("abc"), "YWJj" }, { bytesOf("ab"), "YWI=" },
        { bytesOf("a"), "YQ==" }, { {}, "" }, { { 0xFF, 0xFE, 0xFD, 0x00, 0x3E, 0x3F }, "//79AD4/" } };
    for (const auto& [bytes, text] : rows)
        EXPECT_EQ(base64Encode(bytes), text);
}

// Line breaks are dropped and only complete groups count, padding judged on
// the last of them; nothing is read past the end. Characters outside the
// alphabet are not rejected: a blank has no index, so its byte is skipped and
// the next one moves up, with the blank counted as zero bits.
TEST(Base64, DecodesAsTheCallersRelyOn)
{
    const std::pair<const char*, Bytes> rows[] = { { "YW\r\nJj", bytesOf("abc") }, { "YQ==", bytesOf("a") },
        { "YWI=", bytesOf("ab") }, { "", {} }, { "\r\n", {} }, { "Y", {} }, { "YWJ", {} }, { "YWJjY", bytesOf("abc") },
        { "YQ==YW", bytesOf("a") }, { "YWJj=", bytesOf("abc") }, { "YW J", { 'a', 9, 0 } }, { "!!!!", { 0, 0, 0 } },
        { "YQ==\nYQ==", { 'a', 'a', 0, 0 } } };
    for (const auto& [text, bytes] : rows)
        EXPECT_EQ(base64Decode(text), bytes) << text;
    EXPECT_EQ(textUpToZero({ 'a', 'b', 0, 'c' }), "ab");
}

// Lower case out; only lower case in, any other digit counting as 15, an odd
// last digit ignored.
TEST(Hex, EncodesLowerCaseAndDecodesOnlyLowerCase)
{
    EXPECT_EQ(hexEncode(Bytes { 0x00, 0x0F, 0xA0, 0xFF }), "000fa0ff");
    const std::pair<std::string, Bytes> rows[] = { { "0aff", { 0x0A, 0xFF } }, { "0AFF", { 0x0F, 0xFF } },
        { "0af", { 0x0A } }, { "", {} }, { "f", {} }, { std::string("a\0", 2), { 0xAF } } };
    for (const auto& [text, bytes] : rows)
        EXPECT_EQ(hexDecode(text), bytes) << text;
}

TEST(Trim, RemovesClassicWhiteSpaceAtBothEndsOnly)
{
    // A non-breaking space in UTF-8 is not classic white space.
    const std::pair<const char*, const char*> rows[]
        = { { " \t\n\v\f\rin side \t\n\v\f\r", "in side" }, { "", "" }, { " \t ", "" }, { "\xC2\xA0x", "\xC2\xA0x" } };
    for (const auto& [text, trimmed] : rows)
        EXPECT_EQ(trim(text), trimmed) << text;
}

} // namespace
